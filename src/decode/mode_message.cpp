// The mode ring is the square ring of modules just outside the bull's-eye:
// 40 modules round a compact symbol, 56 round a full-range one. Three
// modules at each corner are orientation marks; their dark counts (3, 2, 1,
// 0 going clockwise from the top-left corner) tell the rotation, and a
// reversed sequence tells a mirror image. The remaining modules carry the
// mode message: 7 (compact) or 10 (full-range) 4-bit words, the first 2 or
// 4 of them data (layers - 1, data words - 1), the rest Reed-Solomon check
// words over GF(16). Full-range rings also skip the module in the middle of
// each side, which belongs to the reference grid.
#include "decode/mode_message.h"

#include <algorithm>
#include <array>
#include <limits>
#include <exception>

#include "decode/erasure_decoder.h"
#include "decode/galois_field.h"
#include "decode/reed_solomon.h"

namespace Aztec {

using AztecCore::SymbolCandidate;
using AztecCore::SymbolType;

namespace {

constexpr std::array<LayerInfo, kMaxCompactLayers> kCompactLayers = {{
    {15, 6, 17, 2}, {19, 6, 40, 0}, {23, 8, 51, 0}, {27, 8, 76, 0},
}};

constexpr std::array<LayerInfo, kMaxFullRangeLayers> kFullRangeLayers = {{
    {19, 6, 21, 2},     {23, 6, 48, 0},     {27, 8, 60, 0},     {31, 8, 88, 0},
    {37, 8, 120, 0},    {41, 8, 156, 0},    {45, 8, 196, 0},    {49, 8, 240, 0},
    {53, 10, 230, 4},   {57, 10, 272, 0},   {61, 10, 316, 8},   {67, 10, 364, 8},
    {71, 10, 416, 0},   {75, 10, 470, 4},   {79, 10, 528, 0},   {83, 10, 588, 8},
    {87, 10, 652, 8},   {91, 10, 720, 0},   {95, 10, 790, 4},   {101, 10, 864, 0},
    {105, 10, 940, 8},  {109, 10, 1020, 8}, {113, 12, 920, 0},  {117, 12, 992, 0},
    {121, 12, 1066, 8}, {125, 12, 1144, 0}, {131, 12, 1224, 0}, {135, 12, 1306, 8},
    {139, 12, 1392, 0}, {143, 12, 1480, 0}, {147, 12, 1570, 8}, {151, 12, 1664, 0},
}};

// Corner dark counts c0..c3 for each orientation.
struct Orientation {
    std::array<int, 4> counts;
    std::int32_t rotation;
    bool mirrored;
};
constexpr std::array<Orientation, 8> kOrientations = {{
    {{3, 2, 1, 0}, 0, false}, {{0, 3, 2, 1}, 1, false}, {{1, 0, 3, 2}, 2, false}, {{2, 1, 0, 3}, 3, false},
    {{2, 3, 0, 1}, 0, true},  {{3, 0, 1, 2}, 1, true},  {{0, 1, 2, 3}, 2, true},  {{1, 2, 3, 0}, 3, true},
}};

constexpr std::int32_t kCompactModeWords = 7;
constexpr std::int32_t kFullRangeModeWords = 10;
constexpr std::int32_t kCompactModeCheckWords = 5;
constexpr std::int32_t kFullRangeModeCheckWords = 6;
// Check words that an erasure decoding of the mode message leaves unused,
// so that a ring of doubtful modules still has to agree with them.
constexpr std::int32_t kModeSpareCheckWords = 2;
// Below this certainty (a share of the contrast) an orientation mark is
// doubtful (decodeModeMessageWithErasures).
constexpr double kDoubtfulMark = 0.1;

std::int32_t readField(const BitList& bits, int first, int count) {
    std::int32_t v = 0;
    for (int i = 0; i < count; ++i) v = (v << 1) | (bits.get(first + i) ? 1 : 0);
    return v;
}

// Calls f(ring index, mode index) for each mode bit of a ring in the given
// orientation. Both indices may run past their ends (the lists wrap).
template <class F>
void forEachModeBit(bool compact, std::int32_t rotation, bool mirrored, F&& f) {
    if (compact) {
        // A mirrored ring runs the other way round, so rotations 1 and 3
        // start on each other's sides (as on full-range rings).
        const std::int64_t start = 2 + 10 * (mirrored ? (4 - rotation) % 4 : rotation);
        for (int i = 0; i < 4; ++i) {
            const std::int64_t s = start + 10 * i;
            for (int j = 0; j < 7; ++j) {
                if (mirrored) {
                    f(s + 6 - j, j - 7 * i);
                } else {
                    f(s + j, 7 * i + j);
                }
            }
        }
        return;
    }
    static constexpr std::int64_t kMirroredStart[4] = {2, 44, 30, 16};
    const std::int64_t start = mirrored ? kMirroredStart[rotation] : 2 + 14 * rotation;
    for (int i = 0; i < 4; ++i) {
        const std::int64_t s = start + 14 * i;
        for (int j = 0; j < 5; ++j) {
            if (mirrored) {
                f(s + 10 - j, j - 10 * i);
                f(s + 4 - j, 5 - 10 * i + j);
            } else {
                f(s + j, 10 * i + j);
                f(s + 6 + j, 10 * i + 5 + j);
            }
        }
    }
}

// The extractions and corrections below run for every mode ring tried, on
// noise hundreds of times a frame: they fill storage kept per thread.
void extractModeBits(const BitList& ring, bool compact, std::int32_t rotation, bool mirrored, BitList& mode) {
    mode.reset(compact ? 28 : 40);
    forEachModeBit(compact, rotation, mirrored, [&](std::int64_t r, std::int64_t k) { mode.set(k, ring.get(r)); });
}

}  // namespace

const LayerInfo& compactLayerInfo(std::int32_t layers) {
    return kCompactLayers.at(static_cast<std::size_t>(layers - 1));
}

const LayerInfo& fullRangeLayerInfo(std::int32_t layers) {
    return kFullRangeLayers.at(static_cast<std::size_t>(layers - 1));
}

void readWordsInto(const BitList& bits, std::int64_t start, std::int32_t count, std::int32_t wordBits,
                   std::vector<std::int32_t>& words) {
    words.assign(count > 0 ? static_cast<std::size_t>(count) : 0, 0);
    std::int64_t pos = start;
    for (auto& w : words) {
        std::int32_t v = 0;
        for (std::int32_t b = 0; b < wordBits; ++b) v = (v << 1) | (bits.get(pos++) ? 1 : 0);
        w = v;
    }
}

std::vector<std::int32_t> readWords(const BitList& bits, std::int64_t start, std::int32_t count, std::int32_t wordBits) {
    std::vector<std::int32_t> words;
    readWordsInto(bits, start, count, wordBits, words);
    return words;
}

void writeWords(const std::vector<std::int32_t>& words, std::int32_t count, BitList& bits) {
    for (std::int32_t i = 0; i < count; ++i) {
        for (int k = 0; k < 4; ++k) bits.set(4 * i + 3 - k, ((words.at(static_cast<std::size_t>(i)) >> k) & 1) != 0);
    }
}

std::int32_t correctModeMessage(BitList& modeBits, bool compact) {
    if (modeBits.empty()) return 0;
    const std::int32_t count = compact ? kCompactModeWords : kFullRangeModeWords;
    thread_local std::vector<std::int32_t> words;
    readWordsInto(modeBits, 0, count, 4, words);
    ReedSolomon::Decoder decoder(ReedSolomon::fieldParam());
    const std::int32_t corrected = decoder.correct(words, compact ? kCompactModeCheckWords : kFullRangeModeCheckWords);
    writeWords(words, count, modeBits);
    return corrected;
}

namespace {

// A rune's mode bits are inverted at every even index (first bit 0);
// `mode` is the ring's mode bits as received, inverted here in place.
bool decodeRune(SymbolCandidate& candidate, BitList& mode) {
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(mode.size()); k += 2) mode.set(k, !mode.get(k));
    try {
        correctModeMessage(mode, true);
    } catch (const std::exception&) {
        return false;
    }
    candidate.rune = readField(mode, 0, 8);
    candidate.layers = 0;
    candidate.dataWords = 0;
    candidate.totalWords = 0;
    candidate.wordBits = 0;
    candidate.bitOffset = 0;
    candidate.size = kRuneSize;
    return true;
}

// The top bit of the data-word count of a reader-initialisation symbol.
constexpr std::int32_t kCompactInitFlag = 32;
constexpr std::int32_t kFullRangeInitFlag = 1024;
constexpr std::int32_t kMaxInitFullRangeLayers = 22;

// The orientation the ring's corner marks name, or none.
const Orientation* orientationOf(const BitList& ring) {
    const auto n = static_cast<std::int64_t>(ring.size());
    if (n == 0) return nullptr;
    const std::int64_t q = n / 4;
    std::array<int, 4> counts{};
    for (int k = 0; k < 4; ++k) {
        for (int d = -1; d <= 1; ++d) counts[static_cast<std::size_t>(k)] += ring.get(k * q + d) ? 1 : 0;
    }
    const Orientation* found = nullptr;
    for (const auto& o : kOrientations) {
        if (o.counts == counts) found = &o;
    }
    return found;
}

// Fills the candidate's size facts from corrected mode bits; false when
// they name no symbol that can be sampled.
bool takeModeFields(SymbolCandidate& candidate, const BitList& mode, bool compact, bool extended) {
    const std::int32_t layers = compact ? readField(mode, 0, 2) + 1 : readField(mode, 0, 5) + 1;
    std::int32_t dataWords = compact ? readField(mode, 2, 6) + 1 : readField(mode, 5, 11) + 1;
    const LayerInfo& info = compact ? compactLayerInfo(layers) : fullRangeLayerInfo(layers);
    if (extended && dataWords > info.totalWords) {
        // Only in sizes whose capacity is below the flag can it be one.
        const std::int32_t flag = compact ? kCompactInitFlag : kFullRangeInitFlag;
        const bool allowed = compact ? layers == 1 : layers <= kMaxInitFullRangeLayers;
        if (allowed && dataWords > flag) {
            dataWords -= flag;
            candidate.readerInit = true;
        }
    }
    // A message that claims more data words than its layers hold is damage
    // that happens to be a codeword: no symbol can be sampled from it.
    if (dataWords > info.totalWords) return false;
    candidate.wordBits = info.wordBits;
    candidate.totalWords = info.totalWords;
    candidate.size = info.size;
    candidate.bitOffset = info.bitOffset;
    candidate.layers = layers;
    candidate.dataWords = dataWords;
    return true;
}

}  // namespace

bool decodeModeMessage(SymbolCandidate& candidate, const BitList& ring, bool extended) {
    candidate.readerInit = false;
    candidate.rune = -1;
    candidate.modeCorrections = 0;
    const Orientation* found = orientationOf(ring);
    if (!found) return false;
    candidate.rotation = found->rotation;
    candidate.mirrored = found->mirrored;

    const bool compact = candidate.type == SymbolType::Compact;
    if (!compact && candidate.type != SymbolType::FullRange) return false;

    thread_local BitList mode, received;
    extractModeBits(ring, compact, found->rotation, found->mirrored, mode);
    received = mode;
    try {
        candidate.modeCorrections = correctModeMessage(mode, compact);
    } catch (const std::exception&) {
        return extended && compact && decodeRune(candidate, received);
    }
    return takeModeFields(candidate, mode, compact, extended);
}

bool decodeModeMessageWithErasures(SymbolCandidate& candidate, const BitList& ring, const std::vector<double>& certainty,
                                   bool extended) {
    candidate.readerInit = false;
    candidate.rune = -1;
    candidate.modeCorrections = 0;
    const bool compact = candidate.type == SymbolType::Compact;
    if (!compact && candidate.type != SymbolType::FullRange) return false;
    const auto n = static_cast<std::int64_t>(ring.size());
    if (certainty.size() != ring.size() || n != (compact ? 40 : 56)) return false;
    const auto wrapped = [n](std::int64_t r) { return static_cast<std::size_t>((r % n + n) % n); };
    // The orientations the corner marks allow: the sure modules of each
    // corner must leave room for its dark count. A doubtful mark can turn
    // the reading, so at most one corner's worth of them is allowed.
    std::array<const Orientation*, kOrientations.size()> allowed{};
    std::size_t allowedCount = 0;
    {
        std::array<int, 4> sureDark{}, sureLight{};
        int doubtful = 0;
        for (int k = 0; k < 4; ++k) {
            for (int d = -1; d <= 1; ++d) {
                const std::int64_t r = k * (n / 4) + d;
                if (certainty[wrapped(r)] < kDoubtfulMark) {
                    ++doubtful;
                    continue;
                }
                ++(ring.get(r) ? sureDark : sureLight)[static_cast<std::size_t>(k)];
            }
        }
        if (doubtful > 3) return false;
        for (const auto& o : kOrientations) {
            bool fits = true;
            for (std::size_t k = 0; k < 4; ++k) fits = fits && sureDark[k] <= o.counts[k] && sureLight[k] <= 3 - o.counts[k];
            if (fits) allowed[allowedCount++] = &o;
        }
    }
    const std::int32_t count = compact ? kCompactModeWords : kFullRangeModeWords;
    const std::int32_t checks = compact ? kCompactModeCheckWords : kFullRangeModeCheckWords;
    const auto bits = static_cast<std::int64_t>(4 * count);
    for (std::size_t a = 0; a < allowedCount; ++a) {
        const Orientation& found = *allowed[a];
        // Each word as certain as its least certain module.
        std::array<double, kFullRangeModeWords> wordCertainty{};
        wordCertainty.fill(std::numeric_limits<double>::infinity());
        forEachModeBit(compact, found.rotation, found.mirrored, [&](std::int64_t r, std::int64_t k) {
            const auto word = static_cast<std::size_t>((k % bits + bits) % bits / 4);
            wordCertainty[word] = std::min(wordCertainty[word], certainty[wrapped(r)]);
        });
        std::array<std::int32_t, kFullRangeModeWords> order{};
        for (std::int32_t i = 0; i < count; ++i) order[static_cast<std::size_t>(i)] = i;
        std::stable_sort(order.begin(), order.begin() + count, [&](std::int32_t x, std::int32_t y) {
            return wordCertainty[static_cast<std::size_t>(x)] < wordCertainty[static_cast<std::size_t>(y)];
        });
        BitList mode;
        extractModeBits(ring, compact, found.rotation, found.mirrored, mode);
        const std::vector<std::int32_t> received = readWords(mode, 0, count, 4);
        std::vector<std::int32_t> erasures;
        for (std::int32_t e = 1; e + kModeSpareCheckWords <= checks; ++e) {
            erasures.assign(order.begin(), order.begin() + e);
            std::vector<std::int32_t> words = received;
            const auto corrected = ReedSolomon::correctWithErasures(ReedSolomon::fieldParam(), words, checks, erasures,
                                                                    kModeSpareCheckWords);
            if (!corrected) continue;
            writeWords(words, count, mode);
            // (An attempt refused may have marked reader initialisation.)
            candidate.readerInit = false;
            if (!takeModeFields(candidate, mode, compact, extended)) continue;
            candidate.rotation = found.rotation;
            candidate.mirrored = found.mirrored;
            candidate.modeCorrections = std::max<std::int32_t>(*corrected, 1);
            return true;
        }
    }
    return false;
}


bool correctModeRing(const SymbolCandidate& candidate, BitList& ring) {
    const bool compact = candidate.type == SymbolType::Compact;
    if (candidate.rune >= 0 || candidate.rotation < 0 || candidate.rotation > 3 || ring.size() != (compact ? 40u : 56u))
        return false;
    BitList mode;
    extractModeBits(ring, compact, candidate.rotation, candidate.mirrored, mode);
    try {
        correctModeMessage(mode, compact);
    } catch (const std::exception&) {
        return false;
    }
    forEachModeBit(compact, candidate.rotation, candidate.mirrored,
                   [&](std::int64_t r, std::int64_t k) { ring.set(r, mode.get(k)); });
    return true;
}

}  // namespace Aztec
