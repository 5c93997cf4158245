#include "locate/dot_patch.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

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
// Box spans below 2^15 keep RoundedMean exact.
constexpr int kMaxBoxRadius = (1 << 14) - 1;

// The rounded mean s / span, s = sum + span / 2 < 256 span, in single
// precision: with span < 2^15, s, span and the quotient's whole part are
// exact there, and a quotient that is not whole lies at least 1 / span from
// the next whole number, far more than the division's rounding error (at
// most 256 * 2^-24), so truncating the rounded quotient is exact. In this
// form the loops below vectorise.
struct RoundedMean {
    explicit RoundedMean(int span) : half(span / 2), span(static_cast<float>(span)) {}
    std::uint8_t operator()(int sum) const {
        return static_cast<std::uint8_t>(static_cast<int>(static_cast<float>(sum + half) / span));
    }
    int half;
    float span;
};

// One pass of a box filter of radius r along each row of a w x h image,
// edges holding the edge pixel: each mean is a difference of the row's
// running sums (`sums`), which leaves only those sums to the serial loop.
void boxRows(const std::uint8_t* in, std::uint8_t* out, int w, int h, int r, std::vector<int>& sums) {
    const RoundedMean mean(2 * r + 1);
    const int n = w + 2 * r;  // the row with r copies of its edge pixels each side
    sums.resize(static_cast<std::size_t>(n) + 1);
    int* const s = sums.data();
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = in + static_cast<std::ptrdiff_t>(y) * w;
        std::uint8_t* dst = out + static_cast<std::ptrdiff_t>(y) * w;
        // s[j] sums the first j pixels of the padded row.
        s[0] = 0;
        int j = 0;
        for (; j < r; ++j) s[j + 1] = s[j] + src[0];
        for (; j < r + w; ++j) s[j + 1] = s[j] + src[j - r];
        for (; j < n; ++j) s[j + 1] = s[j] + src[w - 1];
        for (int i = 0; i < w; ++i) dst[i] = mean(s[i + 2 * r + 1] - s[i]);
    }
}

// The same down each column, a row at a time with a running sum per
// column (`sums`, w entries), so that every step reads whole rows.
void boxColumns(const std::uint8_t* in, std::uint8_t* out, int w, int h, int r, std::vector<int>& sums) {
    const RoundedMean mean(2 * r + 1);
    const auto row = [&](int y) { return in + static_cast<std::ptrdiff_t>(std::clamp(y, 0, h - 1)) * w; };
    sums.assign(static_cast<std::size_t>(w), 0);
    int* const s = sums.data();
    for (int y = -r; y <= r; ++y) {
        const std::uint8_t* src = row(y);
        for (int x = 0; x < w; ++x) s[x] += src[x];
    }
    for (int y = 0; y < h; ++y) {
        std::uint8_t* dst = out + static_cast<std::ptrdiff_t>(y) * w;
        for (int x = 0; x < w; ++x) dst[x] = mean(s[x]);
        const std::uint8_t* enter = row(y + r + 1);
        const std::uint8_t* leave = row(y - r);
        for (int x = 0; x < w; ++x) s[x] += enter[x] - leave[x];
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
    // The radius is bounded for RoundedMean (no bull's-eye in a frame comes near it).
    const int r = std::clamp(static_cast<int>(std::lround(kBoxModules * hit.module)), 1, kMaxBoxRadius);
    std::vector<int> sums;
    for (int pass = 0; pass < 2; ++pass) {
        boxRows(a.data(), b.data(), w, h, r, sums);
        boxColumns(b.data(), a.data(), w, h, r, sums);
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
