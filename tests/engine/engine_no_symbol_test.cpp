// Frames that hold no Aztec symbol: the engine must answer no data, with
// the outcome and message of a failed search.
#include <gtest/gtest.h>

#include "engine/engine_cases.h"

namespace {

using namespace quarrow_test;
using AztecCore::ReadOutcome;

const std::string kNotAztec = "Code has been detected, but this is not Aztec";
const std::string kPoorQuality = "Aztec code detected. The image quality does not allow for reading the data. ";

// A frame without any bull's-eye: exactly the "not Aztec" answer.
void expectNoBullseye(const Frame& f, const std::string& what) {
    const ReadResult r = readFrame(f);
    EXPECT_FALSE(r.threw) << what << ": " << r.what;
    EXPECT_EQ(r.outcome, ReadOutcome::NotLocated) << what;
    EXPECT_EQ(r.message, kNotAztec) << what;
    EXPECT_TRUE(r.bytes.empty()) << what;
}

// Busy frames: never data, and one of the two failure answers.
void expectNothingRead(const Frame& f, const std::string& what, int& poorQuality) {
    const ReadResult r = readFrame(f);
    EXPECT_NE(r.outcome, ReadOutcome::Read) << what << ": " << r.message;
    EXPECT_TRUE(r.bytes.empty()) << what;
    if (r.threw) {
        std::printf("  %s: exception %s\n", what.c_str(), r.what.c_str());
        return;
    }
    if (r.outcome == ReadOutcome::NotLocated && r.message.rfind(kPoorQuality, 0) == 0) {
        ++poorQuality;
        return;
    }
    if (r.outcome == ReadOutcome::NotLocated) {
        EXPECT_EQ(r.message, kNotAztec) << what;
    } else {
        EXPECT_EQ(r.message.rfind("Detected barcode area (", 0), 0u) << what << ": " << r.message;
    }
}

TEST(EngineNoSymbol, UniformFrames) {
    for (int v : {0, 1, 127, 128, 254, 255}) {
        expectNoBullseye(uniformFrame(640, 480, static_cast<std::uint8_t>(v)), "uniform " + std::to_string(v));
    }
    expectNoBullseye(uniformFrame(1920, 1080, 200), "uniform 1080p");
    // Small frames, where the whole blob window once passed for a ring.
    for (const auto& [w, h] : {std::pair{200, 150}, {150, 200}, {64, 64}, {31, 17}}) {
        expectNoBullseye(uniformFrame(w, h, 180), "uniform " + std::to_string(w) + "x" + std::to_string(h));
    }
}

TEST(EngineNoSymbol, GradientFrames) {
    expectNoBullseye(gradientFrame(640, 480, 0, 255, 0.0), "horizontal ramp");
    expectNoBullseye(gradientFrame(1280, 720, 30, 220, 90.0), "vertical ramp");
    expectNoBullseye(gradientFrame(1920, 1080, 250, 10, 33.0), "diagonal ramp");
}

TEST(EngineNoSymbol, NoiseFrames) {
    int poor = 0;
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        expectNothingRead(noiseFrame(640, 480, 128.0, 10.0 * seed, seed), "noise " + std::to_string(seed), poor);
    }
    expectNothingRead(noiseFrame(1920, 1080, 100.0, 60.0, 9), "noise 1080p", poor);
    std::printf("[ rates    ] noise frames with a confirmed bull's-eye: %d of 5\n", poor);
}

TEST(EngineNoSymbol, ClutterFrames) {
    int poor = 0;
    const int frames = quickRun() ? 4 : 12;
    for (int i = 0; i < frames; ++i) {
        const int w = i % 2 ? 1280 : 640, h = i % 2 ? 720 : 480;
        expectNothingRead(clutterFrame(w, h, 20 + 10 * i, static_cast<std::uint32_t>(100 + i)),
                          "clutter " + std::to_string(i), poor);
    }
    std::printf("[ rates    ] clutter frames with a confirmed bull's-eye: %d of %d\n", poor, frames);
}

// A real finder among random modules: the bull's-eye is confirmed, the mode
// message is not, so the engine reports a symbol it cannot read.
TEST(EngineNoSymbol, LoneBullseyeWithRandomModules) {
    for (bool fullRange : {true, false}) {
        for (std::uint32_t seed = 1; seed <= 3; ++seed) {
            const ModuleGrid g = loneBullseyeGrid(fullRange, fullRange ? 31 : 23, seed);
            RenderOptions o;
            placeSymbol(o, g.size, static_cast<int>(seed % 3), 3.0 + seed, 1.0, 8.0);
            o.seed = seed;
            if (seed == 3) {
                o.blurSigma = 0.7;
                o.noiseSigma = 3.0;
            }
            const std::string what = std::string(fullRange ? "full-range" : "compact") + " bull's-eye, seed " +
                                     std::to_string(seed);
            const ReadResult r = readFrame(renderSymbol(g, o));
            EXPECT_FALSE(r.threw) << what << ": " << r.what;
            EXPECT_EQ(r.outcome, ReadOutcome::NotLocated) << what << ": " << r.message;
            EXPECT_TRUE(r.bytes.empty()) << what;
            ASSERT_EQ(r.message.rfind(kPoorQuality, 0), 0u) << what << ": " << r.message;
            const std::string desc = r.message.substr(kPoorQuality.size());
            // The type is that of the last seed whose bull's-eye test passed;
            // seeds off the centre may see a compact finder in the pattern
            // or in the random modules, so either letter is plausible.
            EXPECT_TRUE(desc.rfind("(C ", 0) == 0 || desc.rfind("(F ", 0) == 0) << what << ": " << desc;
            // No mode message was read, so its figures stay zero.
            EXPECT_NE(desc.find(" L: 0 D: 0 ECC: 0%)"), std::string::npos) << what << ": " << desc;
        }
    }
}

}  // namespace
