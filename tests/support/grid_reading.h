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

// libzint 2.11.1 writes the data-word count of a compact 4-layer symbol
// modulo 64: one holding 65 to 76 data words says it holds 1 to 12, and no
// reader can read it. True for such a symbol: it does not read at the
// count it states, and reads with no correction at that count plus 64.
bool dataWordCountWrapped(const ModuleGrid& g);

// The symbol with every other module beyond the mode ring inverted (a
// checkerboard of damage): bull's-eye and mode message intact, so it is
// found and measured, but far more codewords wrong than the check words can
// correct. A reader must answer Located for it, never Read.
ModuleGrid spoilData(const ModuleGrid& g);

}  // namespace quarrow_test
