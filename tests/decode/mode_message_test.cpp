// Mode message: orientation marks, extraction in every rotation and mirror
// image, correction of wrong words, and the layer tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "decode/mode_message.h"
#include "decode/rs_test_util.h"
#include "support/grid_reading.h"
#include "support/zint_symbol.h"

namespace {

using Aztec::BitList;
using AztecCore::SymbolCandidate;
using AztecCore::SymbolType;
using namespace quarrow_test;

// Ring position of bit b of the mode message, rotation 0, not mirrored.
int modeBitPosition(bool compact, int b) {
    if (compact) return 2 + 10 * (b / 7) + b % 7;
    const int side = b / 10, j = b % 10;
    return 2 + 14 * side + (j < 5 ? j : j + 1);
}

// A ring seen at rotation 0, not mirrored, carrying the given fields.
BitList makeRing(bool compact, int layersField, int dataField) {
    const int n = compact ? 40 : 56, q = n / 4;
    const int dataWords = compact ? 2 : 4, twoS = compact ? 5 : 6;
    const std::int32_t value = compact ? (layersField << 6) | dataField : (layersField << 11) | dataField;
    std::vector<std::int32_t> words;
    for (int w = dataWords - 1; w >= 0; --w) words.push_back((value >> (4 * w)) & 0xF);
    words = rsEncode(Aztec::ReedSolomon::fieldParam(), words, twoS);
    BitList ring(static_cast<std::size_t>(n));
    for (int b = 0; b < 4 * static_cast<int>(words.size()); ++b) {
        ring.set(modeBitPosition(compact, b), ((words[static_cast<std::size_t>(b / 4)] >> (3 - b % 4)) & 1) != 0);
    }
    // Orientation marks: 3, 2, 1 and 0 dark modules round the corners.
    const int marks[4] = {3, 2, 1, 0};
    for (int k = 0; k < 4; ++k) {
        for (int d = -1; d < marks[k] - 1; ++d) ring.set(k * q + d, true);
    }
    return ring;
}

TEST(ModeMessage, OrientationTable) {
    struct Row { std::array<int, 4> counts; int rotation; bool mirrored; };
    const Row rows[] = {
        {{3, 2, 1, 0}, 0, false}, {{0, 3, 2, 1}, 1, false}, {{1, 0, 3, 2}, 2, false}, {{2, 1, 0, 3}, 3, false},
        {{2, 3, 0, 1}, 0, true},  {{3, 0, 1, 2}, 1, true},  {{0, 1, 2, 3}, 2, true},  {{1, 2, 3, 0}, 3, true},
    };
    for (int n : {40, 56}) {
        for (const Row& r : rows) {
            BitList ring(static_cast<std::size_t>(n));
            for (int k = 0; k < 4; ++k) {
                // Spread the dark marks differently over the three modules.
                const int order[3] = {1, -1, 0};
                for (int i = 0; i < r.counts[static_cast<std::size_t>(k)]; ++i) ring.set(k * (n / 4) + order[i], true);
            }
            SymbolCandidate cand;  // type None: orientation is stored, then refused
            cand.rotation = 9;
            EXPECT_FALSE(Aztec::decodeModeMessage(cand, ring));
            EXPECT_EQ(cand.rotation, r.rotation);
            EXPECT_EQ(cand.mirrored, r.mirrored);
        }
        // Counts that match no row leave the candidate alone.
        BitList ring(static_cast<std::size_t>(n));
        ring.set(0, true);
        SymbolCandidate cand;
        cand.type = SymbolType::Compact;
        cand.rotation = 9;
        EXPECT_FALSE(Aztec::decodeModeMessage(cand, ring));
        EXPECT_EQ(cand.rotation, 9);
    }
}

TEST(ModeMessage, ReversedReadingIsMirrored) {
    // 3, 2, 1, 0 read the other way round from the same corner is 3, 0, 1, 2.
    BitList ring = makeRing(true, 1, 5);
    BitList reversed(40);
    for (int i = 0; i < 40; ++i) reversed.set(i, ring.get(-i));
    SymbolCandidate cand;
    cand.type = SymbolType::Compact;
    ASSERT_TRUE(Aztec::decodeModeMessage(cand, reversed));
    EXPECT_EQ(cand.rotation, 1);
    EXPECT_TRUE(cand.mirrored);
}

TEST(ModeMessage, FieldsComeFromTheLayerTables) {
    struct Case { bool compact; int layersField, dataField; int layers, dataWords, size, wordBits, totalWords, bitOffset; };
    const Case cases[] = {
        {true, 0, 0, 1, 1, 15, 6, 17, 2},        {true, 0, 9, 1, 10, 15, 6, 17, 2},
        {true, 3, 63, 4, 64, 27, 8, 76, 0},      {false, 0, 0, 1, 1, 19, 6, 21, 2},
        {false, 8, 200, 9, 201, 53, 10, 230, 4}, {false, 31, 1663, 32, 1664, 151, 12, 1664, 0},
        {true, 0, 16, 1, 17, 15, 6, 17, 2},      // every word data: taken here, refused when decoding
    };
    for (const Case& c : cases) {
        SymbolCandidate cand;
        cand.type = c.compact ? SymbolType::Compact : SymbolType::FullRange;
        ASSERT_TRUE(Aztec::decodeModeMessage(cand, makeRing(c.compact, c.layersField, c.dataField)));
        EXPECT_EQ(cand.rotation, 0);
        EXPECT_FALSE(cand.mirrored);
        EXPECT_EQ(cand.layers, c.layers);
        EXPECT_EQ(cand.dataWords, c.dataWords);
        EXPECT_EQ(cand.size, c.size);
        EXPECT_EQ(cand.wordBits, c.wordBits);
        EXPECT_EQ(cand.totalWords, c.totalWords);
        EXPECT_EQ(cand.bitOffset, c.bitOffset);
    }
}

TEST(ModeMessage, MoreDataWordsThanTheLayersHoldIsRefused) {
    // Correct codewords whose fields no symbol can have: refused, and the
    // candidate keeps its earlier layer facts (no negative check-word share).
    struct Case { bool compact; int layersField, dataField; bool taken; };
    const Case cases[] = {{true, 0, 16, true},   {true, 0, 17, false},      {true, 0, 63, false},
                          {true, 3, 63, true},   {false, 0, 21, false},     {false, 31, 2047, false},
                          {false, 8, 229, true}, {false, 8, 230, false}};
    for (const Case& c : cases) {
        SymbolCandidate cand;
        cand.type = c.compact ? SymbolType::Compact : SymbolType::FullRange;
        EXPECT_EQ(Aztec::decodeModeMessage(cand, makeRing(c.compact, c.layersField, c.dataField)), c.taken)
            << c.compact << " " << c.layersField << " " << c.dataField;
        if (!c.taken) {
            EXPECT_EQ(cand.layers, 0);
        }
    }
}

TEST(ModeMessage, LayerTablesMatchTheLayerGeometry) {
    // bitOffset = bits in the layers - totalWords * wordBits, the layers of
    // a side M holding 8 (S - 2) bits each for S = M, M - 4, ...
    auto layerBits = [](int m, int layers) {
        int bits = 0;
        for (int l = 0, s = m; l < layers; ++l, s -= 4) bits += 8 * (s - 2);
        return bits;
    };
    for (int l = 1; l <= Aztec::kMaxCompactLayers; ++l) {
        const auto& info = Aztec::compactLayerInfo(l);
        EXPECT_EQ(info.size, 11 + 4 * l);
        EXPECT_EQ(info.bitOffset, layerBits(info.size, l) - info.totalWords * info.wordBits) << l;
    }
    for (int l = 1; l <= Aztec::kMaxFullRangeLayers; ++l) {
        const auto& info = Aztec::fullRangeLayerInfo(l);
        const int lines = 2 * (((info.size - 1) / 2) / 16) + 1;
        EXPECT_EQ(info.bitOffset, layerBits(info.size - lines, l) - info.totalWords * info.wordBits) << l;
        EXPECT_EQ(info.wordBits, l <= 2 ? 6 : l <= 8 ? 8 : l <= 22 ? 10 : 12) << l;
    }
    EXPECT_THROW(Aztec::compactLayerInfo(5), std::out_of_range);
    EXPECT_THROW(Aztec::fullRangeLayerInfo(0), std::out_of_range);
}

TEST(ModeMessage, WrongWordsUpToTheLimitAreCorrected) {
    std::mt19937 rng(9);
    for (bool compact : {true, false}) {
        const int words = compact ? 7 : 10, limit = compact ? 2 : 3;
        int refused = 0, wrong = 0;
        for (int trial = 0; trial < 60; ++trial) {
            const int layersField = static_cast<int>(rng() % (compact ? 4 : 32));
            // Only fields a symbol can have (no more data words than it holds).
            const auto& info = compact ? Aztec::compactLayerInfo(layersField + 1) : Aztec::fullRangeLayerInfo(layersField + 1);
            const int dataField = static_cast<int>(rng() % static_cast<unsigned>(std::min(info.totalWords, compact ? 64 : 2048)));
            BitList ring = makeRing(compact, layersField, dataField);
            const int bad = trial < 40 ? 1 + trial % limit : limit + 1 + trial % 2;
            std::vector<int> order(static_cast<std::size_t>(words));
            for (int i = 0; i < words; ++i) order[static_cast<std::size_t>(i)] = i;
            std::shuffle(order.begin(), order.end(), rng);
            for (int i = 0; i < bad; ++i) {
                const int w = order[static_cast<std::size_t>(i)];
                const int flips = 1 + static_cast<int>(rng() % 15);  // non-zero error value
                for (int k = 0; k < 4; ++k) {
                    if ((flips >> k) & 1) {
                        const int pos = modeBitPosition(compact, 4 * w + k);
                        ring.set(pos, !ring.get(pos));
                    }
                }
            }
            SymbolCandidate cand;
            cand.type = compact ? SymbolType::Compact : SymbolType::FullRange;
            bool ok = false;
            ASSERT_NO_THROW(ok = Aztec::decodeModeMessage(cand, ring));
            if (bad <= limit) {
                ASSERT_TRUE(ok) << "compact " << compact << " bad " << bad;
                EXPECT_EQ(cand.layers, layersField + 1);
                EXPECT_EQ(cand.dataWords, dataField + 1);
            } else if (!ok) {
                ++refused;
            } else if (cand.layers != layersField + 1 || cand.dataWords != dataField + 1) {
                ++wrong;
            }
        }
        EXPECT_GE(refused, 10) << "compact " << compact << ", miscorrected " << wrong;
    }
}

TEST(ModeMessage, ZintSymbolsInEveryOrientation) {
    // Compact 1..4 layers and a few full-range sizes, all four rotations,
    // plain and mirrored: position 0 of the ring is always the corner next
    // to corners[0], so each view gives its own rotation.
    for (int size : {1, 2, 3, 4, 5, 9, 20, 36}) {
        ModuleGrid g;
        ASSERT_TRUE(encodeAztec("MODE" + std::to_string(size), {.size = size}, g));
        SymbolCandidate base;
        base.type = bullseyeType(g);
        ASSERT_TRUE(Aztec::decodeModeMessage(base, ringBits(g, base.type)));
        EXPECT_EQ(base.size, g.size);
        EXPECT_EQ(base.layers, size <= 4 ? size : size - 4);
        for (int turns = 0; turns < 4; ++turns) {
            for (bool mirror : {false, true}) {
                const ModuleGrid t = transformGrid(g, turns, mirror);
                SymbolCandidate cand;
                cand.type = base.type;
                ASSERT_TRUE(Aztec::decodeModeMessage(cand, ringBits(t, cand.type)))
                    << "size " << size << " turns " << turns << " mirror " << mirror;
                EXPECT_EQ(cand.mirrored, mirror);
                EXPECT_EQ(cand.layers, base.layers);
                EXPECT_EQ(cand.dataWords, base.dataWords);
                if (!mirror) {
                    EXPECT_EQ(cand.rotation, (base.rotation + turns) % 4);
                }
                // One mode module damaged (module 3 of the first side is a
                // message module on either ring), and put right again.
                const BitList ring = ringBits(t, cand.type);
                BitList damaged = ring;
                damaged.set(3, !damaged.get(3));
                ASSERT_TRUE(Aztec::decodeModeMessage(cand, damaged));
                ASSERT_TRUE(Aztec::correctModeRing(cand, damaged));
                for (std::int64_t i = 0; i < static_cast<std::int64_t>(ring.size()); ++i)
                    ASSERT_EQ(damaged.get(i), ring.get(i)) << "size " << size << " turns " << turns << " mirror " << mirror << " module " << i;
            }
        }
    }
}

// A highlight washes out part of the ring: the modules of some words and of
// a corner's orientation marks read inverted. Where they are the doubtful
// ones (certainty 0, the rest 0.4), up to the check words less the two kept
// spare are put right, in every orientation; past that, with more than
// three doubtful marks, or with the doubt pointing elsewhere, nothing
// decodes.
TEST(ModeMessage, DoubtfulModulesAreErased) {
    struct Case {
        bool compact;
        std::vector<int> words;    // inverted
        std::vector<int> corners;  // their marks inverted
        bool pointed;              // the inverted modules doubtful (else words 6.. and the other corners)
        bool reads;
    };
    const Case cases[] = {
        {true, {0, 1, 2}, {1}, true, true},       {true, {0, 1, 2}, {}, false, false},
        {true, {0, 1, 2, 3}, {}, true, false},    {false, {0, 1, 2, 3}, {2}, true, true},
        {false, {0, 1, 2, 3, 4}, {}, true, false}, {false, {1}, {1, 3}, true, false},
    };
    for (const Case& c : cases) {
        const int n = c.compact ? 40 : 56, q = n / 4;
        const BitList ring = makeRing(c.compact, 1, 5);
        BitList washed = ring;
        std::vector<double> certainty(static_cast<std::size_t>(n), 0.4);
        auto wash = [&](int pos, bool inverted) {
            if (inverted) washed.set(pos, !ring.get(pos));
            if (inverted == c.pointed) certainty[static_cast<std::size_t>((pos % n + n) % n)] = 0.0;
        };
        for (int w = 0; w < (c.compact ? 7 : 10); ++w) {
            const bool inverted = std::count(c.words.begin(), c.words.end(), w) > 0;
            if (inverted || w >= 6)
                for (int b = 0; b < 4; ++b) wash(modeBitPosition(c.compact, 4 * w + b), inverted);
        }
        for (int k = 0; k < 4; ++k) {
            const bool inverted = std::count(c.corners.begin(), c.corners.end(), k) > 0;
            if (inverted || !c.pointed)
                for (int d = -1; d <= 1; ++d) wash(k * q + d, inverted);
        }
        // Every view of the ring: turned a side at a time, and read the
        // other way round.
        for (int turns = 0; turns < 4; ++turns) {
            for (bool mirror : {false, true}) {
                auto from = [&](int i) { return ((mirror ? -i : i) + turns * q + n) % n; };
                BitList seen(static_cast<std::size_t>(n)), truthRing(static_cast<std::size_t>(n));
                std::vector<double> sure(static_cast<std::size_t>(n));
                for (int i = 0; i < n; ++i) {
                    seen.set(i, washed.get(from(i)));
                    truthRing.set(i, ring.get(from(i)));
                    sure[static_cast<std::size_t>(i)] = certainty[static_cast<std::size_t>(from(i))];
                }
                SymbolCandidate truth, cand;
                truth.type = cand.type = c.compact ? SymbolType::Compact : SymbolType::FullRange;
                ASSERT_TRUE(Aztec::decodeModeMessage(truth, truthRing));
                const std::string where = "compact " + std::to_string(c.compact) + " words " +
                                          std::to_string(c.words.size()) + " turns " + std::to_string(turns) +
                                          " mirror " + std::to_string(mirror);
                ASSERT_FALSE(Aztec::decodeModeMessage(cand, seen)) << where;
                ASSERT_EQ(Aztec::decodeModeMessageWithErasures(cand, seen, sure), c.reads) << where;
                if (!c.reads) continue;
                EXPECT_EQ(cand.layers, truth.layers) << where;
                EXPECT_EQ(cand.dataWords, truth.dataWords) << where;
                EXPECT_EQ(cand.rotation, truth.rotation) << where;
                EXPECT_EQ(cand.mirrored, truth.mirrored) << where;
                EXPECT_GE(cand.modeCorrections, 1) << where;
            }
        }
    }
}

TEST(ModeMessage, WordsRoundTrip) {
    BitList bits(12);
    Aztec::writeWords({0x9, 0x0, 0xF}, 3, bits);
    EXPECT_EQ(Aztec::readWords(bits, 0, 3, 4), (std::vector<std::int32_t>{0x9, 0x0, 0xF}));
    EXPECT_EQ(Aztec::readWords(bits, 0, 2, 6), (std::vector<std::int32_t>{0x24, 0x0F}));
    // Reads wrap round the end of the list.
    EXPECT_EQ(Aztec::readWords(bits, 8, 2, 4), (std::vector<std::int32_t>{0xF, 0x9}));
    EXPECT_EQ(Aztec::readWords(bits, -4, 1, 4), (std::vector<std::int32_t>{0xF}));
}

}  // namespace
