// Codeword correction and bit unstuffing, and decodeData's refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/data_codewords.h"
#include "decode/galois_field.h"
#include "decode/rs_test_util.h"

namespace {

using Aztec::BitList;
using AztecCore::SymbolCandidate;
using AztecCore::SymbolType;
using quarrow_test::BitsBuilder;

SymbolCandidate plainCandidate(int dataWords, int totalWords, int wordBits, int bitOffset = 0) {
    SymbolCandidate c;
    c.type = SymbolType::Compact;
    c.dataWords = dataWords;
    c.totalWords = totalWords;
    c.wordBits = wordBits;
    c.bitOffset = bitOffset;
    return c;
}

Aztec::ReedSolomon::GenericGF& fieldOf(int wordBits) {
    using namespace Aztec::ReedSolomon;
    return wordBits == 6 ? fieldData6() : wordBits == 8 ? fieldData8() : wordBits == 10 ? fieldData10() : fieldData12();
}

// The words followed by the fewest check words a symbol may carry.
BitList withCheckWords(const std::vector<std::int32_t>& data, int wordBits) {
    BitsBuilder b;
    for (std::int32_t w : quarrow_test::rsEncode(fieldOf(wordBits), data, Aztec::kMinCheckWords)) b.add(w, wordBits);
    return b.build();
}

std::string bitString(const BitList& b) {
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) s += b.get(static_cast<std::int64_t>(i)) ? '1' : '0';
    return s;
}

TEST(Unstuffing, SixBitExamples) {
    struct Case { std::int32_t word; const char* out; };
    const Case cases[] = {
        {0b000001, "00000"}, {0b111110, "11111"}, {0b010101, "010101"}, {0b100000, "100000"}, {0b000010, "000010"},
    };
    for (const Case& c : cases) {
        const auto r = Aztec::correctData(withCheckWords({c.word}, 6), plainCandidate(1, 4, 6));
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(bitString(*r), c.out) << c.word;
    }
    // Removed bits shorten the list: nothing trails the real data.
    const auto r = Aztec::correctData(withCheckWords({0b000001, 0b010101, 0b111110}, 6), plainCandidate(3, 6, 6));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(bitString(*r), "0000001010111111");
}

TEST(Unstuffing, AllEqualWordsAreIllegal) {
    for (int bits : {6, 8, 10, 12}) {
        for (std::int32_t word : {0, (1 << bits) - 1}) {
            const BitList raw = withCheckWords({0b0101, word}, bits);
            try {
                Aztec::correctData(raw, plainCandidate(2, 5, bits));
                ADD_FAILURE() << "accepted " << word;
            } catch (const Aztec::ReedSolomon::IllegalSymbolException& e) {
                EXPECT_STREQ(e.what(), "Illegal series of bits");
            }
        }
    }
}

TEST(CorrectData, ImpossibleCountsGiveNothing) {
    const BitList raw = BitsBuilder().codes({1, 2, 3}, 6).build();
    EXPECT_FALSE(Aztec::correctData(raw, plainCandidate(0, 3, 6)));
    EXPECT_FALSE(Aztec::correctData(raw, plainCandidate(2, 3, 0)));
    Aztec::lastErrorCount = 42;
    EXPECT_FALSE(Aztec::correctData(raw, plainCandidate(4, 3, 6)));
    EXPECT_EQ(Aztec::lastErrorCount.load(), 42);
}

// A mode message damaged into claiming (almost) every word as data would
// let unchecked modules through: fewer than three check words are refused
// even when the words happen to be consistent.
TEST(CorrectData, TooFewCheckWordsAreRefused) {
    const std::vector<std::int32_t> data{0b010101, 0b101010, 0b011001};
    for (int check = 0; check < Aztec::kMinCheckWords; ++check) {
        BitsBuilder b;
        for (std::int32_t w : quarrow_test::rsEncode(fieldOf(6), data, check)) b.add(w, 6);
        EXPECT_FALSE(Aztec::correctData(b.build(), plainCandidate(3, 3 + check, 6))) << check;
    }
    EXPECT_TRUE(Aztec::correctData(withCheckWords(data, 6), plainCandidate(3, 3 + Aztec::kMinCheckWords, 6)));
}

TEST(CorrectData, CorrectsInTheFieldOfTheWordSizeAndCounts) {
    struct Case { int wordBits; Aztec::ReedSolomon::GenericGF& (*field)(); int data, total, offset; };
    const Case cases[] = {{6, Aztec::ReedSolomon::fieldData6, 5, 17, 2}, {8, Aztec::ReedSolomon::fieldData8, 20, 51, 0},
                          {10, Aztec::ReedSolomon::fieldData10, 40, 230, 4},
                          {12, Aztec::ReedSolomon::fieldData12, 30, 60, 8}};
    for (const Case& c : cases) {
        // Data words 0101..., no stuffing needed.
        std::vector<std::int32_t> data(static_cast<std::size_t>(c.data));
        for (int i = 0; i < c.data; ++i) data[static_cast<std::size_t>(i)] = (0x555 & ((1 << c.wordBits) - 1)) ^ (i % 4);
        auto block = quarrow_test::rsEncode(c.field(), data, c.total - c.data);
        const int errors = (c.total - c.data) / 2;
        for (int e = 0; e < errors; ++e) block[static_cast<std::size_t>(2 * e)] ^= 1;
        // The stream starts bitOffset bits in; those bits hold junk.
        BitsBuilder b;
        b.add(0b1011, c.offset);
        for (std::int32_t w : block) b.add(w, c.wordBits);
        std::int32_t corrected = -1;
        const auto r = Aztec::correctData(b.build(), plainCandidate(c.data, c.total, c.wordBits, c.offset), &corrected);
        ASSERT_TRUE(r.has_value()) << c.wordBits;
        EXPECT_EQ(corrected, errors);
        EXPECT_EQ(Aztec::lastErrorCount.load(), errors);
        BitsBuilder want;
        for (std::int32_t w : data) want.add(w, c.wordBits);
        EXPECT_EQ(bitString(*r), bitString(want.build())) << c.wordBits;

        // One error more than the check words allow.
        block[1] ^= 3;
        BitsBuilder worse;
        worse.add(0, c.offset);
        for (std::int32_t w : block) worse.add(w, c.wordBits);
        Aztec::lastErrorCount = 7;
        EXPECT_THROW(Aztec::correctData(worse.build(), plainCandidate(c.data, c.total, c.wordBits, c.offset)),
                     Aztec::ReedSolomon::ReedSolomonException);
        EXPECT_EQ(Aztec::lastErrorCount.load(), 7);
    }
}

TEST(DecodeData, RefusesMissingOrShortMatrices) {
    SymbolCandidate c = plainCandidate(3, 17, 6, 2);
    c.layers = 1;
    c.size = 15;
    EXPECT_FALSE(Aztec::decodeData(c, {}).has_value());
    // Rows shorter than the walk needs fail the checked reads.
    Aztec::ModuleMatrix ragged(15, BitList(5));
    EXPECT_THROW(Aztec::decodeData(c, ragged), std::out_of_range);
    // A blank matrix has all-zero codewords: a clean block whose words are illegal.
    Aztec::ModuleMatrix blank(15, BitList(15));
    EXPECT_FALSE(Aztec::decodeData(c, blank).has_value());
}

}  // namespace
