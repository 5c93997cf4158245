#include "locate/magnified_centre.h"

#include <algorithm>

namespace AztecCore::Locate {

namespace {
// A square narrower than this holds no symbol worth magnifying.
constexpr int kMinSide = 16;
}  // namespace

Aztec::Math::Homography MagnifiedCentre::toFrame(const Aztec::Math::Homography& m) const {
    // x = (x0 - 1/4) + (m0 u + m1 v + m2) / (2 (m6 u + m7 v + 1)), and the
    // same for y.
    const double ox = x0 - 0.25, oy = y0 - 0.25;
    return {0.5 * m[0] + ox * m[6], 0.5 * m[1] + ox * m[7], 0.5 * m[2] + ox,
            0.5 * m[3] + oy * m[6], 0.5 * m[4] + oy * m[7], 0.5 * m[5] + oy,
            m[6],                   m[7]};
}

MagnifiedCentre magnifiedCentre(const GreyView& frame, int side) {
    MagnifiedCentre out;
    const int w = std::min(side, frame.width), h = std::min(side, frame.height);
    if (w < kMinSide || h < kMinSide) return out;
    out.x0 = (frame.width - w) / 2;
    out.y0 = (frame.height - h) / 2;
    const int ow = 2 * w, oh = 2 * h;
    out.pixels.resize(static_cast<std::size_t>(ow) * static_cast<std::size_t>(oh));
    // Each frame row of the square widened once, in quarters of a grey
    // level (3 a + b), then each copy row 3/4 of its nearer widened row and
    // 1/4 of the farther, rounded: (3 A + B + 8) / 16.
    std::vector<std::uint16_t> wide(static_cast<std::size_t>(h) * static_cast<std::size_t>(ow));
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* p = frame.pixels + static_cast<std::ptrdiff_t>(out.y0 + y) * frame.stride + out.x0;
        std::uint16_t* row = wide.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(ow);
        // The square's first and last columns have no neighbour beyond them.
        row[0] = static_cast<std::uint16_t>(4 * p[0]);
        row[2 * w - 1] = static_cast<std::uint16_t>(4 * p[w - 1]);
        for (int k = 1; k < w; ++k) row[2 * k] = static_cast<std::uint16_t>(3 * p[k] + p[k - 1]);
        for (int k = 0; k + 1 < w; ++k) row[2 * k + 1] = static_cast<std::uint16_t>(3 * p[k] + p[k + 1]);
    }
    for (int v = 0; v < oh; ++v) {
        const int k = v / 2, other = std::clamp(v % 2 == 0 ? k - 1 : k + 1, 0, h - 1);
        const std::uint16_t* nearer = wide.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(ow);
        const std::uint16_t* farther = wide.data() + static_cast<std::size_t>(other) * static_cast<std::size_t>(ow);
        std::uint8_t* o = out.pixels.data() + static_cast<std::size_t>(v) * static_cast<std::size_t>(ow);
        for (int u = 0; u < ow; ++u) o[u] = static_cast<std::uint8_t>((3 * nearer[u] + farther[u] + 8) >> 4);
    }
    out.view = {out.pixels.data(), ow, oh, ow};
    return out;
}

}  // namespace AztecCore::Locate
