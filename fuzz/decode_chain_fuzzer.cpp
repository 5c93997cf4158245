// The decoding chain below detection: a mode ring, a module matrix and the
// data bits, all chosen by the fuzzer. The chain must answer or refuse,
// never crash, read out of bounds or throw anything but its own refusals.
// Random rings rarely decode, so some inputs skip the mode message and give
// the matrix a symbol size and word count directly, and others start from
// a libzint symbol with a few modules flipped: with at most R/2 flipped
// data modules (R check words) the chain must return the encoded bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <cstdlib>
#include <vector>

#include "decode/bit_list.h"
#include "decode/data_codewords.h"
#include "decode/galois_field.h"
#include "decode/mode_message.h"
#include "decode/text_decoder.h"
#include "support/grid_reading.h"
#include "support/zint_symbol.h"

namespace {

using AztecCore::SymbolCandidate;
using AztecCore::SymbolType;

Aztec::BitList bitsFrom(FuzzedDataProvider& in, std::size_t n) {
    Aztec::BitList bits(n);
    std::uint8_t byte = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 8 == 0) byte = in.ConsumeIntegral<std::uint8_t>();
        bits.set(static_cast<std::int64_t>(i), ((byte >> (i % 8)) & 1) != 0);
    }
    return bits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int what = in.ConsumeIntegralInRange(0, 3);
    if (what == 3) {
        const std::string message = in.ConsumeRandomLengthString(200);
        quarrow_test::ModuleGrid g;
        if (message.empty() || !quarrow_test::encodeAztec(message, {.size = in.ConsumeIntegralInRange(0, 36)}, g))
            return 0;
        SymbolCandidate cand;
        cand.type = quarrow_test::bullseyeType(g);
        if (!Aztec::decodeModeMessage(cand, quarrow_test::ringBits(g, cand.type))) std::abort();
        Aztec::ModuleMatrix matrix = quarrow_test::moduleMatrix(g);
        // libzint 2.11.1 writes a compact symbol's data word count modulo
        // 64 (the count has six bits) when it holds more: such a symbol
        // claims 64 fewer data words than it holds and is not an Aztec Code.
        // Undamaged, it fails with the count it claims and passes with 64
        // more.
        if (cand.type == SymbolType::Compact && !Aztec::decodeData(cand, matrix)) {
            SymbolCandidate overflowed = cand;
            overflowed.dataWords += 64;
            if (Aztec::decodeData(overflowed, matrix)) return 0;
        }
        const int ring = cand.type == SymbolType::Compact ? 5 : 7, mid = g.size / 2;
        const int flips = in.ConsumeIntegralInRange(0, cand.totalWords - cand.dataWords + 2);
        int dataFlips = 0;
        for (int i = 0; i < flips; ++i) {
            const int x = in.ConsumeIntegralInRange(0, g.size - 1), y = in.ConsumeIntegralInRange(0, g.size - 1);
            if (std::max(std::abs(x - mid), std::abs(y - mid)) <= ring) continue;
            matrix[static_cast<std::size_t>(x)].set(y, !matrix[static_cast<std::size_t>(x)].get(y));
            ++dataFlips;
        }
        const auto result = Aztec::decodeData(cand, matrix);
        const bool correctable = 2 * dataFlips <= cand.totalWords - cand.dataWords;
        if (correctable && (!result || std::string(result->text.bytes.begin(), result->text.bytes.end()) != message))
            std::abort();
        return 0;
    }
    if (what == 0) {
        // Data bits straight into the text decoder.
        const auto n = in.ConsumeIntegralInRange<std::size_t>(0, 4096);
        const Aztec::BitList bits = bitsFrom(in, n);
        try {
            (void)Aztec::decodeText(bits);
        } catch (const Aztec::ReedSolomon::IllegalSymbolException&) {
        }
        return 0;
    }
    SymbolCandidate cand;
    cand.type = in.ConsumeBool() ? SymbolType::Compact : SymbolType::FullRange;
    const bool compact = cand.type == SymbolType::Compact;
    if (what == 1) {
        const Aztec::BitList ring = bitsFrom(in, compact ? 40 : 56);
        if (!Aztec::decodeModeMessage(cand, ring)) {
            // The same ring read with doubt: each module's certainty from a byte.
            std::vector<double> certainty(ring.size());
            for (double& c : certainty) c = in.ConsumeIntegral<std::uint8_t>() / 255.0;
            if (!Aztec::decodeModeMessageWithErasures(cand, ring, certainty)) return 0;
        }
    } else {
        const int layers = in.ConsumeIntegralInRange(1, compact ? Aztec::kMaxCompactLayers : Aztec::kMaxFullRangeLayers);
        const Aztec::LayerInfo& info = compact ? Aztec::compactLayerInfo(layers) : Aztec::fullRangeLayerInfo(layers);
        cand.layers = layers;
        cand.wordBits = info.wordBits;
        cand.totalWords = info.totalWords;
        cand.size = info.size;
        cand.bitOffset = info.bitOffset;
        cand.dataWords = in.ConsumeIntegralInRange(1, compact ? 64 : 2048);
        cand.rotation = in.ConsumeIntegralInRange(0, 3);
        cand.mirrored = in.ConsumeBool();
    }
    // Large symbols take their modules from a repeating pattern so that an
    // input stays small.
    const auto side = static_cast<std::size_t>(cand.size);
    const Aztec::BitList pattern = bitsFrom(in, std::min<std::size_t>(side * side, 8 * in.remaining_bytes() + 1));
    Aztec::ModuleMatrix matrix(side, Aztec::BitList(side));
    std::int64_t k = 0;
    for (std::size_t x = 0; x < side; ++x)
        for (std::size_t y = 0; y < side; ++y) matrix[x].set(static_cast<std::int64_t>(y), pattern.get(k++));
    const auto result = Aztec::decodeData(cand, matrix);
    if (result && result->text.bytes.empty()) std::abort();  // empty data is never a read
    return 0;
}
