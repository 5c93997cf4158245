// The whole-frame stages' sampler: bilinear inside the image, the nearest
// edge pixel outside it, and never a read outside the pixels, whatever
// point a degenerate transform asks for (NaN, infinities).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <limits>
#include <vector>

#include "locate/grey_view.h"

namespace {

using AztecCore::Locate::GreyView;
using AztecCore::Locate::Sampler;

TEST(Sampler, PointsOffTheImageTakeAnEdgePixel) {
    // 4 x 3 pixels, each 10 x + 50 y + 1, in a stride of 6.
    std::vector<std::uint8_t> px(6 * 3, 255);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) px[static_cast<std::size_t>(y * 6 + x)] = static_cast<std::uint8_t>(10 * x + 50 * y + 1);
    const GreyView view{px.data(), 4, 3, 6};
    constexpr double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    struct Case {
        double x, y, level;
    };
    const Case cases[] = {
        {1.5, 0.5, 41.0},  // bilinear inside
        {-7.0, 2.0, 101.0},  {9.0, -3.0, 31.0},  {1e300, 1e300, 131.0}, {-inf, inf, 101.0},
        {nan, 1.0, 51.0},    {2.0, nan, 21.0},   {nan, nan, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.x << ", " << c.y << ")");
        EXPECT_DOUBLE_EQ(Sampler(view, false).at(c.x, c.y), c.level);
        EXPECT_DOUBLE_EQ(Sampler(view, true).at(c.x, c.y), 255.0 - c.level);
        double out[2] = {};
        const double xs[2] = {c.x, c.x}, ys[2] = {c.y, c.y};
        Sampler(view, false).atEach(xs, ys, 2, out);
        EXPECT_DOUBLE_EQ(out[1], c.level);
        double gx = 0.0, gy = 0.0;
        EXPECT_DOUBLE_EQ(Sampler(view, false).levelAndSlopeAt(c.x, c.y, gx, gy), c.level);
    }
    // Inside a cell the slope is the bilinear surface's: 10 along x, 50 along y.
    double gx = 0.0, gy = 0.0;
    Sampler(view, true).levelAndSlopeAt(1.25, 0.75, gx, gy);
    EXPECT_DOUBLE_EQ(gx, -10.0);
    EXPECT_DOUBLE_EQ(gy, -50.0);
}

// The batched samplings give the one-point calls' values to the last bit
// (a -0 slope included), pairs inside, off and straddling the image alike:
// the whole-frame fits rely on it to read every frame as before.
TEST(Sampler, BatchedSamplingsMatchTheirOnePointCalls) {
    std::mt19937 rng(11);
    std::vector<std::uint8_t> px(23 * 17);
    for (auto& p : px) p = static_cast<std::uint8_t>(rng() % 256);
    px[5 * 23 + 7] = px[5 * 23 + 8] = px[6 * 23 + 7] = px[6 * 23 + 8] = 90;  // a flat cell: zero slopes
    const GreyView view{px.data(), 21, 17, 23};
    std::uniform_real_distribution<double> coord(-3.0, 24.0);
    constexpr std::size_t kPoints = 2000;
    std::vector<double> xs(kPoints), ys(kPoints);
    for (std::size_t k = 0; k < kPoints; ++k) {
        xs[k] = coord(rng);
        ys[k] = coord(rng);
    }
    xs[0] = 7.25, ys[0] = 5.5;  // inside the flat cell
    xs[1] = std::numeric_limits<double>::quiet_NaN();
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    for (bool invert : {false, true}) {
        const Sampler s(view, invert);
        std::vector<double> levels(kPoints), gxs(kPoints), gys(kPoints), plain(kPoints);
        s.levelAndSlopeEach(xs.data(), ys.data(), kPoints, levels.data(), gxs.data(), gys.data());
        s.atEach(xs.data(), ys.data(), kPoints, plain.data());
        for (std::size_t k = 0; k < kPoints; ++k) {
            SCOPED_TRACE(testing::Message() << "invert " << invert << " (" << xs[k] << ", " << ys[k] << ")");
            double gx = 0.0, gy = 0.0;
            const double level = s.levelAndSlopeAt(xs[k], ys[k], gx, gy);
            EXPECT_TRUE(same(levels[k], level) && same(gxs[k], gx) && same(gys[k], gy));
            EXPECT_TRUE(same(plain[k], s.at(xs[k], ys[k])));
        }
    }
}

}  // namespace
