// Text decoding through the character modes: latches, shifts, binary
// shift, two-byte punctuation, FLG(n) for FNC1 and ECI, and the ends of
// the bit list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/galois_field.h"
#include "decode/rs_test_util.h"
#include "decode/text_decoder.h"

namespace {

using quarrow_test::BitsBuilder;

// Upper/lower/mixed/punctuation codes are 5 bits, digit codes 4.
constexpr int U = 5, D = 4;
constexpr std::int32_t kPS = 0, kLL = 28, kML = 29, kDL = 30, kBS = 31, kPL = 30, kUL_P = 31, kUS_D = 15;

std::string text(const BitsBuilder& b) {
    const auto out = Aztec::decodeText(b.build());
    return std::string(out.bytes.begin(), out.bytes.end());
}

TEST(TextDecoder, ModesLatchesAndShifts) {
    struct Case { const char* name; BitsBuilder bits; std::string want; };
    const Case cases[] = {
        {"empty", BitsBuilder(), ""},
        {"upper", BitsBuilder().codes({2, 3, 4}, U), "ABC"},
        {"space", BitsBuilder().codes({1, 27}, U), " Z"},
        {"lower latch", BitsBuilder().codes({kLL, 2, 3}, U), "ab"},
        {"upper shift from lower", BitsBuilder().codes({kLL, 2, 28, 2, 3}, U), "aAb"},
        {"digits", BitsBuilder().add(kDL, U).codes({2, 3, kUS_D}, D).add(2, U).add(4, D), "01A2"},
        {"digit punctuation", BitsBuilder().add(kDL, U).codes({1, 12, 13, 11}, D), " ,.9"},
        {"digit back to upper", BitsBuilder().add(kDL, U).codes({3, 14}, D).add(3, U), "1B"},
        {"punct shift", BitsBuilder().codes({kPS, 3, 2}, U), ". A"},
        {"mixed then punct latch", BitsBuilder().codes({kML, kPL, 2, 2}, U), "\r\n\r\n"},
        {"two-byte punctuation", BitsBuilder().codes({kML, kPL, 3, 4, 5, 1}, U), ". , : \r"},
        {"punct back to upper", BitsBuilder().codes({kML, kPL, 6, kUL_P, 2}, U), "!A"},
        {"mixed controls", BitsBuilder().codes({kML, 2, 15, 20, 27, 28, 2}, U), "\x01\x1b@\x7f" "a"},
        {"mixed to upper", BitsBuilder().codes({kML, 21, 29, 26}, U), "\\Y"},
        {"lower to digit", BitsBuilder().codes({kLL, kDL}, U).add(5, D), "3"},
        {"punct shift from digit", BitsBuilder().add(kDL, U).add(0, D).add(26, U).add(4, D), "?2"},
        {"final fragment ignored", BitsBuilder().codes({2, 3}, U).add(1, 4), "AB"},
        {"digit fragment ignored", BitsBuilder().add(kDL, U).add(4, D).add(1, 3), "2"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(c.bits), c.want) << c.name;
}

TEST(TextDecoder, BinaryShift) {
    EXPECT_EQ(text(BitsBuilder().add(kBS, U).add(2, 5).codes({0xC3, 0xA9}, 8).add(2, U)), "\xC3\xA9" "A");
    // Count 0: an 11-bit count + 31 follows; 32 bytes of 0x00..0x1F.
    BitsBuilder longRun;
    longRun.add(kBS, U).add(0, 5).add(1, 11);
    std::string want;
    for (int i = 0; i < 32; ++i) {
        longRun.add(i, 8);
        want += static_cast<char>(i);
    }
    longRun.add(3, U);
    EXPECT_EQ(text(longRun), want + "B");
    // A count beyond the end gives only the complete bytes that remain.
    EXPECT_EQ(text(BitsBuilder().add(kBS, U).add(5, 5).codes({0x41, 0x80}, 8).add(3, 4)), "A\x80");
    // Binary shift from lower returns to lower.
    EXPECT_EQ(text(BitsBuilder().codes({kLL, kBS, 1}, U).add(0, 8).add(4, U)), std::string("\0c", 2));
}

TEST(TextDecoder, OutputIsNotLimitedByTheBitCount) {
    // A punctuation latch followed by CR LF and ". " codes: two bytes per
    // five bits, more than 2 * floor(bits / 6) bytes.
    BitsBuilder b;
    b.codes({kML, kPL}, U);
    std::string want;
    for (int i = 0; i < 400; ++i) {
        b.add(i % 2 ? 2 : 3, U);
        want += i % 2 ? "\r\n" : ". ";
    }
    EXPECT_EQ(text(b), want);
}

TEST(TextDecoder, FlagFnc1) {
    // FLG(0) first: GS1 data, no byte.
    auto first = Aztec::decodeText(BitsBuilder().add(kPS, U).add(0, U).add(0, 3).codes({2, 3}, U).build());
    EXPECT_TRUE(first.gs1);
    EXPECT_EQ(std::string(first.bytes.begin(), first.bytes.end()), "AB");
    // Elsewhere FNC1 is the group separator.
    auto later = Aztec::decodeText(
        BitsBuilder().add(2, U).add(kPS, U).add(0, U).add(0, 3).add(3, U).build());
    EXPECT_FALSE(later.gs1);
    EXPECT_EQ(std::string(later.bytes.begin(), later.bytes.end()), "A\x1d" "B");
    // Two FNC1 at the start: GS1, then a separator.
    auto twice = Aztec::decodeText(
        BitsBuilder().codes({kML, kPL}, U).add(0, U).add(0, 3).add(0, U).add(0, 3).add(6, U).build());
    EXPECT_TRUE(twice.gs1);
    EXPECT_EQ(std::string(twice.bytes.begin(), twice.bytes.end()), "\x1d!");
}

// FNC1 after one letter or two digits marks an application indicator; the
// separator stays in the bytes (as the runtime component returns them) and
// its index is kept. After three characters it is an ordinary separator.
TEST(TextDecoder, Fnc1InSecondPosition) {
    const auto fnc1 = [](BitsBuilder& b) { return b.add(kPS, U).add(0, U).add(0, 3); };
    BitsBuilder letter = BitsBuilder().add(2, U);
    const auto a = Aztec::decodeText(fnc1(letter).add(3, U).build());
    EXPECT_EQ(a.fnc1SecondAt, 1);
    EXPECT_EQ(std::string(a.bytes.begin(), a.bytes.end()), "A\x1d" "B");
    // Two digits: P/S is code 0 of the digit table too.
    BitsBuilder digits = BitsBuilder().add(kDL, U).codes({3, 4}, D).add(0, D).add(0, U).add(0, 3).add(5, D);
    EXPECT_EQ(Aztec::decodeText(digits.build()).fnc1SecondAt, 2);
    BitsBuilder three = BitsBuilder().codes({2, 3, 4}, U);
    EXPECT_EQ(Aztec::decodeText(fnc1(three).build()).fnc1SecondAt, -1);
    // Behind a structured-append header (mixed then upper latch, "AB").
    BitsBuilder part = BitsBuilder().codes({kML, 29, 2, 3, 4}, U);
    const auto p = Aztec::decodeText(fnc1(part).add(5, U).build());
    EXPECT_EQ(p.structuredAppend.count, 2);
    EXPECT_EQ(p.structuredAppend.headerBytes, 2u);
    EXPECT_EQ(p.fnc1SecondAt, 3);
}

TEST(TextDecoder, StructuredAppendHeaders) {
    struct Case { std::vector<std::int32_t> upperCodes; int index, count; const char* id; std::size_t header; };
    // Upper codes: 1 space, 2.. letters A..
    const Case cases[] = {
        {{2, 3, 9}, 1, 2, "", 2},           // "AB" then data
        {{1, 10, 11, 1, 3, 27, 9}, 2, 26, "IJ", 6},  // " IJ BZ"
        {{3, 2}, 0, 0, "", 0},               // position past the count
        {{2}, 0, 0, "", 0},                  // cut short
        {{1, 10, 11, 3, 4}, 0, 0, "", 0},    // an ID without its closing space
    };
    for (const Case& c : cases) {
        BitsBuilder b = BitsBuilder().codes({kML, 29}, U);
        for (std::int32_t code : c.upperCodes) b.add(code, U);
        const auto out = Aztec::decodeText(b.build());
        EXPECT_EQ(out.structuredAppend.index, c.index);
        EXPECT_EQ(out.structuredAppend.count, c.count);
        EXPECT_EQ(out.structuredAppend.id, c.id);
        EXPECT_EQ(out.structuredAppend.headerBytes, c.header);
        EXPECT_EQ(out.bytes.size(), c.upperCodes.size());  // the header stays in the bytes
    }
    // The same letters without the latches are plain data.
    EXPECT_EQ(Aztec::decodeText(BitsBuilder().codes({2, 3}, U).build()).structuredAppend.count, 0);
}

TEST(TextDecoder, FlagEci) {
    // FLG(2) 2 6 then "A" in upper; FLG(1) 3 after it.
    const auto out = Aztec::decodeText(BitsBuilder()
                                           .add(kPS, U).add(0, U).add(2, 3).codes({2 + 2, 2 + 6}, D)
                                           .add(2, U)
                                           .add(kPS, U).add(0, U).add(1, 3).add(2 + 3, D)
                                           .add(3, U)
                                           .build());
    EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), "AB");
    EXPECT_FALSE(out.gs1);
    ASSERT_EQ(out.ecis.size(), 2u);
    EXPECT_EQ(out.ecis[0].eci, 26);
    EXPECT_EQ(out.ecis[0].position, 0u);
    EXPECT_EQ(out.ecis[1].eci, 3);
    EXPECT_EQ(out.ecis[1].position, 1u);
    // Six digits, the most a flag carries.
    const auto big = Aztec::decodeText(
        BitsBuilder().add(kPS, U).add(0, U).add(6, 3).codes({2 + 8, 2 + 1, 2 + 1, 2 + 0, 2 + 0, 2 + 9}, D).build());
    ASSERT_EQ(big.ecis.size(), 1u);
    EXPECT_EQ(big.ecis[0].eci, 811009);
}

TEST(TextDecoder, InvalidFlagsThrow) {
    using Aztec::ReedSolomon::IllegalSymbolException;
    // FLG(7) is reserved.
    EXPECT_THROW(Aztec::decodeText(BitsBuilder().add(kPS, U).add(0, U).add(7, 3).add(2, U).build()),
                 IllegalSymbolException);
    // A digit code that is not a digit (12 is ',').
    EXPECT_THROW(Aztec::decodeText(BitsBuilder().add(kPS, U).add(0, U).add(2, 3).codes({2 + 1, 12}, D).add(0, 4).build()),
                 IllegalSymbolException);
}

TEST(TextDecoder, ReadBitsWrapsAndAdvances) {
    const auto bits = BitsBuilder().add(0b1011, 4).build();
    std::int64_t pos = 0;
    EXPECT_EQ(Aztec::readBits(bits, pos, 3), 0b101);
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(Aztec::readBits(bits, pos, 3), 0b110);  // wraps to the start
    EXPECT_EQ(pos, 6);
}

}  // namespace
