// Bytes to UTF-8 per ECI designator, straight on the converter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/charsets.h"

namespace {

using quarrow::EciMark;
using quarrow::detail::bytesToUtf8;

std::string conv(const std::string& bytes, const std::vector<EciMark>& ecis, std::string* noteOut = nullptr) {
    std::string note = "stale";
    const std::vector<std::uint8_t> b(bytes.begin(), bytes.end());
    std::string out = bytesToUtf8(b, ecis, note);
    if (noteOut) *noteOut = note;
    else EXPECT_EQ(note, "") << bytes;
    return out;
}

TEST(Charsets, LatinOneWithoutDesignators) {
    EXPECT_EQ(conv("abc\xE9\xFF", {}), "abc\xC3\xA9\xC3\xBF");
    EXPECT_EQ(conv(std::string("a\0b", 3), {}), std::string("a\0b", 3));
    EXPECT_EQ(conv("\xE9", {{3, 0}}), "\xC3\xA9");
}

TEST(Charsets, IsoParts) {
    // ISO-8859-2: 0xA3 L with stroke; -5: 0xBF Cyrillic PE; -7: 0xE1 Greek alpha;
    // -15: 0xA4 euro sign; -16: 0xA4 euro sign too.
    EXPECT_EQ(conv("\xA3", {{4, 0}}), "\xC5\x81");
    EXPECT_EQ(conv("\xBF", {{7, 0}}), "\xD0\x9F");
    EXPECT_EQ(conv("\xE1", {{9, 0}}), "\xCE\xB1");
    EXPECT_EQ(conv("\xA4", {{17, 0}}), "\xE2\x82\xAC");
    EXPECT_EQ(conv("\xA4", {{18, 0}}), "\xE2\x82\xAC");
    EXPECT_EQ(conv("\xE0", {{10, 0}}), "\xD7\x90");  // ISO-8859-8 alef
    EXPECT_EQ(conv("\xFD", {{11, 0}}), "\xC4\xB1");  // ISO-8859-9 dotless i
    // CP437 and Windows-1252.
    EXPECT_EQ(conv("\x80", {{0, 0}}), "\xC3\x87");
    EXPECT_EQ(conv("\x80", {{23, 0}}), "\xE2\x82\xAC");
}

TEST(Charsets, UndefinedBytesAreReplacedAndNoted) {
    std::string note;
    // 0xA5 is not a character of ISO-8859-3.
    EXPECT_EQ(conv("a\xA5", {{5, 0}}, &note), "a\xEF\xBF\xBD");
    EXPECT_NE(note.find("ECI 5"), std::string::npos);
}

TEST(Charsets, SegmentsFollowTheirDesignators) {
    // "A" in ISO-8859-1, then Greek alpha in ISO-8859-7, then UTF-8 e-acute.
    EXPECT_EQ(conv("\xE9\xE1\xC3\xA9", {{9, 1}, {26, 2}}), "\xC3\xA9\xCE\xB1\xC3\xA9");
    // Marks out of order and past the end are tolerated.
    EXPECT_EQ(conv("\xE1\xE9", {{26, 5}, {9, 0}}), "\xCE\xB1\xCE\xB9");
}

TEST(Charsets, Utf8IsValidated) {
    EXPECT_EQ(conv("\xE2\x82\xAC\xF0\x9F\x98\x80", {{26, 0}}), "\xE2\x82\xAC\xF0\x9F\x98\x80");
    std::string note;
    EXPECT_EQ(conv("a\xC3", {{26, 0}}, &note), "a\xEF\xBF\xBD");
    EXPECT_NE(note.find("UTF-8"), std::string::npos);
    EXPECT_EQ(conv("\xC0\xAF", {{26, 0}}, &note), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
    EXPECT_EQ(conv("\xED\xA0\x80", {{26, 0}}, &note), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(conv("\xF4\x90\x80\x80", {{26, 0}}, &note).substr(0, 3), "\xEF\xBF\xBD");  // past U+10FFFF
}

TEST(Charsets, ShiftJis) {
    // 0x93FA 0x967B = "Japan" in kanji, 0xB1 half-width katakana A, ASCII.
    EXPECT_EQ(conv("\x93\xFA\x96\x7B\xB1x", {{20, 0}}), "\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBD\xB1x");
    std::string note;
    EXPECT_EQ(conv("\x93", {{20, 0}}, &note), "\xEF\xBF\xBD");
    EXPECT_NE(note.find("Shift JIS"), std::string::npos);
}

TEST(Charsets, WideUnicodeForms) {
    EXPECT_EQ(conv(std::string("\x00\x41\xD8\x3D\xDE\x00", 6), {{25, 0}}), "A\xF0\x9F\x98\x80");
    EXPECT_EQ(conv(std::string("\x41\x00", 2), {{33, 0}}), "A");
    EXPECT_EQ(conv(std::string("\x00\x01\xF6\x00", 4), {{34, 0}}), "\xF0\x9F\x98\x80");
    std::string note;
    conv(std::string("\x00\x41\x42", 3), {{25, 0}}, &note);
    EXPECT_NE(note, "");
}

// "Middle" (U+4E2D) in each Chinese set, "Korean" first syllable (U+D55C)
// in KS X 1001, and a four-byte GB 18030 sequence (U+20000).
TEST(Charsets, ChineseJapaneseAndKoreanSets) {
    EXPECT_EQ(conv("\xA4\xA4", {{28, 0}}), "\xE4\xB8\xAD");
    for (int eci : {29, 31, 32}) EXPECT_EQ(conv("\xD6\xD0", {{eci, 0}}), "\xE4\xB8\xAD") << eci;
    EXPECT_EQ(conv("\xC7\xD1", {{30, 0}}), "\xED\x95\x9C");
    EXPECT_EQ(conv("\x95\x32\x82\x36", {{32, 0}}), "\xF0\xA0\x80\x80");
    std::string note;
    EXPECT_EQ(conv("\xE9", {{28, 0}}, &note), "\xEF\xBF\xBD");  // a lead byte with nothing after it
    EXPECT_NE(note.find("ECI 28 (Big5)"), std::string::npos) << note;
}

TEST(Charsets, UnknownAndBinaryKeepLatinOneAndSaySo) {
    std::string note;
    EXPECT_EQ(conv("\xE9", {{14, 0}}, &note), "\xC3\xA9");
    EXPECT_NE(note.find("ECI 14 is not known"), std::string::npos);
    EXPECT_EQ(conv("\xE9", {{899, 0}}, &note), "\xC3\xA9");
    EXPECT_NE(note.find("binary"), std::string::npos);
    EXPECT_EQ(conv("\xE9", {{27, 0}}, &note), "\xEF\xBF\xBD");
    EXPECT_NE(note.find("ASCII"), std::string::npos);
    // A designator with no bytes after it says nothing.
    EXPECT_EQ(conv("ab", {{28, 2}}, &note), "ab");
    EXPECT_EQ(note, "");
}

}  // namespace
