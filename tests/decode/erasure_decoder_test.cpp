// Errors-and-erasures decoding against random codewords, within and beyond
// what the check words allow, and the codewords' layout in the module
// matrix against libzint symbols.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>

#include "decode/codeword_layout.h"
#include "decode/data_codewords.h"
#include "decode/erasure_decoder.h"
#include "decode/mode_message.h"
#include "decode/rs_test_util.h"
#include "support/grid_reading.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;
using Aztec::ReedSolomon::GenericGF;

TEST(ErasureDecoder, CorrectsWithinTheBoundAndNeverAcceptsBeyondIt) {
    struct Case {
        GenericGF* field;
        int n, twoS, errors, erasures, spare;
        bool withinBound;
    };
    GenericGF& f6 = Aztec::ReedSolomon::fieldData6();
    GenericGF& f8 = Aztec::ReedSolomon::fieldData8();
    GenericGF& f10 = Aztec::ReedSolomon::fieldData10();
    const Case cases[] = {
        {&f6, 20, 8, 0, 8, 0, true},    {&f6, 20, 8, 2, 4, 0, true},   {&f6, 20, 8, 1, 4, 2, true},
        {&f6, 40, 12, 3, 4, 2, true},   {&f8, 60, 20, 9, 2, 0, true},  {&f8, 60, 20, 4, 10, 2, true},
        {&f10, 120, 30, 6, 16, 2, true}, {&f8, 30, 10, 0, 0, 0, true},
        // Beyond: more errors than the erasures leave room for.
        {&f6, 20, 8, 3, 4, 0, false},   {&f6, 20, 8, 2, 4, 2, false},  {&f8, 60, 20, 8, 6, 2, false},
        {&f8, 30, 10, 10, 0, 2, false}, {&f10, 120, 30, 12, 8, 2, false},
    };
    std::mt19937 rng(5);
    for (const Case& c : cases) {
        SCOPED_TRACE("n " + std::to_string(c.n) + " 2S " + std::to_string(c.twoS) + " errors " + std::to_string(c.errors) +
                     " erasures " + std::to_string(c.erasures) + " spare " + std::to_string(c.spare));
        GenericGF& f = *c.field;
        f.ensureInitialised();
        for (int trial = 0; trial < 200; ++trial) {
            std::vector<std::int32_t> data(static_cast<std::size_t>(c.n - c.twoS));
            for (auto& d : data) d = static_cast<std::int32_t>(rng() % static_cast<unsigned>(f.size()));
            const auto original = rsEncode(f, data, c.twoS);
            std::vector<int> order(static_cast<std::size_t>(c.n));
            std::iota(order.begin(), order.end(), 0);
            std::shuffle(order.begin(), order.end(), rng);
            auto received = original;
            std::vector<std::int32_t> erasures;
            for (int i = 0; i < c.errors + c.erasures; ++i) {
                const auto pos = static_cast<std::size_t>(order[static_cast<std::size_t>(i)]);
                if (i < c.errors) {
                    received[pos] ^= 1 + static_cast<std::int32_t>(rng() % static_cast<unsigned>(f.size() - 1));
                } else {
                    // An erased word may or may not be wrong.
                    if (rng() % 2) received[pos] ^= 1 + static_cast<std::int32_t>(rng() % static_cast<unsigned>(f.size() - 1));
                    erasures.push_back(static_cast<std::int32_t>(pos));
                }
            }
            auto block = received;
            const auto changed = Aztec::ReedSolomon::correctWithErasures(f, block, c.twoS, erasures, c.spare);
            if (c.withinBound) {
                ASSERT_TRUE(changed.has_value());
                ASSERT_EQ(block, original);
                int differ = 0;
                for (std::size_t i = 0; i < block.size(); ++i) differ += block[i] != received[i];
                EXPECT_EQ(*changed, differ);
                continue;
            }
            if (!changed) {
                EXPECT_EQ(block, received);  // untouched
                continue;
            }
            // Anything accepted is a codeword that the bound allows: few
            // enough changes outside the erasures.
            ASSERT_TRUE(isCodeword(f, block, c.twoS));
            int outside = 0;
            for (std::size_t i = 0; i < block.size(); ++i)
                if (block[i] != received[i] &&
                    std::find(erasures.begin(), erasures.end(), static_cast<std::int32_t>(i)) == erasures.end())
                    ++outside;
            EXPECT_LE(2 * outside + c.erasures, c.twoS - c.spare);
        }
    }
}

TEST(ErasureDecoder, RefusesImpossibleRequests) {
    GenericGF& f = Aztec::ReedSolomon::fieldData6();
    auto block = rsEncode(f, {1, 2, 3, 4}, 6);
    block[0] ^= 5;
    const auto before = block;
    // More erasures than check words less the spare ones, a position off
    // the block, and a word outside the field.
    EXPECT_FALSE(Aztec::ReedSolomon::correctWithErasures(f, block, 6, {0, 1, 2, 3, 4}, 2));
    EXPECT_FALSE(Aztec::ReedSolomon::correctWithErasures(f, block, 6, {10}, 0));
    auto bad = block;
    bad[1] = 64;
    EXPECT_FALSE(Aztec::ReedSolomon::correctWithErasures(f, bad, 6, {0}, 0));
    EXPECT_EQ(block, before);
}

// The layout's codewords of an undamaged symbol form a codeword, and the
// bits of one codeword flipped through the layout are one word to correct.
TEST(CodewordLayout, MatchesTheDecodersWalkOnLibzintSymbols) {
    struct Case {
        std::string data;
        int size;  // 0: libzint's choice; 1-4 compact layers, 5+ full-range
        int turns;
        bool mirror;
    };
    const Case cases[] = {
        {"HELLO", 1, 0, false},       {"compact, turned and mirrored", 3, 1, true},
        {"full-range 1234567890", 6, 2, false},
        {std::string(300, 'x'), 0, 3, true},  // reference grid lines inside the data
        {std::string(900, '7'), 0, 1, false},
    };
    std::mt19937 rng(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.substr(0, 20));
        ModuleGrid g;
        EncodeOptions o;
        o.size = c.size;
        ASSERT_TRUE(encodeAztec(c.data, o, g));
        g = transformGrid(g, c.turns, c.mirror);
        AztecCore::SymbolCandidate cand;
        cand.type = bullseyeType(g);
        ASSERT_TRUE(Aztec::decodeModeMessage(cand, ringBits(g, cand.type)));
        const auto matrix = moduleMatrix(g);
        const auto layout = Aztec::codewordModules(cand);
        ASSERT_EQ(layout.size(), static_cast<std::size_t>(cand.totalWords * cand.wordBits));
        std::vector<std::int32_t> words(static_cast<std::size_t>(cand.totalWords));
        for (std::size_t k = 0; k < words.size(); ++k)
            for (int b = 0; b < cand.wordBits; ++b) {
                const auto& p = layout[k * static_cast<std::size_t>(cand.wordBits) + static_cast<std::size_t>(b)];
                words[k] = (words[k] << 1) | (matrix[static_cast<std::size_t>(p[0])].get(p[1]) ? 1 : 0);
            }
        GenericGF& f = cand.wordBits == 6 ? Aztec::ReedSolomon::fieldData6()
                       : cand.wordBits == 8 ? Aztec::ReedSolomon::fieldData8()
                       : cand.wordBits == 10 ? Aztec::ReedSolomon::fieldData10()
                                             : Aztec::ReedSolomon::fieldData12();
        EXPECT_TRUE(isCodeword(f, words, cand.totalWords - cand.dataWords));
        for (int trial = 0; trial < 5; ++trial) {
            // Every bit of one codeword flipped: one word to correct.
            auto damaged = matrix;
            const std::size_t k = rng() % words.size();
            for (int b = 0; b < cand.wordBits; ++b) {
                const auto& p = layout[k * static_cast<std::size_t>(cand.wordBits) + static_cast<std::size_t>(b)];
                damaged[static_cast<std::size_t>(p[0])].set(p[1], !damaged[static_cast<std::size_t>(p[0])].get(p[1]));
            }
            const auto decoded = Aztec::decodeData(cand, damaged);
            ASSERT_TRUE(decoded.has_value());
            EXPECT_EQ(decoded->correctedWords, 1);
            EXPECT_EQ(std::string(decoded->text.bytes.begin(), decoded->text.bytes.end()), c.data);
        }
    }
}

}  // namespace
