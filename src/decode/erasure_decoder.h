// Reed-Solomon decoding with erasures: codewords known to be doubtful (a
// reader marks those whose modules it saw least clearly) are given to the
// decoder by position, so that each costs one check word instead of the
// two an unknown error costs. v errors and e erasures correct when
// 2 v + e <= 2 S. Used as a further attempt after the plain decoder has
// failed; a caller keeps some check words spare against miscorrection.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "decode/galois_field.h"

namespace Aztec::ReedSolomon {

// `received` as for Decoder::correct: data words then `twoS` check words,
// the first word the highest-degree coefficient, over the field's
// consecutive roots alpha^1 ... alpha^2S. `erasures` are word indices.
// Corrects `received` in place when it finds v errors besides the erasures
// with 2 v + e <= twoS - spare, and the result is a codeword; returns the
// number of words changed. Nothing otherwise, `received` untouched.
std::optional<std::int32_t> correctWithErasures(GenericGF& field, std::vector<std::int32_t>& received,
                                                std::int32_t twoS, const std::vector<std::int32_t>& erasures,
                                                std::int32_t spare);

}  // namespace Aztec::ReedSolomon
