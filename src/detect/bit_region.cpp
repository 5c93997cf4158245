#include "detect/bit_region.h"

#include <algorithm>
#include <array>

namespace AztecCore {

namespace {

// Adds to `reach` (whole runs of `mask`) every run of `mask` that holds a
// bit of `from`, the neighbour row's reach; true when that adds anything.
// Only the new bits' runs need closing, since the reach's own runs are
// whole already, and most rows gain bits in one word of several.
// Rightwards an addition carries from the run's lowest new bit to its end
// (for x inside m, m + x clears the bits from each run's lowest bit of x up
// and sets the bit past the run's end), across words by the carry.
// Leftwards the reach is doubled within each word (shifts of 1, 2, ...,
// 32, each kept where the mask runs on far enough), from the highest word
// that gained bits down to word 0, a word's bit 0 passing on to the bit 63
// below it; redoubling the reach's old runs leaves them as they are.
bool addTouchingRuns(const std::uint64_t* from, const std::uint64_t* mask, std::uint64_t* reach, std::int32_t words) {
    std::uint64_t carry = 0;
    std::int32_t last = -1;
    for (std::int32_t k = 0; k < words; ++k) {
        const std::uint64_t m = mask[k], fresh = from[k] & m & ~reach[k];
        if ((fresh | carry) == 0) continue;
        const std::uint64_t t = m + fresh, s = t + carry;
        carry = static_cast<std::uint64_t>(t < m) | static_cast<std::uint64_t>(s < t);
        const std::uint64_t right = ((s ^ m) & m) | fresh;
        if (right == 0) continue;
        reach[k] |= right;
        last = k;
    }
    if (last < 0) return false;
    // Down to word 0 whatever reaches it: stopping at the lowest word that
    // gained, once nothing passes down, saves a few words but costs a
    // mispredicted exit on nearly every row of noise.
    std::uint64_t in = 0;
    for (std::int32_t k = last; k >= 0; --k) {
        std::uint64_t pass = mask[k], gen = reach[k] | (in & pass);
        gen |= pass & (gen >> 1);
        pass &= pass >> 1;
        gen |= pass & (gen >> 2);
        pass &= pass >> 2;
        gen |= pass & (gen >> 4);
        pass &= pass >> 4;
        gen |= pass & (gen >> 8);
        pass &= pass >> 8;
        gen |= pass & (gen >> 16);
        pass &= pass >> 16;
        gen |= pass & (gen >> 32);
        reach[k] = gen;
        in = gen << 63;
    }
    return true;
}

// Each row takes the bits of its neighbour's reach that touch its mask and
// closes them; down the rows, then up, until neither direction adds a bit.
// Every pass only grows the reach inside the mask and along 4-neighbours,
// and a reach no pass grows has every run whole and no mask bit beside it
// outside it: the regions it touches, exactly. Noise makes regions whose
// paths turn up and down many times, but a few passes close them.
//
// A row that took its neighbour's reach once gains nothing by taking it
// again unless that reach has grown since, so each row's changes are
// counted (`version`) and each row remembers which version of the row
// above (`fromAbove`) and below (`fromBelow`) it last took: the later
// passes, where most rows are done, skip those rows at a compare each.
bool sweep(const std::uint64_t* mask, std::uint64_t* reach, std::int32_t rows, std::int32_t words, bool down,
           std::uint32_t* version, std::uint32_t* taken) {
    bool grew = false;
    const std::int32_t first = down ? 1 : rows - 2, step = down ? 1 : -1;
    for (std::int32_t y = first; y >= 0 && y < rows; y += step) {
        if (taken[y] == version[y - step]) continue;
        taken[y] = version[y - step];
        const std::uint64_t* from = reach + static_cast<std::ptrdiff_t>(y - step) * words;
        std::uint64_t* to = reach + static_cast<std::ptrdiff_t>(y) * words;
        const std::uint64_t* m = mask + static_cast<std::ptrdiff_t>(y) * words;
        if (addTouchingRuns(from, m, to, words)) {
            ++version[y];
            grew = true;
        }
    }
    return grew;
}

// Bits set in each byte value, and the sum of their positions.
constexpr std::array<std::uint8_t, 256> kByteCount = [] {
    std::array<std::uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i) t[static_cast<std::size_t>(b)] += static_cast<std::uint8_t>((b >> i) & 1);
    return t;
}();
constexpr std::array<std::uint8_t, 256> kBytePositions = [] {
    std::array<std::uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i) t[static_cast<std::size_t>(b)] += static_cast<std::uint8_t>(((b >> i) & 1) * i);
    return t;
}();

// A word's set bits and the sum of their positions (0 .. 63), a byte at a
// time from the tables.
struct WordSums {
    std::int64_t count = 0, positions = 0;
};
inline WordSums byTables(std::uint64_t v) {
    WordSums s;
    for (std::int32_t at = 0; v != 0; v >>= 8, at += 8) {
        const auto b = static_cast<std::size_t>(v & 0xFF);
        s.count += kByteCount[b];
        s.positions += kBytePositions[b] + static_cast<std::int64_t>(at) * kByteCount[b];
    }
    return s;
}

template <WordSums (*Sums)(std::uint64_t)>
RegionSums sumRows(const std::uint64_t* reach, std::int32_t rows, std::int32_t words, std::int32_t width, std::int32_t x0,
                   std::int32_t y0) {
    RegionSums s;
    const std::int32_t lastWord = (width - 1) / 64, lastBit = (width - 1) % 64;
    for (std::int32_t y = 0; y < rows; ++y) {
        const std::uint64_t* row = reach + static_cast<std::ptrdiff_t>(y) * words;
        std::int64_t count = 0, positions = 0;
        for (std::int32_t k = 0; k < words; ++k) {
            if (row[k] == 0) continue;
            const WordSums w = Sums(row[k]);
            count += w.count;
            positions += w.positions + static_cast<std::int64_t>(k) * 64 * w.count;
        }
        if (count == 0) continue;
        s.count += count;
        s.sumX += positions + static_cast<std::int64_t>(x0) * count;
        s.sumY += static_cast<std::int64_t>(y0 + y) * count;
        if (y == 0 || y == rows - 1 || (row[0] & 1u) != 0 || ((row[lastWord] >> lastBit) & 1u) != 0) s.edge = true;
    }
    return s;
}

#if defined(__GNUC__) && defined(__x86_64__)
// With the processor's population count: bit j of a position is set in
// the bits of mask j, so the positions sum to the sum over j of 2^j times
// the set bits under mask j.
#define QUARROW_POPCNT_SUMS 1
__attribute__((target("popcnt"))) WordSums byPopcount(std::uint64_t v) {
    constexpr std::uint64_t kPositionBit[6] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                                               0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};
    WordSums s;
    s.count = __builtin_popcountll(v);
    for (int j = 0; j < 6; ++j) s.positions += static_cast<std::int64_t>(__builtin_popcountll(v & kPositionBit[j])) << j;
    return s;
}
__attribute__((target("popcnt"), flatten)) RegionSums sumRowsByPopcount(const std::uint64_t* reach, std::int32_t rows,
                                                                std::int32_t words, std::int32_t width, std::int32_t x0,
                                                                std::int32_t y0) {
    return sumRows<byPopcount>(reach, rows, words, width, x0, y0);
}
#endif

}  // namespace

void growRegion(const std::uint64_t* mask, std::uint64_t* reach, std::int32_t rows, std::int32_t words,
                std::vector<std::uint32_t>& scratch) {
    if (rows <= 0 || words <= 0) return;
    // Every row starts at version 1, taken by none of its neighbours.
    const auto n = static_cast<std::size_t>(rows);
    scratch.assign(3 * n, 0);
    std::uint32_t* const version = scratch.data();
    std::uint32_t* const fromAbove = version + n;
    std::uint32_t* const fromBelow = fromAbove + n;
    std::fill(version, version + n, 1u);
    // Down, up, down, ... until two passes in a row add nothing.
    bool down = true;
    for (int idle = 0; idle < 2; down = !down)
        idle = sweep(mask, reach, rows, words, down, version, down ? fromAbove : fromBelow) ? 0 : idle + 1;
}

RegionSums regionSums(const std::uint64_t* reach, std::int32_t rows, std::int32_t words, std::int32_t width,
                      std::int32_t x0, std::int32_t y0) {
    if (rows <= 0 || words <= 0 || width <= 0) return {};
#if defined(QUARROW_POPCNT_SUMS)
    static const bool popcount = __builtin_cpu_supports("popcnt");
    if (popcount) return sumRowsByPopcount(reach, rows, words, width, x0, y0);
#endif
    return sumRows<byTables>(reach, rows, words, width, x0, y0);
}

RegionSums regionSumsByTables(const std::uint64_t* reach, std::int32_t rows, std::int32_t words, std::int32_t width,
                              std::int32_t x0, std::int32_t y0) {
    if (rows <= 0 || words <= 0 || width <= 0) return {};
    return sumRows<byTables>(reach, rows, words, width, x0, y0);
}

}  // namespace AztecCore
