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
class Decoder {
public:
    explicit Decoder(GenericGF& field) : field_(&field) {}

    // `received` holds the data words followed by `twoS` check words, the
    // first word being the highest-degree coefficient. Corrects it in place
    // and returns the number of codewords changed. An uncorrectable block
    // throws ReedSolomonException; the list may then hold part of the
    // corrections.
    std::int32_t correct(std::vector<std::int32_t>& received, std::int32_t twoS);

private:
    std::pair<GenericGFPoly, GenericGFPoly> solveKeyEquation(GenericGFPoly a, GenericGFPoly b, std::int32_t r);
    std::vector<std::int32_t> locateErrors(const GenericGFPoly& sigma);
    std::vector<std::int32_t> errorValues(const GenericGFPoly& omega, const std::vector<std::int32_t>& locators);

    GenericGF* field_;
};

}  // namespace Aztec::ReedSolomon
