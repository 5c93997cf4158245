#include "decode/codeword_layout.h"

namespace Aztec {

using AztecCore::SymbolCandidate;
using AztecCore::SymbolType;

namespace {
constexpr std::int32_t kGridSpacing = 16;
}  // namespace

std::vector<std::array<std::int32_t, 2>> codewordModules(const SymbolCandidate& cand) {
    using Position = std::array<std::int32_t, 2>;
    const std::int32_t n = cand.size;
    const std::int64_t rawLength = static_cast<std::int64_t>(cand.totalWords) * cand.wordBits;
    if (n <= 0 || cand.layers <= 0 || cand.wordBits <= 0 || rawLength <= 0) return {};
    // Rows and columns of the matrix the layers are walked in: mirrored
    // symbols have their rows reversed, full-range ones lose the lines of
    // the reference grid.
    std::vector<std::int32_t> rows, cols;
    for (std::int32_t i = 0; i < n; ++i) {
        if (cand.type == SymbolType::FullRange && (n / 2 - i) % kGridSpacing == 0) continue;
        cols.push_back(i);
        rows.push_back(cand.mirrored ? n - 1 - i : i);
    }
    const auto size = static_cast<std::int32_t>(cols.size());
    std::vector<Position> raw(static_cast<std::size_t>(rawLength), Position{-1, -1});
    auto put = [&](std::int64_t index, std::int32_t r, std::int32_t c) {
        std::int64_t i = index % rawLength;
        if (i < 0) i += rawLength;
        raw[static_cast<std::size_t>(i)] = {rows[static_cast<std::size_t>(r)], cols[static_cast<std::size_t>(c)]};
    };
    const std::int32_t last = size - 1;
    std::int32_t s = size, off = 0;
    std::int64_t base = 0;
    for (std::int32_t layer = 0; layer < cand.layers; ++layer) {
        if (s < 3) return {};
        const std::int64_t strip = 2 * static_cast<std::int64_t>(s - 2);
        for (std::int32_t k = 0; k < 4; ++k) {
            const std::int64_t start = base + strip * ((k + cand.rotation) % 4);
            for (std::int32_t j = 0; j <= s - 3; ++j) {
                std::int32_t ro = 0, co = 0, ri = 0, ci = 0;
                switch (k) {
                    case 0: ro = off; co = off + j; ri = off + 1; ci = off + j; break;
                    case 1: ro = off + j; co = last - off; ri = off + j; ci = last - off - 1; break;
                    case 2: ro = last - off; co = last - off - j; ri = last - off - 1; ci = last - off - j; break;
                    default: ro = last - off - j; co = off; ri = last - off - j; ci = off + 1; break;
                }
                put(start + 2 * j, ro, co);
                put(start + 2 * j + 1, ri, ci);
            }
        }
        base += 4 * strip;
        s -= 4;
        off += 2;
    }
    std::vector<Position> out(static_cast<std::size_t>(rawLength));
    for (std::int64_t k = 0; k < rawLength; ++k) {
        std::int64_t i = (cand.bitOffset + k) % rawLength;
        if (i < 0) i += rawLength;
        out[static_cast<std::size_t>(k)] = raw[static_cast<std::size_t>(i)];
        if (out[static_cast<std::size_t>(k)][0] < 0) return {};
    }
    return out;
}

}  // namespace Aztec
