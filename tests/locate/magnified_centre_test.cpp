// The magnified middle of a frame: where each copy pixel lies in the frame
// decides where a symbol read in the copy is reported, so the copy of a
// linear ramp must hold the ramp's level at exactly that place.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "locate/magnified_centre.h"
#include "math/homography.h"

namespace {

using AztecCore::Point2d;
using AztecCore::Locate::GreyView;

TEST(MagnifiedCentre, CopyPixelsHoldTheFrameLevelWhereTheyAreSaidToLie) {
    constexpr int kWidth = 120, kHeight = 100;
    std::vector<std::uint8_t> px(kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) px[static_cast<std::size_t>(y * kWidth + x)] = static_cast<std::uint8_t>(10 + x + y);
    const auto m = AztecCore::Locate::magnifiedCentre(GreyView{px.data(), kWidth, kHeight, kWidth}, 60);
    ASSERT_EQ(m.view.width, 120);
    ASSERT_EQ(m.view.height, 120);
    EXPECT_EQ(m.x0, 30);
    EXPECT_EQ(m.y0, 20);
    // Inside the square's border the interpolation of a ramp is the ramp.
    for (int v = 1; v < m.view.height - 1; ++v)
        for (int u = 1; u < m.view.width - 1; ++u) {
            const Point2d at = m.toFrame(Point2d{static_cast<double>(u), static_cast<double>(v)});
            ASSERT_LE(std::abs(m.view.at(u, v) - (10.0 + at.x + at.y)), 0.5) << u << ", " << v;
        }
    // A transform into the copy, carried into the frame, maps as its points do.
    const Aztec::Math::Homography inCopy{2.1, 0.3, 60.0, -0.4, 1.9, 55.0, 0.001, -0.002};
    const Aztec::Math::Homography inFrame = m.toFrame(inCopy);
    for (const Point2d g : {Point2d{-5.0, 3.0}, Point2d{7.5, -2.0}, Point2d{0.0, 0.0}}) {
        const Point2d want = m.toFrame(Aztec::Math::mapPoint(inCopy, g.x, g.y));
        const Point2d got = Aztec::Math::mapPoint(inFrame, g.x, g.y);
        EXPECT_NEAR(got.x, want.x, 1e-9);
        EXPECT_NEAR(got.y, want.y, 1e-9);
    }
    // Too small a frame has no middle worth magnifying.
    EXPECT_EQ(AztecCore::Locate::magnifiedCentre(GreyView{px.data(), 10, 10, kWidth}, 60).view.pixels, nullptr);
}

}  // namespace
