// Symbols on curved surfaces: a label round a can, a ticket round a wrist
// band. A single perspective transform fits such a symbol near its centre
// only; further out the grid bends away. The curved grid keeps the flat
// transform at the centre, where the bull's-eye and mode ring fixed it,
// and bends the grid round a cylinder: along the wrap direction (angle phi
// in the grid) a position a lands at sin(k a) / k in the tangent plane,
// (1 - cos(k a)) / k deep behind it, and is projected with that depth.
// The bend that makes the sampled modules sharpest is searched for, coarse
// to fine, and each of the best few is classified and checked by
// Reed-Solomon, so a wrong bend finds nothing rather than wrong data.
#pragma once

#include <array>
#include <optional>

#include "common/symbol_candidate.h"
#include "locate/grey_view.h"
#include "locate/symbol_sampler.h"
#include "math/homography.h"

namespace AztecCore::Locate {

struct CurvedGrid {
    Aztec::Math::Homography plane{};  // the tangent plane at the centre, grid to image
    std::array<double, 3> depth{};    // one module of depth behind the plane, homogeneous image terms
    double cosPhi = 1.0, sinPhi = 0.0;  // the wrap direction in the grid
    double curvature = 0.0;  // k, per module; positive: the edges bend away from the camera
    double stretch = 1.0;    // scale along the wrap direction, in the tangent plane
    // A small projective correction in the tangent plane, applied before
    // `plane`: (x, y) -> ((1 + c1) x + c2 y + c0, c4 x + (1 + c5) y + c3,
    // c6 x + c7 y + 1), homogeneous.
    std::array<double, 8> correction{};

    Point2d map(double u, double v) const;
};

// The curved grid whose tangent plane is `plane` and whose depth direction
// follows from a pinhole camera of the usual phone field of view for a
// frame whose longer side is `frameSide`, its optical axis through
// `principal` (the frame's centre, or the symbol's when the frame was cut
// round it).
CurvedGrid tangentGrid(const Aztec::Math::Homography& plane, int frameSide, Point2d principal);

// Reads the symbol of `candidate` through curved grids round the flat
// transform `plane` (centre of the centre module at grid (0, 0)). Charged
// to the sampler's budget; nothing when no bend corrects.
std::optional<SymbolRead> readCurvedSymbol(const Sampler& sampler, const Aztec::Math::Homography& plane,
                                           const ModuleModel& model, const SymbolCandidate& candidate);

}  // namespace AztecCore::Locate
