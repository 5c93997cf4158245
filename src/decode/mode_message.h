// The mode message: orientation marks and the Reed-Solomon protected count
// of layers and data codewords in the ring round the bull's-eye.
#pragma once

#include <cstdint>
#include <vector>

#include "common/symbol_candidate.h"
#include "decode/bit_list.h"

namespace Aztec {

// Geometry and codeword layout of one symbol size.
struct LayerInfo {
    std::int32_t size;        // modules per side
    std::int32_t wordBits;    // codeword size
    std::int32_t totalWords;  // data plus check words in the layers
    std::int32_t bitOffset;   // layer bits in front of the first codeword
};

constexpr std::int32_t kMaxCompactLayers = 4;
constexpr std::int32_t kMaxFullRangeLayers = 32;

// Table row for `layers` (compact 1..4, full-range 1..32).
const LayerInfo& compactLayerInfo(std::int32_t layers);
const LayerInfo& fullRangeLayerInfo(std::int32_t layers);

// Reads the ring (40 bits compact, 56 full-range, position 0 the centre of
// a corner, sides in order) and fills rotation, mirrored, layers,
// dataWords, size, wordBits, totalWords and bitOffset. False when the
// orientation marks match no pattern, the type is neither compact nor
// full-range, or the mode message cannot be corrected. Throws nothing.
bool decodeModeMessage(AztecCore::SymbolCandidate& candidate, const BitList& ring);

// Corrects the 28 (compact) or 40 (full-range) mode bits in place. Throws
// ReedSolomon::ReedSolomonException when they cannot be corrected.
void correctModeMessage(BitList& modeBits, bool compact);

// Word i is bits start + i*wordBits ... + wordBits - 1, most significant first.
std::vector<std::int32_t> readWords(const BitList& bits, std::int64_t start, std::int32_t count, std::int32_t wordBits);
// The inverse for 4-bit words.
void writeWords(const std::vector<std::int32_t>& words, std::int32_t count, BitList& bits);

}  // namespace Aztec
