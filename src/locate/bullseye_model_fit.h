// The bull's-eye's transform fitted to the image itself rather than to
// threshold crossings. Its rings are known: dark squares and light ones
// round a dark centre module. Blurred by a Gaussian of sigma modules, the
// square of half-size h becomes F(u) F(v) with F a difference of two
// error functions, so the blurred bull's-eye has a closed form. The
// transform (as a correction of a starting one), the blur and the grey
// levels (dark, light and a linear slope of the light) are fitted together
// by Levenberg-Marquardt, so that the model matches the image over the
// whole bull's-eye. Heavy blur shifts and flattens threshold crossings; it only
// changes the model's shape, which the fit measures too.
#pragma once

#include <numbers>
#include <optional>
#include <vector>

#include "decode/bit_list.h"
#include "locate/bullseye_geometry.h"
#include "locate/grey_view.h"
#include "math/homography.h"

namespace AztecCore::Locate {

struct ModelFit {
    BullseyeFit fit;
    double sigma = 0.0;     // blur, modules
    double agreement = 0.0; // share of the image's variance the model explains
};

// The blur (modules) a refinement starts from when none is known.
inline constexpr double kStartBlur = 0.6;

// Refines `start` (grid to image, any of the eight orientations) against
// the model. Nothing when the fit diverges or the result does not look
// like a bull's-eye. Where the rings fit well but with a light centre (a
// bull's-eye of the other polarity than the sampler's), `otherPolarity`
// (when given) is set as well.
std::optional<ModelFit> refineBullseye(const Sampler& sampler, const Aztec::Math::Homography& start, bool compact,
                                       double sigma = kStartBlur, bool* otherPolarity = nullptr);

// The direction of the square rings' sides round (x, y), in radians modulo
// a quarter turn: from the image's gradients within `reach` pixels, taken
// `step` pixels apart.
double ringAngle(const Sampler& sampler, double x, double y, double reach, double step);

// The direction of a symbol's module grid round a bull's-eye at (x, y) of
// about `module` pixels per module, modulo a quarter turn: as ringAngle,
// but over what the symbol round the rings likely covers, on whole pixels
// (the centre rounded, a few dozen points from it to the edge of that
// reach). Under heavy blur the rings are nearly round and say little about
// their turn; the symbol's outline and its modules' edges run along the
// same grid and say more.
double symbolAngle(const Sampler& sampler, double x, double y, double module);

// How far a turn measured on rings blurred nearly round can be off: what is
// left of their corners can point the edges' directions anywhere, as far
// as the diagonal. Who knows such rings are there tries this turn too.
inline constexpr double kDiagonalTurn = std::numbers::pi / 4.0;

// Looks for a bull's-eye round (x, y) of about `module` pixels per module
// without any previous fit: its angle from symbolAngle, its scale by
// trying a range of them, then refined as above.
// With `roundRings` (rings known to be there and blurred nearly round,
// whose edges may point anywhere) the angle half-way between the sides'
// directions is tried as well when the first gives nothing.
// `otherPolarity` as for refineBullseye.
std::optional<ModelFit> searchBullseye(const Sampler& sampler, double x, double y, double module, bool compact,
                                       bool roundRings = false, bool* otherPolarity = nullptr);

// Refines a fit whose mode ring has been read, now with the ring's modules
// known too: `ring` holds them (true for dark) clockwise from the corner
// module (-h, -h), each side from its first corner, h one module outside
// the bull's-eye.
std::optional<ModelFit> refineWithModeRing(const Sampler& sampler, const BullseyeFit& fit, const Aztec::BitList& ring,
                                           double sigma);

// Refines the transform of a whole symbol of `size` modules per side from
// its modules as classified (`values`, entry x * size + y for grid
// u = x - (size - 1) / 2, v likewise; 1 dark, 0 light) and its light quiet
// zone, perspective included. A few wrong modules do little harm among so
// many right ones; the fit uses the whole symbol where the bull's-eye alone
// leaves its far corners to extrapolation.
// With `part` < size only the middle part x part modules (`part` odd) are
// compared, and what lies round them counts as unknown: a transform good
// near the centre and poor farther out is refined from modules classified
// where it is still good.
std::optional<ModelFit> refineWithSymbol(const Sampler& sampler, const Aztec::Math::Homography& start, int size,
                                         const std::vector<double>& values, double sigma, int part = 0);

}  // namespace AztecCore::Locate
