// Codeword correction and bit unstuffing, and decodeData's refusals.
#include <gtest/gtest.h>

#include <string>

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
        const auto r = Aztec::correctData(BitsBuilder().add(c.word, 6).build(), plainCandidate(1, 1, 6));
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(bitString(*r), c.out) << c.word;
    }
    // Removed bits shorten the list: nothing trails the real data.
    const auto r = Aztec::correctData(BitsBuilder().codes({0b000001, 0b010101, 0b111110}, 6).build(),
                                      plainCandidate(3, 3, 6));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(bitString(*r), "0000001010111111");
}

TEST(Unstuffing, AllEqualWordsAreIllegal) {
    for (int bits : {6, 8, 10, 12}) {
        for (std::int32_t word : {0, (1 << bits) - 1}) {
            const BitList raw = BitsBuilder().add(0b0101, bits).add(word, bits).build();
            try {
                Aztec::correctData(raw, plainCandidate(2, 2, bits));
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
