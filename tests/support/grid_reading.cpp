#include "support/grid_reading.h"

#include <algorithm>
#include <cstdlib>

#include "decode/data_codewords.h"
#include "decode/mode_message.h"

namespace quarrow_test {

using AztecCore::SymbolType;

namespace {
bool moduleAt(const ModuleGrid& g, int u, int v) {
    const int c = (g.size - 1) / 2;
    return g.at(c + v, c + u);
}
}  // namespace

SymbolType bullseyeType(const ModuleGrid& g) {
    if (g.size < 19) return SymbolType::Compact;
    for (int u = -6; u <= 6; ++u) {
        for (int v = -6; v <= 6; ++v) {
            const int d = std::max(std::abs(u), std::abs(v));
            if (d == 5 && moduleAt(g, u, v)) return SymbolType::Compact;
            if (d == 6 && !moduleAt(g, u, v)) return SymbolType::Compact;
        }
    }
    return SymbolType::FullRange;
}

bool dataWordCountWrapped(const ModuleGrid& g) {
    constexpr int kCompactFourLayerSide = 27, kCountWraps = 64;
    if (g.size != kCompactFourLayerSide || bullseyeType(g) != SymbolType::Compact) return false;
    AztecCore::SymbolCandidate cand;
    cand.type = SymbolType::Compact;
    if (!Aztec::decodeModeMessage(cand, ringBits(g, SymbolType::Compact))) return false;
    const Aztec::ModuleMatrix matrix = moduleMatrix(g);
    if (Aztec::decodeData(cand, matrix)) return false;
    cand.dataWords += kCountWraps;
    if (cand.dataWords > cand.totalWords) return false;
    const auto whole = Aztec::decodeData(cand, matrix);
    return whole && whole->correctedWords == 0;
}

Aztec::BitList ringBits(const ModuleGrid& g, SymbolType type) {
    const int h = type == SymbolType::Compact ? 5 : 7;
    const int len = 2 * h;
    Aztec::BitList bits(static_cast<std::size_t>(4 * len));
    for (int i = 0; i < len; ++i) {
        bits.set(0 * len + i, moduleAt(g, -h + i, -h));
        bits.set(1 * len + i, moduleAt(g, h, -h + i));
        bits.set(2 * len + i, moduleAt(g, h - i, h));
        bits.set(3 * len + i, moduleAt(g, -h, h - i));
    }
    return bits;
}

Aztec::ModuleMatrix moduleMatrix(const ModuleGrid& g) {
    Aztec::ModuleMatrix m;
    for (int x = 0; x < g.size; ++x) {
        Aztec::BitList col(static_cast<std::size_t>(g.size));
        for (int y = 0; y < g.size; ++y) col.set(y, g.at(y, x));
        m.push_back(std::move(col));
    }
    return m;
}

ModuleGrid spoilData(const ModuleGrid& g) {
    ModuleGrid out = g;
    const int ring = bullseyeType(g) == SymbolType::Compact ? 5 : 7, c = (g.size - 1) / 2;
    for (int r = 0; r < g.size; ++r) {
        for (int col = 0; col < g.size; ++col) {
            // Two modules clear of the ring, so the ring's edges stay sharp.
            if (std::max(std::abs(r - c), std::abs(col - c)) < ring + 2 || (r + col) % 2 != 0) continue;
            std::vector<bool>& row = out.modules[static_cast<std::size_t>(r)];
            row[static_cast<std::size_t>(col)] = !row[static_cast<std::size_t>(col)];
        }
    }
    return out;
}

}  // namespace quarrow_test
