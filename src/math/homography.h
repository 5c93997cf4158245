// Plane perspective transforms from symbol-grid coordinates (modules) to
// image pixels, fitted exactly to four point pairs.
#pragma once

#include <array>
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
Homography fitAffineLeastSquares(const std::vector<Point2d>& sources, const std::vector<Point2d>& destinations);

// Maps (u, v); no test of the denominator.
Point2d mapPoint(const Homography& h, double u, double v);

// The pixel that holds a mapped coordinate: the nearest integer. A
// non-finite value or one outside the 32-bit range becomes INT32_MIN,
// which every sampler treats as outside the image.
std::int32_t toPixel(double value);

}  // namespace Aztec::Math
