// The bull's-eye's geometry, measured without assuming an angle: along 64
// rays from its centre the edges between its rings are found to a
// fraction of a pixel, and the perspective transform that puts those edge
// points best on nested squares (half-sizes 1.5, 2.5, ... modules) is
// fitted by least squares. The transform is fitted in its inverse form,
// image to symbol grid, where "this point lies on the line u = 2.5" is a
// linear equation in its eight coefficients.
#pragma once

#include <optional>

#include "locate/grey_view.h"
#include "math/homography.h"

namespace AztecCore::Locate {

// The mode ring runs round the bull's-eye at distance h = rings + 1,
// clockwise from the corner module (-h, -h), each side (`side` 0-3) from
// its first corner; its module `i` (0 .. 2h - 1) of that side lies at
// grid offset (u, v).
struct GridOffset {
    int u = 0, v = 0;
};
inline GridOffset modeRingOffset(int side, int i, int h) {
    switch (side) {
        case 0: return {-h + i, -h};
        case 1: return {h, -h + i};
        case 2: return {h - i, h};
        default: return {-h, h - i};
    }
}

struct BullseyeFit {
    // Symbol grid (modules; origin at the centre of the centre module; u
    // and v along the bull's-eye's sides, clockwise as seen in the frame,
    // u = v = -1 towards the frame's top left as near as the square allows)
    // to image pixels.
    Aztec::Math::Homography toImage{};
    bool compact = false;
    double dark = 0.0;   // grey level of the dark rings, as sampled
    double light = 0.0;  // of the light rings
    double residual = 0.0;  // RMS distance of the edge points from their squares, modules
};

// Fits the bull's-eye of the given kind round (x, y), whose module size the
// finder put at about `module` pixels: the edges' fit, then refined against
// a blurred model of the rings (bullseye_model_fit.h); when the edges give
// no fit, the model is searched for on its own. With `blur` (Gaussian sigma
// in modules, when known) the edges' fit alone, leaving the rings' rounded
// corners out. Nothing when the rings are not there or do not fit squares.
// `otherPolarity` as for refineBullseye (bullseye_model_fit.h).
std::optional<BullseyeFit> fitBullseye(const Sampler& sampler, double x, double y, double module, bool compact,
                                       double blur = 0.0, bool* otherPolarity = nullptr);

// fitBullseye in two steps, for a caller that tries the edges' fit before
// the model refines it: the edges' fit alone, then fitBullseye's result
// (no blur known) from that edges' fit (or its absence). `roundRings` as
// for searchBullseye.
std::optional<BullseyeFit> fitBullseyeEdges(const Sampler& sampler, double x, double y, double module, bool compact);
std::optional<BullseyeFit> fitBullseyeFrom(const Sampler& sampler, const std::optional<BullseyeFit>& edges, double x,
                                           double y, double module, bool compact, bool roundRings = false,
                                           bool* otherPolarity = nullptr);

// A centre round (x, y) about which the image is more nearly point-
// symmetric, when there is one a third of a module or more away: where to
// try again when the finder's centre gave no fit (blur can merge the
// centre module with its ring and put the finder's centre a module off;
// on sharp small modules the finder's centre is the better one).
std::optional<Point2d> moreSymmetricCentre(const Sampler& sampler, double x, double y, double module);

// Transform `h` (grid to image) turned by `degrees` and scaled by `scale`
// round the grid's centre.
Aztec::Math::Homography turned(const Aztec::Math::Homography& h, double degrees, double scale);
// Transform `h` with grid point (u, v) where (u scale + du, v scale + dv)
// was: moved along the grid's axes and scaled round its centre.
Aztec::Math::Homography shifted(const Aztec::Math::Homography& h, double du, double dv, double scale);

}  // namespace AztecCore::Locate
