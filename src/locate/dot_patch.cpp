#include "locate/dot_patch.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace AztecCore::Locate {

namespace {
// The model search tries scales up to 1.6 times the finder's module, and a
// full-range mode ring reaches 7.5 modules from the centre.
constexpr double kReachModules = 1.6 * 7.5 + 1.0;
// Box radius per module: 0.4 of the pitch bridges the gap between touching
// dots of 0.6 of the pitch, diagonals included, and twice over it leaves
// the rings' profile close to a Gaussian blur of about a third of a module.
constexpr double kBoxModules = 0.4;
constexpr int kMinSide = 8;

// One pass of a box filter of radius r along each of `lines` lines of n
// pixels, `along` apart within a line and `across` from line to line (rows:
// 1 and w; columns: w and 1). Edges hold the edge pixel; only the first
// and last r pixels of a line reach past them.
void boxPass(const std::uint8_t* in, std::uint8_t* out, int n, int lines, std::ptrdiff_t along, std::ptrdiff_t across,
             int r) {
    const int span = 2 * r + 1;
    // The rounded mean s / span, s = sum + span / 2 < 256 span, by a
    // multiply and shift: with m = floor(2^32 / span) + 1, s m / 2^32 lies
    // above s / span by less than s / 2^32 < 1 / span, which never reaches
    // the next whole number. Holds while 256 span^2 < 2^32.
    const std::uint64_t reciprocal = (std::uint64_t{1} << 32) / static_cast<std::uint64_t>(span) + 1;
    const bool exact = span < 4096;
    const auto mean = [&](int sum) {
        const auto s = static_cast<std::uint64_t>(sum + span / 2);
        return static_cast<std::uint8_t>(exact ? (s * reciprocal) >> 32 : s / static_cast<std::uint64_t>(span));
    };
    for (int l = 0; l < lines; ++l) {
        const std::uint8_t* src = in + l * across;
        std::uint8_t* dst = out + l * across;
        auto at = [&](int i) { return src[std::clamp(i, 0, n - 1) * along]; };
        int sum = 0;
        for (int i = -r; i <= r; ++i) sum += at(i);
        for (int i = 0; i < n; ++i) {
            dst[i * along] = mean(sum);
            if (i >= r && i + r + 1 < n)
                sum += src[(i + r + 1) * along] - src[(i - r) * along];
            else
                sum += at(i + r + 1) - at(i - r);
        }
    }
}
}  // namespace

SmoothedPatch smoothedPatch(const GreyView& frame, const FinderHit& hit) {
    SmoothedPatch p;
    const int reach = static_cast<int>(std::ceil(kReachModules * hit.module));
    p.x0 = std::max(0, static_cast<int>(hit.x) - reach);
    p.y0 = std::max(0, static_cast<int>(hit.y) - reach);
    const int x1 = std::min(frame.width, static_cast<int>(hit.x) + reach + 1);
    const int y1 = std::min(frame.height, static_cast<int>(hit.y) + reach + 1);
    const int w = x1 - p.x0, h = y1 - p.y0;
    if (w < kMinSide || h < kMinSide) return p;
    std::vector<std::uint8_t> a(static_cast<std::size_t>(w) * h), b(a.size());
    for (int y = 0; y < h; ++y)
        std::copy_n(frame.pixels + static_cast<std::ptrdiff_t>(p.y0 + y) * frame.stride + p.x0, w,
                    a.begin() + static_cast<std::ptrdiff_t>(y) * w);
    const int r = std::max(1, static_cast<int>(std::lround(kBoxModules * hit.module)));
    for (int pass = 0; pass < 2; ++pass) {
        boxPass(a.data(), b.data(), w, h, 1, w, r);
        boxPass(b.data(), a.data(), h, w, w, 1, r);
    }
    p.pixels = std::move(a);
    p.view = {p.pixels.data(), w, h, w};
    return p;
}

Aztec::Math::Homography toFrame(const Aztec::Math::Homography& m, const SmoothedPatch& patch) {
    // x + x0 = (m0 u + m1 v + m2 + x0 (m6 u + m7 v + 1)) / (m6 u + m7 v + 1).
    const double x0 = patch.x0, y0 = patch.y0;
    return {m[0] + x0 * m[6], m[1] + x0 * m[7], m[2] + x0, m[3] + y0 * m[6], m[4] + y0 * m[7], m[5] + y0, m[6], m[7]};
}

}  // namespace AztecCore::Locate
