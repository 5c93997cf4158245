#include "math/homography.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>

#include "math/matrix.h"

namespace Aztec::Math {

Homography fitHomography(Point2d s0, Point2d s1, Point2d s2, Point2d s3,
                         Point2d t0, Point2d t1, Point2d t2, Point2d t3) {
    std::array<std::array<double, 8>, 8> a{};
    std::array<double, 8> b{};
    const Point2d src[4] = {s0, s1, s2, s3};
    const Point2d dst[4] = {t0, t1, t2, t3};
    for (std::size_t k = 0; k < 4; ++k) {
        const double u = src[k].x, v = src[k].y, x = dst[k].x, y = dst[k].y;
        const std::size_t r = 2 * k;
        // a u + b v + c - g x u - h x v = x, and the same for y with d, e, f.
        a[r][0] = -u;
        a[r][1] = -v;
        a[r][2] = -1.0;
        a[r][6] = x * u;
        a[r][7] = x * v;
        b[r] = -x;
        a[r + 1][3] = -u;
        a[r + 1][4] = -v;
        a[r + 1][5] = -1.0;
        a[r + 1][6] = y * u;
        a[r + 1][7] = y * v;
        b[r + 1] = -y;
    }
    solveInPlace(a, b);
    Homography h{};
    for (std::size_t i = 0; i < 8; ++i) h[i] = b[i];
    return h;
}

namespace {

// What a fit that cannot be made returns: every point maps to NaN, which
// toPixel places outside any image, so sampling simply finds nothing.
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr Homography kNoFit = {kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};

// A measured point can be non-finite (an edge fit through no points); it
// would make every sum NaN, and the solver would then find no pivot.
bool allFinite(std::span<const Point2d> a, std::span<const Point2d> b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isfinite(a[i].x) || !std::isfinite(a[i].y) || !std::isfinite(b[i].x) || !std::isfinite(b[i].y))
            return false;
    return true;
}

}  // namespace

Homography fitHomographyLeastSquares(const std::vector<Point2d>& sources, const std::vector<Point2d>& destinations) {
    // Normal equations of the linearised system, with both sides centred and
    // scaled to about unit size so that the 8 x 8 solve stays well
    // conditioned; the result is mapped back afterwards.
    const std::size_t n = std::min(sources.size(), destinations.size());
    if (n < 4) throw std::invalid_argument("a perspective fit needs four point pairs");
    if (!allFinite(sources, destinations, n)) return kNoFit;
    double su = 0, sv = 0, sx = 0, sy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        su += sources[i].x; sv += sources[i].y; sx += destinations[i].x; sy += destinations[i].y;
    }
    const double cu = su / n, cv = sv / n, cx = sx / n, cy = sy / n;
    double ks = 0, kd = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ks += std::hypot(sources[i].x - cu, sources[i].y - cv);
        kd += std::hypot(destinations[i].x - cx, destinations[i].y - cy);
    }
    ks = ks > 0 ? n / ks : 1.0;
    kd = kd > 0 ? n / kd : 1.0;

    std::array<std::array<double, 8>, 8> ata{};
    std::array<double, 8> atb{};
    for (std::size_t i = 0; i < n; ++i) {
        const double u = (sources[i].x - cu) * ks, v = (sources[i].y - cv) * ks;
        const double x = (destinations[i].x - cx) * kd, y = (destinations[i].y - cy) * kd;
        const double rows[2][8] = {{u, v, 1, 0, 0, 0, -x * u, -x * v}, {0, 0, 0, u, v, 1, -y * u, -y * v}};
        const double rhs[2] = {x, y};
        for (std::size_t r = 0; r < 2; ++r) {
            for (std::size_t j = 0; j < 8; ++j) {
                for (std::size_t k = 0; k < 8; ++k) ata[j][k] += rows[r][j] * rows[r][k];
                atb[j] += rows[r][j] * rhs[r];
            }
        }
    }
    try {
        solveInPlace(ata, atb);
    } catch (const MatrixSingularException&) {
        return kNoFit;  // all sources on one point
    }
    const std::array<double, 8>& h = atb;
    // Undo the normalisation: u' = ks (u - cu), x = x' / kd + cx.
    const double g = h[6] * ks, hh = h[7] * ks;
    const double w0 = 1.0 - h[6] * ks * cu - h[7] * ks * cv;  // denominator constant
    auto numerator = [&](double a, double b, double c, double centre) {
        // (a u' + b v' + c) / kd + centre (g u' + h v' + 1), in terms of u, v.
        const double na = a * ks / kd + centre * g;
        const double nb = b * ks / kd + centre * hh;
        const double nc = (c - a * ks * cu - b * ks * cv) / kd + centre * w0;
        return std::array<double, 3>{na, nb, nc};
    };
    const auto nx = numerator(h[0], h[1], h[2], cx);
    const auto ny = numerator(h[3], h[4], h[5], cy);
    return {nx[0] / w0, nx[1] / w0, nx[2] / w0, ny[0] / w0, ny[1] / w0, ny[2] / w0, g / w0, hh / w0};
}

Homography fitAffineLeastSquares(std::span<const Point2d> sources, std::span<const Point2d> destinations) {
    const std::size_t n = std::min(sources.size(), destinations.size());
    if (n < 3) throw std::invalid_argument("an affine fit needs three point pairs");
    if (!allFinite(sources, destinations, n)) return kNoFit;
    std::array<std::array<double, 3>, 3> ata{};
    std::array<double, 3> x{}, y{};
    for (std::size_t i = 0; i < n; ++i) {
        const double row[3] = {sources[i].x, sources[i].y, 1.0};
        for (std::size_t j = 0; j < 3; ++j) {
            for (std::size_t k = 0; k < 3; ++k) ata[j][k] += row[j] * row[k];
            x[j] += row[j] * destinations[i].x;
            y[j] += row[j] * destinations[i].y;
        }
    }
    try {
        auto lu = ata;
        solveInPlace(lu, x);
        lu = ata;
        solveInPlace(lu, y);
    } catch (const MatrixSingularException&) {
        return kNoFit;  // all sources on one point
    }
    return {x[0], x[1], x[2], y[0], y[1], y[2], 0.0, 0.0};
}

}  // namespace Aztec::Math
