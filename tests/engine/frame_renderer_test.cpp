// The synthetic camera frames themselves: geometry, anti-aliasing, noise,
// determinism and the no-symbol helpers. The end-to-end tests are only as
// good as these frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "decode/mode_message.h"
#include "support/frame_renderer.h"
#include "support/grid_reading.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;

ModuleGrid testGrid(int size) {
    ModuleGrid g;
    EXPECT_TRUE(encodeAztec("Quarrow renderer test 0123456789", {.size = size}, g));
    return g;
}

// The pixel under the centre of every module shows that module's level.
void expectModulesAt(const Frame& f, const ModuleGrid& g, const RenderOptions& o, const std::string& what) {
    int bad = 0;
    for (int r = 0; r < g.size; ++r) {
        for (int c = 0; c < g.size; ++c) {
            const FramePoint p = gridToFrame(o, g.size, c + 0.5, r + 0.5);
            const int want = g.at(r, c) ? o.dark : o.light;
            if (f.at(static_cast<int>(p.x), static_cast<int>(p.y)) != want) ++bad;
        }
    }
    EXPECT_EQ(bad, 0) << what;
}

int maxDifference(const Frame& a, const Frame& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) worst = std::max(worst, std::abs(a.pixels[i] - b.pixels[i]));
    return worst;
}

TEST(FrameRenderer, UprightSymbolSitsOnTheFrameCentre) {
    const ModuleGrid g = testGrid(6);
    RenderOptions o;
    o.moduleSize = 4.0;
    const Frame f = renderSymbol(g, o);
    ASSERT_EQ(f.width, 640);
    ASSERT_EQ(f.height, 480);
    ASSERT_EQ(f.pixels.size(), 640u * 480u);
    expectModulesAt(f, g, o, "upright");
    // The centre module (dark) covers the frame centre; the quiet zone is
    // light; the scene beyond it has the background level.
    EXPECT_EQ(f.at(320, 240), o.dark);
    const double half = g.size / 2.0 * o.moduleSize;
    EXPECT_EQ(f.at(static_cast<int>(320 + half + 1.5 * o.moduleSize), 240), o.light);
    EXPECT_EQ(f.at(5, 5), o.background);
}

TEST(FrameRenderer, DisplacementMovesTheSymbol) {
    const ModuleGrid g = testGrid(2);
    RenderOptions o;
    o.dx = -37;
    o.dy = 23;
    const FramePoint centre = gridToFrame(o, g.size, g.size / 2.0, g.size / 2.0);
    EXPECT_DOUBLE_EQ(centre.x, 320 - 37);
    EXPECT_DOUBLE_EQ(centre.y, 240 + 23);
    expectModulesAt(renderSymbol(g, o), g, o, "displaced");
}

TEST(FrameRenderer, QuarterTurnMatchesTheTurnedGrid) {
    const ModuleGrid g = testGrid(7);
    RenderOptions o;
    o.moduleSize = 5.0;
    o.rotationDeg = 90.0;
    RenderOptions upright = o;
    upright.rotationDeg = 0.0;
    // Clockwise on screen, as transformGrid turns.
    EXPECT_LE(maxDifference(renderSymbol(g, o), renderSymbol(transformGrid(g, 1, false), upright)), 1);
}

TEST(FrameRenderer, MirrorMatchesTheMirroredGrid) {
    const ModuleGrid g = testGrid(3);
    RenderOptions o;
    o.mirror = true;
    RenderOptions plain = o;
    plain.mirror = false;
    EXPECT_LE(maxDifference(renderSymbol(g, o), renderSymbol(transformGrid(g, 0, true), plain)), 1);
}

TEST(FrameRenderer, ArbitraryAngleAndPerspectiveKeepEveryModule) {
    const ModuleGrid g = testGrid(10);
    RenderOptions o;
    o.width = 1280;
    o.height = 720;
    o.moduleSize = 5.0;
    o.rotationDeg = 23.0;
    o.tiltXDeg = 15.0;
    o.tiltYDeg = -18.0;
    o.mirror = true;
    expectModulesAt(renderSymbol(g, o), g, o, "angled and tilted");
}

TEST(FrameRenderer, TiltShrinksTheFarSide) {
    RenderOptions o;
    o.tiltYDeg = 20.0;
    const int n = 41;
    const double left = gridToFrame(o, n, 0, n).y - gridToFrame(o, n, 0, 0).y;
    const double right = gridToFrame(o, n, n, n).y - gridToFrame(o, n, n, 0).y;
    EXPECT_GT(std::max(left, right) / std::min(left, right), 1.05);
}

TEST(FrameRenderer, FractionalModulesAreAntiAliased) {
    const ModuleGrid g = testGrid(4);
    RenderOptions o;
    o.moduleSize = 3.3;
    const Frame f = renderSymbol(g, o);
    int between = 0;
    for (std::uint8_t p : f.pixels)
        if (p > o.dark && p < o.light && p != o.background) ++between;
    EXPECT_GT(between, 100) << "edges should show partial coverage";
}

TEST(FrameRenderer, DeterministicForASeed) {
    const ModuleGrid g = testGrid(8);
    RenderOptions o;
    o.blurSigma = 0.8;
    o.noiseSigma = 4.0;
    o.clutter = 10;
    o.gradient = 0.3;
    o.seed = 42;
    const Frame a = renderSymbol(g, o);
    EXPECT_EQ(a.pixels, renderSymbol(g, o).pixels);
    o.seed = 43;
    EXPECT_NE(a.pixels, renderSymbol(g, o).pixels);
}

TEST(FrameRenderer, NoiseHasTheAskedSpread) {
    const Frame f = noiseFrame(320, 240, 128.0, 10.0, 7);
    double sum = 0.0, sum2 = 0.0;
    for (std::uint8_t p : f.pixels) {
        sum += p;
        sum2 += static_cast<double>(p) * p;
    }
    const double n = static_cast<double>(f.pixels.size());
    const double mean = sum / n;
    EXPECT_NEAR(mean, 128.0, 0.5);
    EXPECT_NEAR(std::sqrt(sum2 / n - mean * mean), 10.0, 0.3);
}

TEST(FrameRenderer, BlurSoftensEdgesAndKeepsLevels) {
    const ModuleGrid g = testGrid(2);
    RenderOptions o;
    o.moduleSize = 6.0;
    const Frame sharp = renderSymbol(g, o);
    o.blurSigma = 1.5;
    const Frame soft = renderSymbol(g, o);
    long sharpSum = 0, softSum = 0;
    for (std::size_t i = 0; i < sharp.pixels.size(); ++i) {
        sharpSum += sharp.pixels[i];
        softSum += soft.pixels[i];
    }
    EXPECT_NEAR(static_cast<double>(softSum) / static_cast<double>(sharpSum), 1.0, 0.001);
    EXPECT_GT(maxDifference(sharp, soft), 40);
}

TEST(FrameRenderer, IlluminationFallsAcrossTheFrame) {
    RenderOptions o;
    o.gradient = 0.5;
    o.background = 200;
    const Frame f = renderSymbol(ModuleGrid{}, o);
    EXPECT_NEAR(f.at(0, 240), 200, 2);
    EXPECT_NEAR(f.at(639, 240), 100, 2);
}

TEST(FrameRenderer, NoSymbolHelpers) {
    const Frame u = uniformFrame(64, 48, 77);
    EXPECT_EQ(u.pixels, std::vector<std::uint8_t>(64 * 48, 77));
    const Frame ramp = gradientFrame(256, 10, 0, 255, 0.0);
    EXPECT_LE(ramp.at(0, 5), 1);
    EXPECT_GE(ramp.at(255, 5), 254);
    EXPECT_LT(ramp.at(100, 5), ramp.at(150, 5));
    const Frame c1 = clutterFrame(320, 240, 30, 5);
    EXPECT_EQ(c1.pixels, clutterFrame(320, 240, 30, 5).pixels);
    int levels[256] = {};
    for (std::uint8_t p : c1.pixels) levels[p] = 1;
    int distinct = 0;
    for (int l : levels) distinct += l;
    EXPECT_GT(distinct, 5) << "clutter should draw shapes of many shades";
}

TEST(FrameRenderer, LoneBullseyeIsAFinderWithoutAModeMessage) {
    for (bool fullRange : {true, false}) {
        for (std::uint32_t seed = 1; seed <= 5; ++seed) {
            const ModuleGrid g = loneBullseyeGrid(fullRange, fullRange ? 31 : 23, seed);
            ASSERT_EQ(g.size, fullRange ? 31 : 23);
            const int c = g.size / 2;
            const int rings = fullRange ? 6 : 4;
            for (int d = 0; d <= rings; ++d) {
                // Dark centre, then alternating rings.
                EXPECT_EQ(g.at(c - d, c), d % 2 == 0) << d;
                EXPECT_EQ(g.at(c, c + d), d % 2 == 0) << d;
            }
            AztecCore::SymbolCandidate cand;
            cand.type = bullseyeType(g);
            EXPECT_EQ(cand.type, fullRange ? AztecCore::SymbolType::FullRange : AztecCore::SymbolType::Compact);
            EXPECT_FALSE(Aztec::decodeModeMessage(cand, ringBits(g, cand.type)));
        }
    }
    // Different seeds give different modules.
    EXPECT_NE(loneBullseyeGrid(true, 31, 1).modules, loneBullseyeGrid(true, 31, 2).modules);
}

TEST(FrameRenderer, PgmRoundTrip) {
    const Frame f = noiseFrame(33, 17, 100.0, 50.0, 3);
    const std::string path = (std::filesystem::temp_directory_path() / "quarrow_renderer_test.pgm").string();
    ASSERT_TRUE(writePgm(path, f));
    Frame back;
    ASSERT_TRUE(readPgm(path, back));
    EXPECT_EQ(back.width, 33);
    EXPECT_EQ(back.height, 17);
    EXPECT_EQ(back.pixels, f.pixels);
    std::remove(path.c_str());
    EXPECT_FALSE(readPgm(path, back));
}

}  // namespace
