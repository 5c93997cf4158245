// From a sampled module matrix to the symbol's bytes: unwind the layers into
// codewords, correct them, remove stuffed bits and decode the text.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "common/symbol_candidate.h"
#include "decode/bit_list.h"
#include "decode/reed_solomon.h"
#include "decode/text_decoder.h"

namespace Aztec {

// Codewords corrected by the most recent data correction in the process,
// shared by all reads (a concurrent read may see another read's count).
extern std::atomic<std::int32_t> lastErrorCount;

// Fewest check words a symbol may carry and still be read.
inline constexpr std::int32_t kMinCheckWords = 3;

struct DecodedData {
    DecodedText text;
    std::int32_t correctedWords = 0;  // this read's own count
};

// Decodes the matrix of a candidate whose mode message has been read.
// Nothing when the codewords cannot be corrected, a stuffed bit is wrong,
// or the data is empty. Other exceptions (out_of_range for a matrix that
// is too small) pass through.
// A memo lets a second decode of the same codewords reuse their syndromes.
std::optional<DecodedData> decodeData(const AztecCore::SymbolCandidate& candidate, const ModuleMatrix& matrix,
                                      ReedSolomon::SyndromeMemo* memo = nullptr);
// The same into `out`, whose storage is kept (false for nothing; `out` is
// then unspecified): a stream of reads decodes without allocating.
bool decodeData(const AztecCore::SymbolCandidate& candidate, const ModuleMatrix& matrix, DecodedData& out,
                ReedSolomon::SyndromeMemo* memo = nullptr);

// decodeData, less the reads that a wrongly corrected mode message makes.
// Such a message can claim more data words than the symbol holds; the
// symbol's codeword then passes the fewer check words it is tested
// against, and some of its check words read as data. When the mode message
// needed correction, a codeword that also satisfies the next check word's
// equation (the same read with one data word fewer and the same
// corrections) is refused. A true codeword does so by chance once in
// 2^wordBits: a read lost now and then, never a wrong one.
std::optional<DecodedData> decodeDataChecked(const AztecCore::SymbolCandidate& candidate, const ModuleMatrix& matrix);
bool decodeDataChecked(const AztecCore::SymbolCandidate& candidate, const ModuleMatrix& matrix, DecodedData& out);

// Cuts the raw layer bits into codewords, corrects them and unstuffs the
// data words. The result holds exactly the data bits, so it is shorter
// than dataWords * wordBits by the number of stuffed bits removed.
// Nothing for impossible counts or fewer than kMinCheckWords check words; throws ReedSolomonException or
// IllegalSymbolException for an uncorrectable block or a wrong stuffed bit.
std::optional<BitList> correctData(const BitList& rawBits, const AztecCore::SymbolCandidate& candidate,
                                   std::int32_t* correctedWords = nullptr, ReedSolomon::SyndromeMemo* memo = nullptr);

}  // namespace Aztec
