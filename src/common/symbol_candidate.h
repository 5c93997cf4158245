// The records that detection fills and decoding reads: points, the symbol
// kind and the per-read candidate. Shared by detect/ and decode/; nothing
// here knows about images.
#pragma once

#include <cstdint>

namespace AztecCore {

// A position in doubles: image pixels (x right, y down) or symbol-grid
// modules (origin at the centre of the centre module).
struct Point2d {
    double x = 0.0;
    double y = 0.0;
};

// A pixel position.
struct PixelPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

enum class SymbolType : std::int32_t { None = 0, Compact = 1, FullRange = 2 };

// Everything one read learns about the symbol under the frame centre. Every
// field is zero after construction; detection and mode-message decoding
// fill it step by step.
struct SymbolCandidate {
    // grid[10 + i][10 + j] is the image position of symbol-grid point
    // (16 i, 16 j); the first index runs along corner 0 -> corner 1.
    static constexpr int kGridSize = 20;
    static constexpr int kGridOrigin = 10;
    Point2d grid[kGridSize][kGridSize] = {};

    Point2d centre;        // bull's-eye centre, image pixels
    Point2d corners[4];    // outermost light ring: TL, TR, BR, BL
    SymbolType type = SymbolType::None;
    std::int32_t rotation = 0;   // quarter turns
    bool mirrored = false;
    std::int32_t dataWords = 0;
    std::int32_t wordBits = 0;
    std::int32_t totalWords = 0;
    std::int32_t layers = 0;
    std::int32_t size = 0;       // modules per side
    std::int32_t bitOffset = 0;  // bits before the first codeword

    // Read only by the modern front ends:
    bool readerInit = false;     // a reader-initialisation (programming) symbol
    std::int32_t modeCorrections = 0;  // words of the mode message that its check words corrected
    std::int32_t rune = -1;      // the value of an Aztec Rune (0..255); -1 for any other symbol
};

}  // namespace AztecCore
