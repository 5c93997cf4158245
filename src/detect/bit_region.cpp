#include "detect/bit_region.h"

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
// that gained bits down, a word's bit 0 passing on to the bit 63 below it;
// redoubling the reach's old runs leaves them as they are.
bool addTouchingRuns(const std::uint64_t* from, const std::uint64_t* mask, std::uint64_t* reach, std::int32_t words) {
    std::uint64_t carry = 0;
    std::int32_t first = -1, last = -1;
    for (std::int32_t k = 0; k < words; ++k) {
        const std::uint64_t m = mask[k], fresh = from[k] & m & ~reach[k];
        if ((fresh | carry) == 0) continue;
        const std::uint64_t t = m + fresh, s = t + carry;
        carry = static_cast<std::uint64_t>(t < m) | static_cast<std::uint64_t>(s < t);
        const std::uint64_t right = ((s ^ m) & m) | fresh;
        if (right == 0) continue;
        reach[k] |= right;
        if (first < 0) first = k;
        last = k;
    }
    if (first < 0) return false;
    std::uint64_t in = 0;
    for (std::int32_t k = last; k >= 0 && (k >= first || in != 0); --k) {
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
bool sweep(const std::uint64_t* mask, std::uint64_t* reach, std::int32_t rows, std::int32_t words, bool down) {
    bool grew = false;
    const std::int32_t first = down ? 1 : rows - 2, step = down ? 1 : -1;
    for (std::int32_t y = first; y >= 0 && y < rows; y += step) {
        const std::uint64_t* from = reach + static_cast<std::ptrdiff_t>(y - step) * words;
        std::uint64_t* to = reach + static_cast<std::ptrdiff_t>(y) * words;
        const std::uint64_t* m = mask + static_cast<std::ptrdiff_t>(y) * words;
        if (addTouchingRuns(from, m, to, words)) grew = true;
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

}  // namespace

void growRegion(const std::uint64_t* mask, std::uint64_t* reach, std::int32_t rows, std::int32_t words) {
    if (rows <= 0 || words <= 0) return;
    // Down, up, down, ... until two passes in a row add nothing.
    bool down = true;
    for (int idle = 0; idle < 2; down = !down) idle = sweep(mask, reach, rows, words, down) ? 0 : idle + 1;
}

RegionSums regionSums(const std::uint64_t* reach, std::int32_t rows, std::int32_t words, std::int32_t width,
                      std::int32_t x0, std::int32_t y0) {
    RegionSums s;
    if (rows <= 0 || words <= 0 || width <= 0) return s;
    const std::int32_t lastWord = (width - 1) / 64, lastBit = (width - 1) % 64;
    for (std::int32_t y = 0; y < rows; ++y) {
        const std::uint64_t* row = reach + static_cast<std::ptrdiff_t>(y) * words;
        std::int64_t count = 0, positions = 0;
        for (std::int32_t k = 0; k < words; ++k) {
            std::uint64_t v = row[k];
            for (std::int32_t at = k * 64; v != 0; v >>= 8, at += 8) {
                const auto b = static_cast<std::size_t>(v & 0xFF);
                count += kByteCount[b];
                positions += kBytePositions[b] + static_cast<std::int64_t>(at) * kByteCount[b];
            }
        }
        if (count == 0) continue;
        s.count += count;
        s.sumX += positions + static_cast<std::int64_t>(x0) * count;
        s.sumY += static_cast<std::int64_t>(y0 + y) * count;
        if (y == 0 || y == rows - 1 || (row[0] & 1u) != 0 || ((row[lastWord] >> lastBit) & 1u) != 0) s.edge = true;
    }
    return s;
}

}  // namespace AztecCore
