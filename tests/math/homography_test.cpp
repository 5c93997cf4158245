// fitHomography and the pixel rule: exact fits, degenerate point sets that
// must not throw, and rounding to the nearest pixel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "math/homography.h"

namespace {

using Aztec::Math::fitHomography;
using Aztec::Math::Homography;
using Aztec::Math::mapPoint;
using Aztec::Math::toPixel;
using AztecCore::Point2d;

void expectCoefficients(const Homography& h, const Homography& want, double tol) {
    for (std::size_t i = 0; i < 8; ++i) EXPECT_NEAR(h[i], want[i], tol) << "coefficient " << i;
}

TEST(Perspective, IdentityAndScaledSquare) {
    const Point2d s[4] = {{0, 0}, {16, 0}, {16, 16}, {0, 16}};
    expectCoefficients(fitHomography(s[0], s[1], s[2], s[3], s[0], s[1], s[2], s[3]), {1, 0, 0, 0, 1, 0, 0, 0}, 1e-12);

    const Homography h = fitHomography({-3, -3}, {3, -3}, {3, 3}, {-3, 3}, {100, 100}, {160, 100}, {160, 160}, {100, 160});
    expectCoefficients(h, {10, 0, 130, 0, 10, 130, 0, 0}, 1e-9);
    const Point2d o = mapPoint(h, 0, 0), p = mapPoint(h, 5, -5);
    EXPECT_NEAR(o.x, 130, 1e-9);
    EXPECT_NEAR(o.y, 130, 1e-9);
    EXPECT_NEAR(p.x, 180, 1e-9);
    EXPECT_NEAR(p.y, 80, 1e-9);
}

TEST(Perspective, TrapezoidMapsEachSourceOntoItsDestination) {
    const Point2d s[4] = {{0, 0}, {16, 0}, {16, 16}, {0, 16}};
    const Point2d t[4] = {{100, 100}, {180, 110}, {170, 190}, {95, 175}};
    const Homography h = fitHomography(s[0], s[1], s[2], s[3], t[0], t[1], t[2], t[3]);
    EXPECT_TRUE(h[6] != 0.0 || h[7] != 0.0);
    for (int k = 0; k < 4; ++k) {
        const Point2d m = mapPoint(h, s[k].x, s[k].y);
        EXPECT_NEAR(m.x, t[k].x, 1e-9);
        EXPECT_NEAR(m.y, t[k].y, 1e-9);
    }
}

TEST(Perspective, DegeneratePointSetsDoNotThrow) {
    // Four collinear destinations: finite and flat.
    const Homography h = fitHomography({0, 0}, {16, 0}, {16, 16}, {0, 16}, {0, 0}, {1, 0}, {2, 0}, {3, 0});
    expectCoefficients(h, {0.1875, 0.1875, 0, 0, 0, 0, 0.125, 0}, 1e-12);
    // Collinear sources: the zero pivot substitute shows as huge or
    // non-finite coefficients.
    Homography c{};
    ASSERT_NO_THROW(c = fitHomography({0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 0}, {10, 1}, {20, 3}, {30, 2}));
    double biggest = 0;
    bool nonFinite = false;
    for (double v : c) {
        if (!std::isfinite(v)) nonFinite = true;
        else biggest = std::max(biggest, std::fabs(v));
    }
    EXPECT_TRUE(nonFinite || biggest > 1e15) << biggest;
}

TEST(Perspective, LeastSquaresFitsRecoverAnExactTransform) {
    const Homography truth = {3.1, 0.4, 200, -0.3, 2.9, 150, 0.002, -0.001};
    std::vector<Point2d> src, dst;
    for (int i = -2; i <= 2; ++i) {
        for (int j = -2; j <= 2; ++j) {
            src.push_back({16.0 * i, 16.0 * j});
            dst.push_back(mapPoint(truth, 16.0 * i, 16.0 * j));
        }
    }
    expectCoefficients(Aztec::Math::fitHomographyLeastSquares(src, dst), truth, 1e-6);
    const Homography affine = {2, 0.5, 10, -0.5, 2, 20, 0, 0};
    for (std::size_t k = 0; k < src.size(); ++k) dst[k] = mapPoint(affine, src[k].x, src[k].y);
    expectCoefficients(Aztec::Math::fitAffineLeastSquares(src, dst), affine, 1e-9);
}

TEST(Perspective, PixelIsTheNearestIntegerAndBadValuesAreOffImage) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    struct Case { double v; std::int32_t px; };
    for (const Case& c : {Case{2.49, 2}, Case{2.5, 3}, Case{2.51, 3}, Case{-0.4, 0}, Case{-0.5, 0}, Case{-0.6, -1},
                          Case{-1.7, -2}, Case{0.0, 0}, Case{2147483647.0, 2147483647},
                          Case{3e9, kMin}, Case{-3e9, kMin},
                          Case{std::numeric_limits<double>::infinity(), kMin},
                          Case{std::numeric_limits<double>::quiet_NaN(), kMin}}) {
        EXPECT_EQ(toPixel(c.v), c.px) << c.v;
    }
}

}  // namespace

TEST(Perspective, LeastSquaresFitsRefuseTooFewPoints) {
    const std::vector<Aztec::Math::Point2d> three = {{0, 0}, {1, 0}, {0, 1}};
    EXPECT_THROW(Aztec::Math::fitHomographyLeastSquares(three, three), std::invalid_argument);
    const std::vector<AztecCore::Point2d> two = {{0, 0}, {1, 0}};
    EXPECT_THROW(Aztec::Math::fitAffineLeastSquares(two, two), std::invalid_argument);
    EXPECT_THROW(Aztec::Math::fitHomographyLeastSquares({}, {}), std::invalid_argument);
}

// Points measured from a damaged frame can be NaN or infinite; the fits
// once threw the solver's singular-matrix exception, which the component
// turned into E_FAIL. Now they give a transform that maps off the image.
TEST(Perspective, LeastSquaresFitsOfBadPointsMapOffTheImage) {
    using Aztec::Math::fitAffineLeastSquares;
    using Aztec::Math::fitHomographyLeastSquares;
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const std::vector<Point2d> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {5, 5}};
    struct Case {
        const char* what;
        std::vector<Point2d> src, dst;
    };
    const Case cases[] = {
        {"NaN source", {{0, 0}, {10, 0}, {nan, 10}, {0, 10}, {5, 5}}, square},
        {"NaN destination", square, {{0, 0}, {10, 0}, {10, 10}, {0, nan}, {5, 5}}},
        {"infinite destination", square, {{0, 0}, {inf, 0}, {10, 10}, {0, 10}, {5, 5}}},
    };
    for (const Case& c : cases) {
        Homography fits[2];
        ASSERT_NO_THROW(fits[0] = fitHomographyLeastSquares(c.src, c.dst)) << c.what;
        ASSERT_NO_THROW(fits[1] = fitAffineLeastSquares(c.src, c.dst)) << c.what;
        for (const Homography& h : fits) {
            const Point2d p = mapPoint(h, 4, 6);
            EXPECT_EQ(toPixel(p.x), std::numeric_limits<std::int32_t>::min()) << c.what;
            EXPECT_EQ(toPixel(p.y), std::numeric_limits<std::int32_t>::min()) << c.what;
        }
    }
    // Sources on one point leave the perspective fit's normal equations
    // with rows of zeros: once the same exception.
    const std::vector<Point2d> onePoint(5, Point2d{3, 3});
    Homography flat{};
    ASSERT_NO_THROW(flat = fitHomographyLeastSquares(onePoint, square));
    EXPECT_EQ(toPixel(mapPoint(flat, 4, 6).x), std::numeric_limits<std::int32_t>::min());
    // Good points still fit.
    const Homography h = fitHomographyLeastSquares(square, square);
    EXPECT_NEAR(mapPoint(h, 4, 6).x, 4, 1e-9);
}
