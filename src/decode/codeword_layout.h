// Where each bit of a symbol's codewords lies in its module matrix: the
// same walk as the data decoder's (mirroring undone, reference grid left
// out, layers from the outermost inwards), kept as module positions so
// that a reader can weigh each codeword by how clearly its modules were
// seen, and write corrected codewords back.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/symbol_candidate.h"

namespace Aztec {

// Entry k * wordBits + b holds (row, column) in the candidate's module
// matrix (as decodeData takes it, size x size) of bit b, most significant
// first, of codeword k. Empty for a candidate whose counts do not fit its
// size.
std::vector<std::array<std::int32_t, 2>> codewordModules(const AztecCore::SymbolCandidate& candidate);

}  // namespace Aztec
