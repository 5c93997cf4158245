// Symbols of two pixels a module, blurred by half a module, show their
// bull's-eye to the finder as runs of one to three pixels whose widths
// rounding has made too uneven for its signature. Magnified twice (each
// pixel interpolated between its neighbours) the same rings are runs of
// three to five pixels with their edges where the blur put them, and the
// finder, the fits and the sampling read them as they read four pixels a
// module. Only the middle of the frame, where the user aims, is magnified:
// a copy of the whole frame would cost four frames' passes.
#pragma once

#include <cstdint>
#include <vector>

#include "common/symbol_candidate.h"
#include "locate/grey_view.h"
#include "math/homography.h"

namespace AztecCore::Locate {

struct MagnifiedCentre {
    std::vector<std::uint8_t> pixels;
    GreyView view{};  // over `pixels`; empty when the frame is too small
    int x0 = 0;       // frame pixel whose left half copy pixel 0 covers
    int y0 = 0;

    // Copy pixel (u, v) lies at frame position (x0 + u / 2 - 1/4, y0 + v / 2 - 1/4).
    Point2d toFrame(Point2d p) const { return {x0 + 0.5 * p.x - 0.25, y0 + 0.5 * p.y - 0.25}; }
    Aztec::Math::Homography toFrame(const Aztec::Math::Homography& inCopy) const;
};

// The square of `side` frame pixels round the frame centre (clipped to the
// frame), magnified twice: copy pixel 2k is 3/4 frame pixel k and 1/4 pixel
// k - 1, copy pixel 2k + 1 is 3/4 pixel k and 1/4 pixel k + 1, in both
// directions (pixels past the square's edge are the edge's own).
MagnifiedCentre magnifiedCentre(const GreyView& frame, int side);

}  // namespace AztecCore::Locate
