// Test oracle: Aztec symbols made by libzint, an independent encoder, as
// plain module grids.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrow_test {

struct EncodeOptions {
    int size = 0;       // 0 automatic; 1..4 compact layers; 5..36 full-range 1..32 layers
    int eccLevel = 0;   // 0 default; 1..4 ~ 10%, 23%, 36%, 50% check words
    int eci = 0;        // 0 none
    bool gs1 = false;   // GS1 mode ("[01]..." input)
    bool utf8 = false;  // input is UTF-8 (UNICODE_MODE)
    // Structured append: part index of count (1-based; count 0 for none),
    // with an optional message ID.
    int partIndex = 0;
    int partCount = 0;
    std::string partId = {};
    bool readerInit = false;  // a reader-initialisation (programming) symbol
};

// modules[row][col], true for dark; row 0 at the top.
struct ModuleGrid {
    int size = 0;
    std::vector<std::vector<bool>> modules;
    bool at(int row, int col) const { return modules[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)]; }
};

// Encodes `data`; returns false (with zint's message) when zint refuses.
// A compact 4-layer symbol whose data-word count libzint wrapped
// (grid_reading.h) is replaced by a full-range one.
bool encodeAztec(const std::string& data, const EncodeOptions& options, ModuleGrid& out, std::string* error = nullptr);

// UTF-8 segments, each converted by libzint to the character set of its ECI.
struct Segment {
    int eci = 0;
    std::string utf8;
};
bool encodeAztecSegments(const std::vector<Segment>& segments, ModuleGrid& out, std::string* error = nullptr);

// An Aztec Rune (11 x 11, value 0..255).
bool encodeRune(int value, ModuleGrid& out);

// Quarter turns clockwise, then optionally mirrored left-right.
ModuleGrid transformGrid(const ModuleGrid& g, int quarterTurns, bool mirror);

}  // namespace quarrow_test
