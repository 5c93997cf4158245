// Reads a module grid the way the detector would, without a camera: the
// mode ring bits and the module matrix straight from the modules.
#pragma once

#include "common/symbol_candidate.h"
#include "decode/bit_list.h"
#include "support/zint_symbol.h"

namespace quarrow_test {

// Full-range when rings 5 (light) and 6 (dark) round the centre say so.
AztecCore::SymbolType bullseyeType(const ModuleGrid& g);
// The mode ring clockwise from module (-h, -h), h = 5 compact, 7 full-range.
Aztec::BitList ringBits(const ModuleGrid& g, AztecCore::SymbolType type);
// matrix[x].get(y) is the module at column x, row y.
Aztec::ModuleMatrix moduleMatrix(const ModuleGrid& g);

}  // namespace quarrow_test
