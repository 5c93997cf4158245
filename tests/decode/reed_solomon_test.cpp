// Reed-Solomon correction with check words built on alpha^1 ... alpha^2S:
// exactly S wrong codewords are corrected; more are refused or, rarely,
// turned into another valid codeword, and never crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "decode/reed_solomon.h"
#include "decode/rs_test_util.h"

namespace {

using namespace Aztec::ReedSolomon;
using quarrow_test::isCodeword;
using quarrow_test::rsEncode;

struct BlockCase {
    const char* name;
    GenericGF& (*field)();
    int dataWords, twoS;
};
const BlockCase kBlocks[] = {
    {"compact mode message", fieldParam, 2, 5},  {"full-range mode message", fieldParam, 4, 6},
    {"6-bit", fieldData6, 9, 8},                  {"6-bit long", fieldData6, 30, 18},
    {"8-bit", fieldData8, 40, 20},                {"10-bit", fieldData10, 199, 31},
    {"12-bit", fieldData12, 120, 24},
};

std::vector<std::int32_t> randomBlock(GenericGF& f, int dataWords, int twoS, std::mt19937& rng) {
    std::uniform_int_distribution<std::int32_t> any(0, f.size() - 1);
    std::vector<std::int32_t> data(static_cast<std::size_t>(dataWords));
    for (auto& d : data) d = any(rng);
    return rsEncode(f, data, twoS);
}

// Puts non-zero errors into `count` distinct random positions.
void corrupt(GenericGF& f, std::vector<std::int32_t>& block, int count, std::mt19937& rng) {
    std::vector<std::size_t> positions(block.size());
    std::iota(positions.begin(), positions.end(), 0);
    std::shuffle(positions.begin(), positions.end(), rng);
    std::uniform_int_distribution<std::int32_t> nonZero(1, f.size() - 1);
    for (int i = 0; i < count; ++i) block[positions[static_cast<std::size_t>(i)]] ^= nonZero(rng);
}

TEST(ReedSolomon, CleanBlocksAndNoCheckWordsChangeNothing) {
    std::mt19937 rng(1);
    for (const BlockCase& c : kBlocks) {
        GenericGF& f = c.field();
        auto block = randomBlock(f, c.dataWords, c.twoS, rng);
        ASSERT_TRUE(isCodeword(f, block, c.twoS)) << c.name;  // the test encoder itself
        const auto original = block;
        EXPECT_EQ(Decoder(f).correct(block, c.twoS), 0) << c.name;
        EXPECT_EQ(block, original);
        auto noisy = block;
        noisy[0] ^= 1;
        const auto noisyCopy = noisy;
        EXPECT_EQ(Decoder(f).correct(noisy, 0), 0);
        EXPECT_EQ(noisy, noisyCopy);
    }
    // An all-zero block with leading zero words is a codeword too.
    std::vector<std::int32_t> zeros(20, 0);
    EXPECT_EQ(Decoder(fieldData8()).correct(zeros, 8), 0);
}

TEST(ReedSolomon, CorrectsUpToHalfTheCheckWords) {
    std::mt19937 rng(2);
    for (const BlockCase& c : kBlocks) {
        GenericGF& f = c.field();
        const int s = c.twoS / 2;
        for (int trial = 0; trial < 12; ++trial) {
            const int errors = trial == 0 ? 1 : s - (trial % 2);  // mostly exactly S
            auto block = randomBlock(f, c.dataWords, c.twoS, rng);
            const auto original = block;
            corrupt(f, block, errors, rng);
            std::int32_t fixed = -1;
            ASSERT_NO_THROW(fixed = Decoder(f).correct(block, c.twoS)) << c.name << " errors " << errors;
            EXPECT_EQ(fixed, errors) << c.name;
            EXPECT_EQ(block, original) << c.name;
        }
    }
}

TEST(ReedSolomon, ErrorsInTheFirstAndLastWordsAreFound) {
    GenericGF& f = fieldData6();
    std::mt19937 rng(3);
    auto block = randomBlock(f, 10, 6, rng);
    const auto original = block;
    block.front() ^= 0x3F;
    block.back() ^= 0x01;
    block[5] ^= 0x20;
    EXPECT_EQ(Decoder(f).correct(block, 6), 3);
    EXPECT_EQ(block, original);
}

TEST(ReedSolomon, TooManyErrorsAreRefusedOrMiscorrectedToACodeword) {
    std::mt19937 rng(4);
    int refused = 0, miscorrected = 0, trials = 0;
    for (const BlockCase& c : kBlocks) {
        GenericGF& f = c.field();
        const int s = c.twoS / 2;
        for (int trial = 0; trial < 30; ++trial) {
            auto block = randomBlock(f, c.dataWords, c.twoS, rng);
            const auto original = block;
            corrupt(f, block, s + 1 + trial % 3, rng);
            ++trials;
            try {
                Decoder(f).correct(block, c.twoS);
                // Accepted: it must then be a codeword, and not the original.
                EXPECT_TRUE(isCodeword(f, block, c.twoS)) << c.name;
                EXPECT_NE(block, original);
                ++miscorrected;
            } catch (const ReedSolomonException&) {
                ++refused;
            } catch (const std::exception& e) {
                ADD_FAILURE() << c.name << ": unexpected failure " << e.what();
            }
        }
    }
    EXPECT_EQ(refused + miscorrected, trials);
    EXPECT_LT(miscorrected, trials / 5) << "refused " << refused << ", miscorrected " << miscorrected;
    RecordProperty("miscorrected", miscorrected);
}

TEST(ReedSolomon, NonCodewordWithNoLocatedErrorIsRefused) {
    // A block whose syndromes are not all zero must never come back as
    // clean. Check words built for the roots alpha^0 ... alpha^(2S-1) give
    // such blocks: the decoder must refuse or repair them into a codeword
    // of its own code, not report 0 corrections on an unchanged block.
    GenericGF& f = fieldData8();
    std::mt19937 rng(6);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<std::int32_t> block(30);
        for (auto& v : block) v = static_cast<std::int32_t>(rng() % 256);
        if (isCodeword(f, block, 10)) continue;
        try {
            Decoder(f).correct(block, 10);
            EXPECT_TRUE(isCodeword(f, block, 10));
        } catch (const ReedSolomonException&) {
        }
    }
}

// A sound decoder changes at most floor(R / 2) words: any word it accepts
// lies that close to the codeword it returns. With one error more than
// that, the received word is at least (R + 1) / 2 from every other codeword,
// so it must be refused or corrected to a codeword no further than t away,
// never to a distant one. Odd R is where an off-by-one bound shows.
TEST(ReedSolomon, NeverChangesMoreWordsThanHalfTheCheckWords) {
    struct BoundCase {
        GenericGF& (*field)();
        int n, twoS, trials;
    };
    const BoundCase cases[] = {
        {fieldParam, 7, 5, 3000},  {fieldParam, 8, 6, 3000},   {fieldParam, 7, 3, 3000},
        {fieldData6, 17, 3, 3000}, {fieldData6, 17, 4, 3000},  {fieldData6, 21, 7, 2000},
        {fieldData8, 30, 5, 1000}, {fieldData8, 30, 9, 1000},  {fieldData10, 40, 7, 300},
        {fieldData10, 40, 8, 300}, {fieldData12, 40, 5, 100},  {fieldData12, 40, 6, 100},
    };
    std::mt19937 rng(7);
    for (const BoundCase& c : cases) {
        GenericGF& f = c.field();
        const int t = c.twoS / 2;
        int wrong = 0;
        for (int trial = 0; trial < c.trials; ++trial) {
            auto block = randomBlock(f, c.n - c.twoS, c.twoS, rng);
            const auto original = block;
            const int errors = t + trial % 2;  // at t: must be mended; at t + 1: never miscorrected
            corrupt(f, block, errors, rng);
            const auto received = block;
            try {
                Decoder(f).correct(block, c.twoS);
            } catch (const ReedSolomonException&) {
                EXPECT_GT(errors, t) << "n " << c.n << " R " << c.twoS;
                continue;
            }
            int changed = 0;
            for (std::size_t k = 0; k < block.size(); ++k) changed += block[k] != received[k];
            if (changed > t || (errors <= t && block != original)) ++wrong;
        }
        EXPECT_EQ(wrong, 0) << "field " << f.size() << " n " << c.n << " R " << c.twoS;
    }
}

}  // namespace
