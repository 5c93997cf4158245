// Turns the corrected, unstuffed data bits of a symbol into its bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/bit_list.h"

namespace Aztec {

// An Extended Channel Interpretation designator found in the data: the
// character set of the bytes from `position` on.
struct EciMark {
    std::int32_t eci;
    std::size_t position;
};

struct DecodedText {
    std::vector<std::uint8_t> bytes;
    bool gs1 = false;  // FNC1 came first: the data is GS1 element strings
    std::vector<EciMark> ecis;
};

// Decodes every bit of `bits` through the Aztec character modes. Throws
// ReedSolomon::IllegalSymbolException for a flag that no valid symbol
// carries (FLG(7), or an ECI digit that is not a digit).
DecodedText decodeText(const BitList& bits);

// n bits from position on, first bit most significant, modulo the list
// length; advances position.
std::int32_t readBits(const BitList& bits, std::int64_t& position, int n);

}  // namespace Aztec
