// The frames of the accuracy report and the soak: camera-like frames
// rendered from libzint symbols, one kind per category, each with the
// bytes it must read back (or none), and frames that must read nothing.
// Every frame follows from its category, index and seed alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "math/homography.h"
#include "support/frame_renderer.h"

namespace quarrow_test {

enum class Category {
    Clean,
    Blur30,
    Blur45,
    Blur60,
    Blur75,
    Blur90,
    Rotation,
    Tilt,
    TwoPixel,
    Fill,
    Anywhere,
    Several,
    LightOnDark,
    CameraMix,
    // Symbols printed as round dots, kept apart from the categories above
    // (and their golden table): dots 0.6-0.7, 0.7-0.8 and 0.8-0.9 of the pitch.
    Dots60,
    Dots70,
    Dots80,
    // Symbols wrapped round cylinders, kept apart likewise: wrap angles of
    // 29-45, 45-63 and 63-92 degrees.
    Curved30,
    Curved45,
    Curved63,
    // A specular highlight over part of the symbol (glossy paper, a
    // phone's screen), kept apart likewise.
    Glare,
    // Paper that is not flat: the symbol displaced smoothly by up to
    // 0.3-0.8 module, kept apart likewise.
    Warped,
    // Small and soft: 2-2.5 px/module blurred by half a module (a small
    // symbol held far from the camera), kept apart likewise.
    SmallBlurred,
};

inline constexpr Category kDotCategories[] = {Category::Dots60, Category::Dots70, Category::Dots80};
inline constexpr Category kCurvedCategories[] = {Category::Curved30, Category::Curved45, Category::Curved63};
inline constexpr Category kGlareCategories[] = {Category::Glare};
inline constexpr Category kWarpedCategories[] = {Category::Warped};
inline constexpr Category kSmallBlurredCategories[] = {Category::SmallBlurred};

inline constexpr Category kAllCategories[] = {
    Category::Clean,    Category::Blur30,   Category::Blur45,   Category::Blur60,      Category::Blur75,
    Category::Blur90,   Category::Rotation, Category::Tilt,     Category::TwoPixel,    Category::Fill,
    Category::Anywhere, Category::Several,  Category::LightOnDark, Category::CameraMix,
};

const char* categoryName(Category c);

struct FrameCase {
    Frame frame;
    // The symbols' bytes; with `all` every one must be read (readAll),
    // otherwise the one symbol.
    std::vector<std::string> expected;
    bool all = false;
    std::vector<FramePoint> centres;  // where each symbol's centre lies
    // Where the renderer put each symbol: its grid side and where grid
    // points (-s, -s), (s, -s), (s, s), (-s, s) landed, s = size / 2
    // modules from the centre of the centre module (renderer pixels, whose
    // centres lie at +0.5). For diagnosis against the exact transform.
    struct Placement {
        int size = 0;
        FramePoint corners[4];
        double module = 0.0;  // pixels per module at the centre
        double blur = 0.0;    // Gaussian blur, modules
        double noise = 0.0;   // sensor noise, grey levels
    };
    std::vector<Placement> placements;
};

FrameCase makeCase(Category category, int index, std::uint32_t seed);

// The exact transform of a placement: symbol grid, round the centre
// module, to reader pixels.
Aztec::Math::Homography exactTransform(const FrameCase::Placement& p);

// Largest distance, in modules of `module` pixels, between a fitted
// transform and the exact one over points `r` modules from the centre,
// under the best of the eight ways the fit's grid can be turned and
// mirrored against the renderer's.
double transformError(const Aztec::Math::Homography& fit, const Aztec::Math::Homography& exact, double r,
                      double module);

// Soak frames: damaged symbols, noise, text, lone bull's-eyes, QR- and
// Data Matrix-like patterns, empty frames. `original` is the damaged
// symbol's true content (empty when there is none): any read that differs
// from it is wrong.
struct SoakCase {
    Frame frame;
    std::string original;
};
// How the rendered soak frames (all but noise, clutter, empty and ramps)
// are spoilt further, each drawn apart so that the frames otherwise stay
// as they are.
struct SoakStyle {
    // Blurred by 0.45-1.0 module, where the reader tries most.
    bool blurred = false;
    // With `blurred`: camera noise of 3-12 grey levels (rather than 0-4),
    // where it also solves modules from every pixel.
    bool noisy = false;
    // A highlight of 150-250 grey levels somewhere over the frame's middle,
    // where mode rings are read against the bull's-eye's rings and their
    // doubtful words erased.
    bool glare = false;
    // Paper that is not flat: warped by 0.3-0.8 module, where symbols are
    // read through meshes tracked from their bull's-eyes.
    bool warped = false;
};
inline constexpr int kSoakKinds = 8;
const char* soakKindName(int kind);
SoakCase makeSoakCase(int kind, int index, std::uint32_t seed, SoakStyle style = {});

struct Tally {
    int frames = 0;
    int read = 0;
    int wrong = 0;
    int cleanCorrections = 0;  // clean frames read with corrected codewords
};

// Reads `count` frames of a category through the public API: frames 0,
// step, 2 step, ...
Tally runCategory(Category category, int count, std::uint32_t seed, int step = 1);
// Reads `count` soak frames of a kind; `read` counts frames that read at all.
Tally runSoak(int kind, int count, std::uint32_t seed, SoakStyle style = {});

}  // namespace quarrow_test
