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
//
// With `extended`, two further kinds of symbol are read, which the runtime
// component does not know: reader-initialisation symbols, whose mode
// message sets the top bit of the data-word count (compact symbols of one
// layer, full-range ones of up to 22 layers, where that bit can mean
// nothing else); and Aztec Runes, 11 x 11 symbols with no data layers whose
// mode message holds one value 0..255 with every other bit inverted
// (layers, data words and total words are then 0 and `rune` the value; the
// caller must confirm the quiet zone round the ring, as damage to an
// ordinary mode message can come within correcting distance of a rune's).
bool decodeModeMessage(AztecCore::SymbolCandidate& candidate, const BitList& ring, bool extended = false);

// The same for a ring read with doubt, after decodeModeMessage has failed
// on it. `certainty` holds, for each ring module, how far its level lay
// from its threshold as a share of the contrast. The mode words are
// erased least certain first, one more at a time, while two check words
// stay unused. Orientation marks under 0.1 are doubtful: every orientation
// the sure ones allow is tried (none when more than three are doubtful).
// modeCorrections counts at least 1. No runes.
bool decodeModeMessageWithErasures(AztecCore::SymbolCandidate& candidate, const BitList& ring,
                                   const std::vector<double>& certainty, bool extended = false);

// Puts right the mode-message modules of `ring` (as decodeModeMessage took
// it, for `candidate`, which it filled; not a rune's) by correcting them
// again. The orientation marks are left as they are. False when the
// message no longer corrects.
bool correctModeRing(const AztecCore::SymbolCandidate& candidate, BitList& ring);

// Modules on a side of an Aztec Rune.
constexpr std::int32_t kRuneSize = 11;

// Corrects the 28 (compact) or 40 (full-range) mode bits in place. Throws
// ReedSolomon::ReedSolomonException when they cannot be corrected.
// Returns the number of words corrected.
std::int32_t correctModeMessage(BitList& modeBits, bool compact);

// Word i is bits start + i*wordBits ... + wordBits - 1, most significant first.
std::vector<std::int32_t> readWords(const BitList& bits, std::int64_t start, std::int32_t count, std::int32_t wordBits);
// The same into `out`, which keeps its storage.
void readWordsInto(const BitList& bits, std::int64_t start, std::int32_t count, std::int32_t wordBits,
                   std::vector<std::int32_t>& out);
// The inverse for 4-bit words.
void writeWords(const std::vector<std::int32_t>& words, std::int32_t count, BitList& bits);

}  // namespace Aztec
