// Plane perspective transforms from symbol-grid coordinates (modules) to
// image pixels, fitted exactly to four point pairs.
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <span>
#include <cstdint>
#include <vector>

#include "common/symbol_candidate.h"

namespace Aztec::Math {

using AztecCore::Point2d;

// a..h of x = (a u + b v + c) / (g u + h v + 1), y = (d u + e v + f) / (g u + h v + 1).
using Homography = std::array<double, 8>;

// The transform that maps each source s_k onto destination t_k. Degenerate
// point sets raise nothing: a zero pivot becomes 1e-20 and the
// coefficients come out huge or non-finite.
Homography fitHomography(Point2d s0, Point2d s1, Point2d s2, Point2d s3,
                         Point2d t0, Point2d t1, Point2d t2, Point2d t3);

// The transform that best maps the sources onto the destinations in the
// least-squares sense (at least four pairs; fewer throw invalid_argument).
// A non-finite point, or sources that leave the fit undetermined, give a
// transform of NaN coefficients that maps every point off the image. Used where many measured
// points are available, so that their small errors average out instead of
// being magnified by extrapolation.
Homography fitHomographyLeastSquares(const std::vector<Point2d>& sources, const std::vector<Point2d>& destinations);

// The best affine transform (g = h = 0) in the least-squares sense, at
// least three pairs; bad points as above. Far steadier than a perspective fit when four close
// points are extended well beyond them.
Homography fitAffineLeastSquares(std::span<const Point2d> sources, std::span<const Point2d> destinations);

// Maps (u, v); no test of the denominator. Inline: samplers call it for
// every point they read.
inline Point2d mapPoint(const Homography& h, double u, double v) {
    const double w = h[6] * u + h[7] * v + 1.0;
    return {(h[0] * u + h[1] * v + h[2]) / w, (h[3] * u + h[4] * v + h[5]) / w};
}

// The pixel that holds a mapped coordinate: the nearest integer. A
// non-finite value or one outside the 32-bit range becomes INT32_MIN,
// which every sampler treats as outside the image.
//
// Positions found from pixels (blob centres, ring lines) count pixel x as
// the point x, so the pixel that holds the point v is the nearest one, not
// the one that truncation would pick (up to a pixel left or above: a third
// of a module at 3 pixels per module).
inline std::int32_t toPixel(double value) {
    constexpr double kMin = static_cast<double>(std::numeric_limits<std::int32_t>::min());
    constexpr double kMax = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    const double rounded = std::floor(value + 0.5);
    // Written so that NaN fails too.
    if (!(rounded >= kMin && rounded <= kMax)) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

}  // namespace Aztec::Math
