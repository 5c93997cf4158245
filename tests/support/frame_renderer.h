// Synthetic camera frames: a module grid drawn onto an 8-bit grey frame the
// way a phone camera would see it (scale, rotation, mirroring, perspective,
// anti-aliasing, uneven light, blur, sensor noise, background clutter),
// and frames that hold no symbol at all. Everything is deterministic for a
// given seed, on every platform: the random numbers come from our own
// generator, not from the standard library's distributions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "math/homography.h"
#include "support/zint_symbol.h"

namespace quarrow_test {

// Row-major 8-bit grey frame, rows exactly `width` bytes long.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    std::uint8_t at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
};

struct RenderOptions {
    int width = 640;
    int height = 480;
    double moduleSize = 4.0;     // pixels per module at the symbol centre
    double dx = 0.0;             // symbol centre displacement from the frame centre, pixels
    double dy = 0.0;
    double rotationDeg = 0.0;    // in-plane rotation, clockwise on screen
    bool mirror = false;         // mirrored left-right before rotation
    double tiltXDeg = 0.0;       // plane tilted about the horizontal axis (top edge away)
    double tiltYDeg = 0.0;       // plane tilted about the vertical axis
    int quietZone = 3;           // light modules round the symbol
    int dark = 30;               // grey level of a dark module
    int light = 220;             // grey level of a light module and the quiet zone
    int background = 120;        // grey level of the scene round the quiet zone
    double gradient = 0.0;       // illumination falls by this fraction across the frame
    double gradientAngleDeg = 0.0;  // direction in which the light falls
    // A specular highlight (glossy paper, a phone's screen): this many grey
    // levels added at (glareX, glareY), frame pixels, falling off as a
    // Gaussian of glareRadius pixels; levels past white saturate.
    double glare = 0.0;
    double glareX = 0.0;
    double glareY = 0.0;
    double glareRadius = 0.0;
    // Paper that is not flat (crumpled, wavy): each frame point shows the
    // scene at a point moved by up to `warp` pixels along smooth waves of
    // `warpWavelength` pixels, their phases drawn from the seed.
    double warp = 0.0;
    double warpWavelength = 0.0;
    int supersample = 4;         // samples per pixel side for area coverage
    double blurSigma = 0.0;      // Gaussian blur, pixels
    double noiseSigma = 0.0;     // Gaussian sensor noise, grey levels
    int clutter = 0;             // random rectangles and text lines behind the symbol
    double dotDiameter = 0.0;    // > 0: each dark module a round dot this share of the pitch wide
    // > 0: the symbol wrapped round a cylinder of this radius, in symbol
    // widths (grid sides), its centre on the line nearest the camera
    // before the tilt; the wrap angle is 1 / cylinderRadius radians. The
    // axis runs at cylinderAxisDeg in the symbol's plane, clockwise from
    // the frame's horizontal (after the in-plane rotation).
    double cylinderRadius = 0.0;
    double cylinderAxisDeg = 0.0;
    std::uint32_t seed = 1;
    // When set (same size as the frame), the scene starts from this frame
    // instead of the background level, so several symbols can share one.
    const Frame* scene = nullptr;
};

// Renders `grid` (row 0 at the top) into a frame.
Frame renderSymbol(const ModuleGrid& grid, const RenderOptions& options);

// Where grid position (col, row), in modules from the grid's top-left
// corner (so module (c, r) has its centre at (c + 0.5, r + 0.5)), lands in
// the frame that renderSymbol draws with the same options.
struct FramePoint {
    double x = 0.0;
    double y = 0.0;
};
FramePoint gridToFrame(const RenderOptions& options, int gridSize, double col, double row);

// The transform from symbol grid coordinates (u, v), modules from the
// centre of the centre module (u along columns, v along rows), to reader
// pixels (centres at integers) of a flat symbol drawn with `options`.
Aztec::Math::Homography gridTransform(const RenderOptions& options, int gridSize);

// The frame after a JPEG round trip at `quality` (1..100).
Frame jpegRoundTrip(const Frame& frame, int quality);

// Frames without a symbol.
Frame uniformFrame(int width, int height, std::uint8_t value);
Frame noiseFrame(int width, int height, double mean, double sigma, std::uint32_t seed);
// `frame` with Gaussian sensor noise of `sigma` added (noiseFrame's noise
// round its mean of 128), clamped to 0..255.
Frame withNoise(Frame frame, double sigma, std::uint32_t seed);
// Linear ramp from `from` to `to` along the direction angleDeg.
Frame gradientFrame(int width, int height, std::uint8_t from, std::uint8_t to, double angleDeg);
// Random rectangles and lines of text-like blobs on a mid-grey scene.
Frame clutterFrame(int width, int height, int items, std::uint32_t seed);

// A bull's-eye finder (full-range or compact) with correct orientation
// marks, surrounded by random modules whose mode message does not decode:
// looks like a symbol to a finder, is not one. `size` is the grid side
// (odd, at least 17 full-range / 13 compact).
ModuleGrid loneBullseyeGrid(bool fullRange, int size, std::uint32_t seed);

// Binary PGM (P5, maxval 255). False when the file cannot be written/read
// or is not such a PGM.
bool writePgm(const std::string& path, const Frame& frame);
bool readPgm(const std::string& path, Frame& frame);

}  // namespace quarrow_test
