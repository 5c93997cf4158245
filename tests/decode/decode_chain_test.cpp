// End to end through the decoding chain against libzint: mode ring and
// module matrix are read straight from the encoded symbol.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "decode/data_codewords.h"
#include "decode/mode_message.h"
#include "support/grid_reading.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;
using AztecCore::SymbolCandidate;
using AztecCore::SymbolType;

std::optional<Aztec::DecodedData> decodeGrid(const ModuleGrid& g, SymbolCandidate* out = nullptr) {
    SymbolCandidate cand;
    cand.type = bullseyeType(g);
    if (!Aztec::decodeModeMessage(cand, ringBits(g, cand.type))) return std::nullopt;
    if (out) *out = cand;
    return Aztec::decodeData(cand, moduleMatrix(g));
}

std::string bytesOf(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(DecodeChain, EverySizeEveryOrientation) {
    std::mt19937 rng(7);
    for (int size = 1; size <= 36; ++size) {
        ModuleGrid g;
        std::string data = "Size " + std::to_string(size) + " payload 0123456789";
        while (!encodeAztec(data, {.size = size}, g)) data.pop_back();
        ASSERT_FALSE(data.empty()) << size;
        for (int turns = 0; turns < 4; ++turns) {
            for (bool mirror : {false, true}) {
                SymbolCandidate cand;
                auto r = decodeGrid(transformGrid(g, turns, mirror), &cand);
                ASSERT_TRUE(r.has_value()) << "size " << size << " turns " << turns << " mirror " << mirror;
                EXPECT_EQ(bytesOf(r->text.bytes), data) << "size " << size << " turns " << turns << " mirror " << mirror;
                EXPECT_EQ(cand.mirrored, mirror);
            }
        }
    }
}

}  // namespace
