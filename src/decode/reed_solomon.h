// Reed-Solomon error correction of one codeword block, in place.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "decode/galois_field.h"

namespace Aztec::ReedSolomon {

// Aztec check words are built on the consecutive roots alpha^1 ... alpha^2S,
// so syndromes are evaluated there: a block with 2S check words corrects up
// to S wrong codewords.
// The syndromes of one block as it came in, so that the same block tested
// again against more check words (the same roots and further ones) only
// computes the new ones. Filled by correct when the block's words all lie
// in the field.
struct SyndromeMemo {
    const GenericGF* field = nullptr;
    std::vector<std::int32_t> received;
    std::vector<std::int32_t> sums;  // S_0, S_1, ...: the block at alpha^1, alpha^2, ...
};

class Decoder {
public:
    explicit Decoder(GenericGF& field) : field_(&field) {}

    // `received` holds the data words followed by `twoS` check words, the
    // first word being the highest-degree coefficient. Corrects it in place
    // and returns the number of codewords changed. An uncorrectable block
    // throws ReedSolomonException; the list may then hold part of the
    // corrections.
    // With a memo, syndromes it holds for the same block are reused and
    // the memo then holds this block's.
    std::int32_t correct(std::vector<std::int32_t>& received, std::int32_t twoS, SyndromeMemo* memo = nullptr);

private:
    GenericGF* field_;
};

// How often a block of random words (damage far beyond what the check
// words can repair) would still decode, as a power of ten: the share of
// all blocks of n words of `wordBits` bits that lie within `errors` wrong
// words of some codeword once `erased` known positions are set aside,
// C(n - e, v) (q - 1)^v / q^(2S - e), the leading term of the count. A
// decoder that accepted `errors` corrections answers wrong about that
// often when the block it was given was not its symbol's.
double log10RandomBlockDecodes(std::int32_t n, std::int32_t twoS, std::int32_t erased, std::int32_t errors,
                               std::int32_t wordBits);

}  // namespace Aztec::ReedSolomon
