// The finder's noise estimate, which sets the hysteresis of the frame
// search's noise round: on flat frames and on busy ones (whose edges must
// not pass for noise) it must come out near the sensor noise put in. A
// finder kept for the noise round's further passes over the same frame
// must answer each pass exactly as a fresh one (reading the flips an
// earlier pass kept for it, or keeping a later one's), and the row pass must
// find the same hits with AVX2 as without.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "accuracy/frame_cases.h"
#include "locate/bullseye_finder.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;

// A 640 x 480 frame of a 5-layer symbol 150 pixels right of the centre.
struct SymbolShot {
    double module, rotationDeg, noise, blurModules;
};
Frame symbolFrame(const char* text, const SymbolShot& shot) {
    ModuleGrid g;
    EXPECT_TRUE(encodeAztec(text, {.size = 5}, g));
    RenderOptions o;
    o.width = 640;
    o.height = 480;
    o.moduleSize = shot.module;
    o.rotationDeg = shot.rotationDeg;
    o.dx = 150.0;
    o.noiseSigma = shot.noise;
    o.blurSigma = shot.blurModules * shot.module;
    return renderSymbol(g, o);
}

// How many hits both lists hold; each hit must be the same in both.
std::size_t expectSameHits(const std::vector<AztecCore::Locate::FinderHit>& a,
                           const std::vector<AztecCore::Locate::FinderHit>& b) {
    EXPECT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < std::min(a.size(), b.size()); ++k) {
        EXPECT_EQ(a[k].x, b[k].x);
        EXPECT_EQ(a[k].y, b[k].y);
        EXPECT_EQ(a[k].module, b[k].module);
        EXPECT_EQ(a[k].lightOnDark, b[k].lightOnDark);
        EXPECT_EQ(a[k].rows, b[k].rows);
    }
    return a.size();
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

// The estimate counts sixteen differences at a time where it can: on every
// width and stride, with a flat stretch beside a busy one (the flat share
// round a half, where every zero counted moves the median), it must be the
// median of the sizes of the sampled rows' second differences.
TEST(FinderNoise, EstimateIsTheMedianOfEverySampledRowsDifferences) {
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> level(0, 255);
    for (const int width : {3, 17, 18, 19, 50, 131, 300}) {
        for (const double flat : {0.0, 0.45, 0.5, 0.55, 1.0}) {
            const int height = 40, stride = width + 7;
            std::vector<std::uint8_t> px(static_cast<std::size_t>(stride) * height, 90);
            std::vector<int> sizes;
            for (int y = 0; y < height; ++y) {
                std::uint8_t* row = px.data() + y * stride;
                for (int x = static_cast<int>(flat * width); x < width; ++x) row[x] = static_cast<std::uint8_t>(level(rng));
                for (int x = 1; y % 16 == 8 && x + 1 < width; ++x) sizes.push_back(std::abs(row[x - 1] - 2 * row[x] + row[x + 1]));
            }
            std::sort(sizes.begin(), sizes.end());
            const double median = sizes.empty() ? 0.0 : sizes[(sizes.size() + 1) / 2 - 1];
            SCOPED_TRACE(testing::Message() << "width " << width << ", flat " << flat);
            const AztecCore::Locate::GreyView v{px.data(), width, height, stride};
            EXPECT_DOUBLE_EQ(AztecCore::Locate::estimateNoise(v), median / (0.6745 * std::sqrt(6.0)));
        }
    }
}

TEST(FinderNoise, KeptFinderAnswersEveryPassAsAFreshOne) {
    struct Case {
        const char* name;
        Frame frame;
    };
    const Case cases[] = {
        {"symbol, noise 5, blur", symbolFrame("kept finder", {4.0, 20.0, 5.0, 1.5 / 4.0})},
        {"clutter, none", clutterFrame(640, 480, 40, 3)},
        {"clutter, 8", withNoise(clutterFrame(640, 480, 40, 3), 8.0, 4)},
    };
    std::size_t hits = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AztecCore::Locate::GreyView v{c.frame.pixels.data(), c.frame.width, c.frame.height, c.frame.width};
        const double noise = AztecCore::Locate::estimateNoise(v);
        const AztecCore::Locate::BullseyeFinder kept(v, noise);
        // The default, the noise round's hystereses, the default again, one
        // polarity; each pass asked to keep the next one's flips (which the
        // 3.0 and the last 1.5 passes then read, and the 6.0 one finds).
        const double sequence[] = {1.5, 3.0, 6.0, 1.5};
        for (std::size_t at = 0; at < std::size(sequence); ++at) {
            const double hysteresis = sequence[at];
            for (const bool both : {true, false}) {
                AztecCore::Locate::FinderOptions fo;
                fo.hysteresis = hysteresis;
                fo.lightOnDark = both;
                fo.keepFlipsFor = at + 1 < std::size(sequence) ? sequence[at + 1] : 0.0;
                SCOPED_TRACE(hysteresis);
                AztecCore::Locate::FinderOptions fresh = fo;
                fresh.keepFlipsFor = 0.0;
                hits += expectSameHits(kept.find(fo), AztecCore::Locate::findBullseyes(v, fresh, noise));
            }
        }
    }
    EXPECT_GT(hits, 0u);  // the comparison is not of empty lists only
}

// Told the frame's noise, the finder leaves a noisy blank stretch alone
// (untold, noise makes hits there), yet still finds a blurred bull's-eye
// in as much noise.
TEST(FinderNoise, ToldNoiseSkipsBlankStretchesButNotSymbols) {
    const SymbolShot shot{5.0, 0.0, 4.0, 0.6};
    const Frame symbol = symbolFrame("noise told", shot);
    const Frame blank = withNoise(uniformFrame(640, 480, 120), 4.0, 7);
    auto hitsOf = [](const Frame& f, bool told) {
        const AztecCore::Locate::GreyView v{f.pixels.data(), f.width, f.height, f.width};
        return AztecCore::Locate::findBullseyes(v, {}, told ? AztecCore::Locate::estimateNoise(v) : 0.0);
    };
    EXPECT_GT(hitsOf(blank, false).size(), 0u);
    EXPECT_EQ(hitsOf(blank, true).size(), 0u);
    bool onSymbol = false;
    for (const auto& h : hitsOf(symbol, true))
        onSymbol = onSymbol || std::hypot(h.x - (320.0 + 150.0), h.y - 240.0) < 2.0 * shot.module;
    EXPECT_TRUE(onSymbol);
}

}  // namespace

// The row pass's AVX2 path (taken where the processor has it) against the
// baseline one, on camera-mix and light-on-dark frames and at the noise
// round's hystereses. Where the processor lacks AVX2 both take the
// baseline and the test shows nothing.
TEST(BullseyeFinder, WideAndBaselineRowPassesFindTheSameHits) {
    using quarrow_test::Category;
    std::size_t hits = 0;
    for (const Category category : {Category::CameraMix, Category::LightOnDark, Category::TwoPixel}) {
        for (int index = 0; index < 12; ++index) {
            SCOPED_TRACE(quarrow_test::categoryName(category) + std::string(" ") + std::to_string(index));
            const Frame f = quarrow_test::makeCase(category, index, 4242).frame;
            const AztecCore::Locate::GreyView v{f.pixels.data(), f.width, f.height, f.width};
            const AztecCore::Locate::BullseyeFinder finder(v, AztecCore::Locate::estimateNoise(v));
            for (const double hysteresis : {1.5, 4.0}) {
                AztecCore::Locate::FinderOptions wide, baseline;
                wide.hysteresis = baseline.hysteresis = hysteresis;
                baseline.wideVectors = false;
                hits += expectSameHits(finder.find(wide), finder.find(baseline));
            }
        }
    }
    EXPECT_GT(hits, 36u);  // hits in most frames, not empty lists only
}
