// The finder's noise estimate, which sets the hysteresis of the frame
// search's noise round: on flat frames and on busy ones (whose edges must
// not pass for noise) it must come out near the sensor noise put in.
#include <gtest/gtest.h>

#include <algorithm>

#include "locate/bullseye_finder.h"
#include "support/frame_renderer.h"

namespace {

using namespace quarrow_test;

Frame withNoise(Frame f, double sigma, std::uint32_t seed) {
    const Frame noise = noiseFrame(f.width, f.height, 128.0, sigma, seed);
    for (std::size_t i = 0; i < f.pixels.size(); ++i)
        f.pixels[i] = static_cast<std::uint8_t>(std::clamp(f.pixels[i] + noise.pixels[i] - 128, 0, 255));
    return f;
}

TEST(FinderNoise, EstimateFollowsTheSensorNoise) {
    struct Case {
        const char* name;
        Frame frame;
        double sigma;
    };
    const Case cases[] = {
        {"flat, none", uniformFrame(640, 480, 120), 0.0},
        {"flat, 3", withNoise(uniformFrame(640, 480, 120), 3.0, 1), 3.0},
        {"flat, 12", withNoise(uniformFrame(640, 480, 120), 12.0, 2), 12.0},
        {"clutter, none", clutterFrame(640, 480, 40, 3), 0.0},
        {"clutter, 8", withNoise(clutterFrame(640, 480, 40, 3), 8.0, 4), 8.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AztecCore::Locate::GreyView v{c.frame.pixels.data(), c.frame.width, c.frame.height, c.frame.width};
        // The median moves in steps of 0.6 grey levels of noise.
        EXPECT_NEAR(AztecCore::Locate::estimateNoise(v), c.sigma, std::max(0.7, 0.15 * c.sigma));
    }
}

}  // namespace
