// The one-line description of a candidate.
#include <gtest/gtest.h>

#include <climits>

#include "engine/reader_engine.h"

namespace {

using AztecCore::SymbolCandidate;
using AztecCore::SymbolType;

SymbolCandidate make(int type, int rotation, bool mirrored, int layers, int dataWords, int wordBits, int totalWords) {
    SymbolCandidate c;
    c.type = static_cast<SymbolType>(type);
    c.rotation = rotation;
    c.mirrored = mirrored;
    c.layers = layers;
    c.dataWords = dataWords;
    c.wordBits = wordBits;
    c.totalWords = totalWords;
    return c;
}

TEST(Describe, Examples) {
    struct Case { SymbolCandidate cand; const char* text; };
    const Case cases[] = {
        {make(1, 0, false, 2, 13, 6, 40), "(C 0' L: 2 D: 78 ECC: 67%)"},
        {make(2, 1, true, 5, 60, 8, 120), "(F 90'M L: 5 D: 480 ECC: 50%)"},
        {make(2, 0, false, 0, 0, 0, 0), "(F 0' L: 0 D: 0 ECC: 0%)"},
        {make(2, 2, false, 32, 1000, 12, 1664), "(F 180' L: 32 D: 12000 ECC: 39%)"},
        {make(1, 3, true, 1, 17, 6, 17), "(C 270'M L: 1 D: 102 ECC: 0%)"},
        {make(0, 4, false, 1, 1, 6, 17), "(? ?' L: 1 D: 6 ECC: 94%)"},
        {make(3, -1, true, -2, 5, 8, 0), "(? ?'M L: -2 D: 40 ECC: -500%)"},
        {make(1, 0, false, 1, 20, 6, 17), "(C 0' L: 1 D: 120 ECC: -17%)"},
    };
    for (const Case& c : cases) EXPECT_EQ(AztecCore::describe(c.cand), c.text);
}

TEST(Describe, HostileFieldsDoNotOverflow) {
    // The ECC share of huge counts is computed without overflowing.
    EXPECT_EQ(AztecCore::describe(make(2, 0, false, 1, 0, 8, INT_MAX)), "(F 0' L: 1 D: 0 ECC: 100%)");
    EXPECT_EQ(AztecCore::describe(make(2, 0, false, 1, INT_MIN, 0, INT_MAX)), "(F 0' L: 1 D: 0 ECC: 200%)");
}

}  // namespace
