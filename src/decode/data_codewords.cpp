// The data of an Aztec symbol lies in layers, rings two modules deep round
// the core, read from the outermost inwards. Each ring is four strips (top,
// right, bottom, left), each a sequence of module pairs with the pair's
// outer module first. The bit stream of all layers, less a few leading
// bits that do not fill a codeword, is a sequence of codewords of 6 to 12
// bits: data words, then Reed-Solomon check words over GF(2^wordBits).
// Data words carry bit stuffing: a word whose first wordBits - 1 bits are
// equal has one extra, opposite bit appended, which is removed here; a
// word of all equal bits is illegal. Full-range symbols also carry a
// reference grid every 16 modules from the centre, which holds no data.
#include "decode/data_codewords.h"

#include "decode/galois_field.h"
#include "decode/mode_message.h"
#include "decode/reed_solomon.h"

namespace Aztec {

using AztecCore::SymbolCandidate;
using AztecCore::SymbolType;

std::atomic<std::int32_t> lastErrorCount{0};

namespace {

constexpr std::int32_t kGridSpacing = 16;

ReedSolomon::GenericGF& fieldForWordBits(std::int32_t wordBits) {
    switch (wordBits) {
        case 6: return ReedSolomon::fieldData6();
        case 8: return ReedSolomon::fieldData8();
        case 10: return ReedSolomon::fieldData10();
        default: return ReedSolomon::fieldData12();
    }
}

// `out` keeps the storage of its earlier use.
void removeReferenceGrid(const ModuleMatrix& m, std::int32_t n, ModuleMatrix& out) {
    auto keep = [n](std::int32_t i) { return (n / 2 - i) % kGridSpacing != 0; };
    std::size_t kept = 0;
    for (std::int32_t j = 0; j < n; ++j) kept += keep(j) ? 1 : 0;
    out.resize(kept);
    std::size_t r = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        if (!keep(i)) continue;
        BitList& bits = out[r++];
        bits.reset(kept);
        std::int64_t at = 0;
        for (std::int32_t j = 0; j < n; ++j) {
            if (keep(j)) bits.set(at++, m.at(static_cast<std::size_t>(i)).get(j));
        }
    }
}

// Checked access: (row r, bit c) of the matrix worked on.
bool moduleAt(const ModuleMatrix& m, std::int32_t r, std::int32_t c) {
    const BitList& row = m.at(static_cast<std::size_t>(r));
    if (c < 0 || static_cast<std::size_t>(c) >= row.size()) throw std::out_of_range("invalid vector<bool> subscript");
    return row.get(c);
}

// `raw` keeps the storage of its earlier use.
void walkLayers(const ModuleMatrix& m, const SymbolCandidate& cand, BitList& raw) {
    const auto rawLength = static_cast<std::size_t>(cand.totalWords) * static_cast<std::size_t>(cand.wordBits);
    raw.reset(rawLength);
    const auto size = static_cast<std::int32_t>(m.size());
    const std::int32_t last = size - 1;
    std::int32_t s = size, off = 0;
    std::int64_t base = 0;
    for (std::int32_t layer = 0; layer < cand.layers; ++layer) {
        const std::int64_t strip = 2 * static_cast<std::int64_t>(s - 2);
        for (std::int32_t k = 0; k < 4; ++k) {
            const std::int64_t start = base + strip * ((k + cand.rotation) % 4);
            for (std::int32_t j = 0; j <= s - 3; ++j) {
                bool outer = false, inner = false;
                switch (k) {
                    case 0: outer = moduleAt(m, off, off + j); inner = moduleAt(m, off + 1, off + j); break;
                    case 1: outer = moduleAt(m, off + j, last - off); inner = moduleAt(m, off + j, last - off - 1); break;
                    case 2: outer = moduleAt(m, last - off, last - off - j); inner = moduleAt(m, last - off - 1, last - off - j); break;
                    default: outer = moduleAt(m, last - off - j, off); inner = moduleAt(m, last - off - j, off + 1); break;
                }
                // Modulo addressing: the stream's first bitOffset bits are
                // overwritten by its last ones and never read.
                if (!raw.empty()) {
                    raw.set(start + 2 * j, outer);
                    raw.set(start + 2 * j + 1, inner);
                }
            }
        }
        base += 4 * strip;
        s -= 4;
        off += 2;
    }
}

// correctData into `data`, which keeps its storage; false for nothing.
bool correctInto(const BitList& rawBits, const SymbolCandidate& cand, BitList& data, std::int32_t* correctedWords,
                 ReedSolomon::SyndromeMemo* memo) {
    if (cand.dataWords <= 0 || cand.wordBits <= 0) return false;
    if (cand.totalWords < cand.dataWords) return false;
    // An encoder always leaves at least kMinCheckWords; with fewer, a
    // damaged mode message could pass random modules off as data that
    // nothing has checked.
    if (cand.totalWords - cand.dataWords < kMinCheckWords) return false;
    thread_local std::vector<std::int32_t> words;
    readWordsInto(rawBits, cand.bitOffset, cand.totalWords, cand.wordBits, words);
    ReedSolomon::Decoder decoder(fieldForWordBits(cand.wordBits));
    const std::int32_t corrected = decoder.correct(words, cand.totalWords - cand.dataWords, memo);
    lastErrorCount.store(corrected);
    if (correctedWords) *correctedWords = corrected;

    const std::int32_t wordBits = cand.wordBits;
    data.reset(static_cast<std::size_t>(cand.dataWords) * static_cast<std::size_t>(wordBits));
    std::int64_t removed = 0;
    for (std::int32_t i = 0; i < cand.dataWords; ++i) {
        const std::int32_t word = words[static_cast<std::size_t>(i)];
        bool runColour = false;
        std::int32_t runLength = 0;
        for (std::int32_t j = 0; j < wordBits; ++j) {
            const bool colour = ((word >> (wordBits - 1 - j)) & 1) != 0;
            if (runLength == wordBits - 1) {
                if (colour == runColour) throw ReedSolomon::IllegalSymbolException("Illegal series of bits");
                ++removed;  // the stuffed bit
                runColour = false;
                runLength = 0;
                continue;
            }
            if (colour == runColour) {
                ++runLength;
            } else {
                runLength = 1;
                runColour = colour;
            }
            data.set(static_cast<std::int64_t>(i) * wordBits - removed + j, colour);
        }
    }
    // Only real data bits go on: zeros standing in for the removed bits
    // would be read as characters after the encoder's padding.
    data.truncate(data.size() - static_cast<std::size_t>(removed));
    return true;
}

}  // namespace

std::optional<BitList> correctData(const BitList& rawBits, const SymbolCandidate& cand, std::int32_t* correctedWords,
                                   ReedSolomon::SyndromeMemo* memo) {
    BitList data;
    if (!correctInto(rawBits, cand, data, correctedWords, memo)) return std::nullopt;
    return data;
}

bool decodeData(const SymbolCandidate& cand, const ModuleMatrix& matrix, DecodedData& out,
                ReedSolomon::SyndromeMemo* memo) {
    if (matrix.empty()) return false;
    const ModuleMatrix* work = &matrix;
    // Working copies, kept per thread so that a stream of reads does not
    // allocate them again.
    thread_local ModuleMatrix mirrored, reduced;
    thread_local BitList raw, corrected;
    if (cand.mirrored) {
        const auto m = matrix.size();
        mirrored.resize(m);
        for (std::size_t i = 0; i < m; ++i) mirrored[i] = matrix.at(m - 1 - i);
        work = &mirrored;
    }
    if (cand.type == SymbolType::FullRange) {
        removeReferenceGrid(*work, cand.size, reduced);
        work = &reduced;
    }
    walkLayers(*work, cand, raw);
    out.correctedWords = 0;
    try {
        if (!correctInto(raw, cand, corrected, &out.correctedWords, memo) || corrected.empty()) return false;
        decodeText(corrected, out.text);
    } catch (const ReedSolomon::ReedSolomonException&) {
        return false;
    } catch (const ReedSolomon::IllegalSymbolException&) {
        return false;
    }
    return true;
}

std::optional<DecodedData> decodeData(const SymbolCandidate& cand, const ModuleMatrix& matrix,
                                      ReedSolomon::SyndromeMemo* memo) {
    DecodedData out;
    if (!decodeData(cand, matrix, out, memo)) return std::nullopt;
    return out;
}

bool decodeDataChecked(const SymbolCandidate& cand, const ModuleMatrix& matrix, DecodedData& out) {
    // The second decode reads the same codewords against one more check
    // word: its syndromes are the first's and one more. The memo is kept
    // per thread for its storage; emptied, it remembers nothing.
    thread_local ReedSolomon::SyndromeMemo memo;
    memo.sums.clear();
    if (!decodeData(cand, matrix, out, &memo)) return false;
    if (cand.modeCorrections == 0 || cand.dataWords <= 1) return true;
    SymbolCandidate fewer = cand;
    --fewer.dataWords;
    thread_local DecodedData again;
    return !(decodeData(fewer, matrix, again, &memo) && again.correctedWords == out.correctedWords);
}

std::optional<DecodedData> decodeDataChecked(const SymbolCandidate& cand, const ModuleMatrix& matrix) {
    DecodedData out;
    if (!decodeDataChecked(cand, matrix, out)) return std::nullopt;
    return out;
}

}  // namespace Aztec
