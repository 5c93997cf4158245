// Turns the corrected, unstuffed data bits of a symbol into its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/bit_list.h"

namespace Aztec {

// An Extended Channel Interpretation designator found in the data: the
// character set of the bytes from `position` on.
struct EciMark {
    std::int32_t eci;
    std::size_t position;
};

// One symbol of a message split over several (structured append).
struct StructuredAppend {
    std::int32_t index = 0;       // 1-based position of this symbol
    std::int32_t count = 0;       // symbols in the message, 2..26; 0: not a part
    std::string id;               // the message ID, empty when the symbols carry none
    std::size_t headerBytes = 0;  // bytes at the start of `bytes` that hold the above
};

// The bytes are every character the codes spell, as the runtime component
// returns them; the other fields say which of them are markers rather than
// data, for front ends that report those apart.
struct DecodedText {
    std::vector<std::uint8_t> bytes;
    bool gs1 = false;  // FNC1 came first: the data is GS1 element strings
    std::vector<EciMark> ecis;
    StructuredAppend structuredAppend;
    // Index in `bytes` of the separator that stands for an FNC1 after one
    // letter or two digits (an application indicator); -1 when none.
    std::int64_t fnc1SecondAt = -1;

    // Back to a text of nothing, keeping the storage.
    void clear() {
        bytes.clear();
        gs1 = false;
        ecis.clear();
        structuredAppend.index = 0;
        structuredAppend.count = 0;
        structuredAppend.id.clear();
        structuredAppend.headerBytes = 0;
        fnc1SecondAt = -1;
    }
};

// Decodes every bit of `bits` through the Aztec character modes. A symbol
// that starts with a mixed latch straight followed by an upper latch (which
// changes nothing) is a part of a structured-append message: its first
// characters are an optional message ID between spaces, then its position
// and the count of parts as letters A (1) to Z (26). Throws
// ReedSolomon::IllegalSymbolException for a flag that no valid symbol
// carries (FLG(7), or an ECI digit that is not a digit).
DecodedText decodeText(const BitList& bits);
// The same into `out`, whose storage is kept: a stream of reads decodes
// without allocating. `out` is unspecified after a throw.
void decodeText(const BitList& bits, DecodedText& out);

// n bits from position on, first bit most significant, modulo the list
// length; advances position.
std::int32_t readBits(const BitList& bits, std::int64_t& position, int n);

}  // namespace Aztec
