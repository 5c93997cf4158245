#include "math/perspective.h"

#include <cmath>
#include <limits>
#include <memory>

#include "math/matrix.h"

namespace Aztec::Math {

Homography fitHomography(Point2d s0, Point2d s1, Point2d s2, Point2d s3,
                         Point2d t0, Point2d t1, Point2d t2, Point2d t3) {
    auto a = std::make_shared<Matrix>(8, 8);
    auto b = std::make_shared<Matrix>(8, 1);
    const Point2d src[4] = {s0, s1, s2, s3};
    const Point2d dst[4] = {t0, t1, t2, t3};
    for (int k = 0; k < 4; ++k) {
        const double u = src[k].x, v = src[k].y, x = dst[k].x, y = dst[k].y;
        const int r = 2 * k;
        // a u + b v + c - g x u - h x v = x, and the same for y with d, e, f.
        a->at(r, 0) = -u;
        a->at(r, 1) = -v;
        a->at(r, 2) = -1.0;
        a->at(r, 6) = x * u;
        a->at(r, 7) = x * v;
        b->at(r, 0) = -x;
        a->at(r + 1, 3) = -u;
        a->at(r + 1, 4) = -v;
        a->at(r + 1, 5) = -1.0;
        a->at(r + 1, 6) = y * u;
        a->at(r + 1, 7) = y * v;
        b->at(r + 1, 0) = -y;
    }
    const auto x = Matrix::Solve(a, b);
    Homography h{};
    for (int i = 0; i < 8; ++i) h[static_cast<std::size_t>(i)] = x->at(i, 0);
    return h;
}

Point2d mapPoint(const Homography& h, double u, double v) {
    const double w = h[6] * u + h[7] * v + 1.0;
    return {(h[0] * u + h[1] * v + h[2]) / w, (h[3] * u + h[4] * v + h[5]) / w};
}

std::int32_t toPixel(double value) {
    constexpr double kMin = static_cast<double>(std::numeric_limits<std::int32_t>::min());
    constexpr double kMax = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    if (!std::isfinite(value) || value <= kMin - 1.0 || value >= kMax + 1.0) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace Aztec::Math
