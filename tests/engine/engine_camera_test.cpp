// End to end on camera-like frames: displaced, turned by arbitrary angles,
// tilted in perspective, blurred and noisy, and all of it at once. A read
// must give the symbol's exact bytes or nothing; wrong bytes fail at once.
// Read rates are printed per category and held above measured floors.
#include <gtest/gtest.h>

#include <random>

#include "engine/engine_cases.h"

namespace {

using namespace quarrow_test;
using AztecCore::ReadOutcome;

constexpr double kModuleSizes[] = {3.0, 4.0, 5.0, 6.0, 3.5, 4.5};
constexpr int kModuleSizeCount = 6;
constexpr int kFrameSizeCount = 4;
constexpr double kMaxDisplacement = 40.0;  // pixels, both axes
constexpr double kMaxAngle = 30.0;         // degrees, arbitrary in-plane turns
constexpr double kMinAngle = 5.0;
constexpr double kMinTilt = 10.0;          // degrees, perspective
constexpr double kMaxTilt = 20.0;
// Full runs draw this many frames per size and category, each with its
// own content and camera; quick runs one.
constexpr int kFullRunVariants = 2;
constexpr int kVariantStep = 100;
// How much larger than its square a turned or tilted symbol may appear.
constexpr double kAngledSpread = 1.42;
constexpr double kTiltSpread = 1.3;

// Read-rate floors. Measured (full run of two frames per size / quick run):
// displaced, angled, perspective and camera 100% / 100%, blur+noise
// 98.6% / 100%. Displaced and angled frames are clean and must all read;
// the others sit a little below the measurement so that a regression shows.
constexpr double kDisplacedReadRateFloor = 1.0;
constexpr double kAngledReadRateFloor = 1.0;
constexpr double kPerspectiveReadRateFloor = 0.95;
constexpr double kBlurNoiseReadRateFloor = 0.95;
constexpr double kCameraReadRateFloor = 0.95;

double between(std::mt19937& rng, double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(rng()) / 4294967296.0);
}
double signedBetween(std::mt19937& rng, double lo, double hi) {
    const double v = between(rng, lo, hi);
    return (rng() & 1u) ? v : -v;
}

std::string describeOptions(const SymbolCase& sc, const RenderOptions& o) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s %dx%d module %.2f d(%.0f,%.0f) rot %.1f%s tilt(%.1f,%.1f) blur %.2f noise %.1f",
                  sc.label.c_str(), o.width, o.height, o.moduleSize, o.dx, o.dy, o.rotationDeg,
                  o.mirror ? " mirrored" : "", o.tiltXDeg, o.tiltYDeg, o.blurSigma, o.noiseSigma);
    return buf;
}

// Runs one category over the sizes: `shape` sets the frame up for a case
// and returns whether the rotation text can be compared exactly.
template <typename Shape>
Tally runCategory(const std::string& name, int categoryBase, Shape shape) {
    Tally tally{name};
    const int variants = quickRun() ? 1 : kFullRunVariants;
    for (int v = 0; v < variants; ++v)
    for (int size : sizesToTest()) {
        const int variantBase = categoryBase + kVariantStep * v;
        const SymbolCase sc = makeCase(size, size + variantBase);
        std::mt19937 rng(static_cast<std::uint32_t>(size * 7919 + variantBase));
        RenderOptions o;
        o.seed = static_cast<std::uint32_t>(size * 31 + variantBase);
        int turns = 0;
        const bool exactRotation = shape(size, rng, o, turns, sc.grid.size);
        const ModuleGrid drawn = transformGrid(sc.grid, turns, false);
        const ModuleGrid seen = transformGrid(sc.grid, turns, o.mirror);
        const std::string at = describeOptions(sc, o);
        const ReadResult r = checkFrame(sc, renderSymbol(drawn, o), expectedDescription(seen), exactRotation, tally, at);
        if (r.outcome != ReadOutcome::Read) std::printf("  not read: %s: %s%s\n", at.c_str(), r.message.c_str(), r.what.c_str());
    }
    tally.print();
    return tally;
}

TEST(EngineCamera, DisplacedFrames) {
    const Tally t = runCategory("displaced", 10, [](int size, std::mt19937& rng, RenderOptions& o, int&, int n) {
        o.dx = between(rng, -kMaxDisplacement, kMaxDisplacement);
        o.dy = between(rng, -kMaxDisplacement, kMaxDisplacement);
        placeSymbol(o, n, size % kFrameSizeCount, kModuleSizes[size % kModuleSizeCount], 1.0, kMaxDisplacement + 8);
        return true;
    });
    EXPECT_EQ(t.wrong, 0);
    EXPECT_GE(t.rate(), kDisplacedReadRateFloor);
}

TEST(EngineCamera, ArbitraryAngles) {
    const Tally t = runCategory("angled", 20, [](int size, std::mt19937& rng, RenderOptions& o, int& turns, int n) {
        o.rotationDeg = signedBetween(rng, kMinAngle, kMaxAngle);
        turns = static_cast<int>(rng() % 4);
        placeSymbol(o, n, (size + 1) % kFrameSizeCount, kModuleSizes[(size + 1) % kModuleSizeCount], kAngledSpread, 8);
        return false;
    });
    EXPECT_EQ(t.wrong, 0);
    EXPECT_GE(t.rate(), kAngledReadRateFloor);
}

TEST(EngineCamera, PerspectiveTilt) {
    const Tally t = runCategory("perspective", 30, [](int size, std::mt19937& rng, RenderOptions& o, int& turns, int n) {
        switch (rng() % 3) {
            case 0: o.tiltXDeg = signedBetween(rng, kMinTilt, kMaxTilt); break;
            case 1: o.tiltYDeg = signedBetween(rng, kMinTilt, kMaxTilt); break;
            default:
                o.tiltXDeg = signedBetween(rng, kMinTilt, kMaxTilt);
                o.tiltYDeg = signedBetween(rng, kMinTilt, kMaxTilt);
                break;
        }
        turns = static_cast<int>(rng() % 4);
        placeSymbol(o, n, (size + 2) % kFrameSizeCount, kModuleSizes[(size + 2) % kModuleSizeCount], kTiltSpread, 8);
        return true;
    });
    EXPECT_EQ(t.wrong, 0);
    EXPECT_GE(t.rate(), kPerspectiveReadRateFloor);
}

TEST(EngineCamera, BlurNoiseAndUnevenLight) {
    const Tally t = runCategory("blur+noise", 40, [](int size, std::mt19937& rng, RenderOptions& o, int& turns, int n) {
        o.blurSigma = between(rng, 0.5, 1.2);
        o.noiseSigma = between(rng, 2.0, 6.0);
        o.gradient = between(rng, 0.0, 0.35);
        o.gradientAngleDeg = between(rng, 0.0, 360.0);
        o.dark = static_cast<int>(between(rng, 20, 70));
        o.light = static_cast<int>(between(rng, 170, 235));
        turns = static_cast<int>(rng() % 4);
        placeSymbol(o, n, (size + 3) % kFrameSizeCount, kModuleSizes[(size + 3) % kModuleSizeCount], 1.0, 8);
        return true;
    });
    EXPECT_EQ(t.wrong, 0);
    EXPECT_GE(t.rate(), kBlurNoiseReadRateFloor);
}

// Everything mild at once, on a cluttered scene: what a hand-held phone sees.
TEST(EngineCamera, HandHeldCamera) {
    const Tally t = runCategory("camera", 50, [](int size, std::mt19937& rng, RenderOptions& o, int& turns, int n) {
        o.dx = between(rng, -kMaxDisplacement / 2, kMaxDisplacement / 2);
        o.dy = between(rng, -kMaxDisplacement / 2, kMaxDisplacement / 2);
        o.rotationDeg = between(rng, -8.0, 8.0);
        o.tiltXDeg = between(rng, -12.0, 12.0);
        o.tiltYDeg = between(rng, -12.0, 12.0);
        o.mirror = (rng() % 4) == 0;
        o.blurSigma = between(rng, 0.4, 0.9);
        o.noiseSigma = between(rng, 1.0, 4.0);
        o.gradient = between(rng, 0.0, 0.3);
        o.gradientAngleDeg = between(rng, 0.0, 360.0);
        o.clutter = 15;
        turns = static_cast<int>(rng() % 4);
        placeSymbol(o, n, size % kFrameSizeCount, kModuleSizes[(size + 4) % kModuleSizeCount], kTiltSpread,
                    kMaxDisplacement / 2 + 8);
        return false;
    });
    EXPECT_EQ(t.wrong, 0);
    EXPECT_GE(t.rate(), kCameraReadRateFloor);
}

}  // namespace
