// Shared machinery of the end-to-end engine tests: one libzint symbol per
// size with content that fits it, frame placement, one engine read per
// frame, the description text a read must print, and per-category tallies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/reader_engine.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace quarrow_test {

// Encoder size options: 1..4 compact layers, 5..36 full-range 1..32 layers.
constexpr int kFirstSize = 1;
constexpr int kLastSize = 36;
constexpr int kCompactSizes = 4;

// Sanitizer builds and QUARROW_QUICK=1 run every kQuickStride-th size only
// (the first and last size always), so the suite stays affordable there.
constexpr int kQuickStride = 3;
bool quickRun();
std::vector<int> sizesToTest();

struct SymbolCase {
    int size = 0;          // encoder size option
    std::string label;     // "C2", "F17"
    std::string data;      // exact bytes encoded
    ModuleGrid grid;
};

// A symbol of the given size holding content of a kind chosen by `variant`
// (upper-case text, mixed text and punctuation, digits, binary bytes with
// 0 bytes). Fills roughly 30-70% of the symbol.
SymbolCase makeCase(int size, int variant);

// "(C 0' L: 2 D: 78 ECC: 67%)" for the grid exactly as drawn (after any
// quarter turns and mirroring), from its own mode message and the layer
// tables. Empty when the grid's mode message does not decode.
std::string expectedDescription(const ModuleGrid& drawn);

// Picks a frame of at least the preferred size (640x480, 800x600,
// 1280x720, 1920x1080, by index) and a module size of at most wantModule
// (never below kMinModule) so that the symbol and its quiet zone, grown by
// `spread` (rotation, perspective), fit with `margin` pixels to spare.
constexpr double kMinModule = 3.0;
void placeSymbol(RenderOptions& o, int gridSize, int preferredFrame, double wantModule, double spread, double margin);

struct ReadResult {
    AztecCore::ReadOutcome outcome = AztecCore::ReadOutcome::NotLocated;
    std::string message;
    std::string bytes;
    bool threw = false;
    std::string what;  // text of a standard exception, if any
};
ReadResult readFrame(const Frame& frame);

// Read rates of one category of frames.
struct Tally {
    std::string category;
    int frames = 0;
    int read = 0;
    int wrong = 0;   // bytes differ from the symbol's: never allowed
    int threw = 0;
    double rate() const { return frames ? static_cast<double>(read) / frames : 0.0; }
    void print() const;
};

// Reads `frame` of `sc`, counts it in `tally` and reports, as test
// failures, wrong bytes and a wrong description on a Read. With
// `exactRotation` false the rotation text is not compared (arbitrary
// angles and perspective make the quarter turn of a corner ambiguous).
ReadResult checkFrame(const SymbolCase& sc, const Frame& frame, const std::string& expectedDesc, bool exactRotation,
                      Tally& tally, const std::string& where);

}  // namespace quarrow_test
