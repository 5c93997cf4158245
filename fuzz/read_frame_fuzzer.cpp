// Differential frame reading: the fuzzer chooses a message, how libzint
// encodes it, damage to the symbol and how the camera sees it; the reader
// must return exactly the encoded bytes or no read at all. Module damage
// stays within what the check words can always correct (at most R/2 data
// modules for R check words, at most 2 in the mode ring), so every wrong
// read is the reader's fault and not bad luck: beyond R/2 wrong codewords
// a damaged symbol may lie closer to another codeword than to its own.
// Frames without a symbol (noise, clutter) must never give a read.
#include <fuzzer/FuzzedDataProvider.h>

#include <quarrow/quarrow.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "decode/mode_message.h"
#include "support/frame_renderer.h"
#include "support/grid_reading.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;

constexpr int kMaxMessageBytes = 80;
constexpr int kMaxFrameSide = 640;

// Damaged modules that the mode message's own check words always correct
// (5 check words compact, 6 full-range).
constexpr int kModeRingFlips = 2;

void flipModule(ModuleGrid& g, int row, int col) {
    std::vector<bool>& line = g.modules[static_cast<std::size_t>(row)];
    line[static_cast<std::size_t>(col)] = !line[static_cast<std::size_t>(col)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    quarrow::ReadOptions options;
    options.search = in.ConsumeBool() ? quarrow::Search::Centre : quarrow::Search::Frame;
    const bool invert = in.ConsumeBool();

    if (in.ConsumeIntegralInRange(0, 15) == 0) {
        const int w = in.ConsumeIntegralInRange(16, 400), h = in.ConsumeIntegralInRange(16, 400);
        const auto seed = in.ConsumeIntegral<std::uint32_t>();
        const Frame f = in.ConsumeBool() ? clutterFrame(w, h, in.ConsumeIntegralInRange(0, 40), seed)
                                         : noiseFrame(w, h, 128, in.ConsumeIntegralInRange(0, 80), seed);
        const quarrow::ReadResult r = quarrow::read(f.pixels.data(), f.width, f.height, 0, options);
        if (!r.ok() || r.outcome == quarrow::Outcome::Read) std::abort();
        return 0;
    }

    EncodeOptions enc;
    enc.size = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange(1, 12);
    enc.eccLevel = in.ConsumeIntegralInRange(0, 4);
    const std::string message = in.ConsumeRandomLengthString(kMaxMessageBytes);
    if (message.empty()) return 0;
    ModuleGrid grid;
    if (!encodeAztec(message, enc, grid)) return 0;

    // Check words of this symbol, from its own mode message.
    AztecCore::SymbolCandidate cand;
    cand.type = bullseyeType(grid);
    if (!Aztec::decodeModeMessage(cand, ringBits(grid, cand.type))) std::abort();  // libzint's symbol
    const int checkWords = cand.totalWords - cand.dataWords;
    const int ring = cand.type == AztecCore::SymbolType::Compact ? 5 : 7;
    const int n = grid.size, mid = n / 2;

    const int dataFlips = in.ConsumeIntegralInRange(0, checkWords / 2);
    for (int i = 0; i < dataFlips; ++i) {
        // A module outside the core: one bit of at most one codeword.
        int row = in.ConsumeIntegralInRange(0, n - 1), col = in.ConsumeIntegralInRange(0, n - 1);
        if (std::max(std::abs(row - mid), std::abs(col - mid)) <= ring) continue;
        flipModule(grid, row, col);
    }
    const int ringFlips = in.ConsumeIntegralInRange(0, kModeRingFlips);
    for (int i = 0; i < ringFlips; ++i) {
        // Ring modules run along the square at distance `ring` from the centre.
        const int side = in.ConsumeIntegralInRange(0, 3), along = in.ConsumeIntegralInRange(-ring, ring - 1);
        const int row = mid + (side == 0 ? -ring : side == 1 ? along : side == 2 ? ring : -along);
        const int col = mid + (side == 0 ? along : side == 1 ? ring : side == 2 ? -along : -ring);
        flipModule(grid, row, col);
    }

    RenderOptions ro;
    ro.moduleSize = in.ConsumeFloatingPointInRange(2.0, 7.0);
    ro.rotationDeg = in.ConsumeFloatingPointInRange(0.0, 360.0);
    ro.mirror = in.ConsumeBool();
    ro.tiltXDeg = in.ConsumeFloatingPointInRange(-30.0, 30.0);
    ro.tiltYDeg = in.ConsumeFloatingPointInRange(-30.0, 30.0);
    ro.blurSigma = in.ConsumeFloatingPointInRange(0.0, 0.35 * ro.moduleSize);
    ro.noiseSigma = in.ConsumeFloatingPointInRange(0.0, 12.0);
    ro.gradient = in.ConsumeFloatingPointInRange(0.0, 0.4);
    ro.gradientAngleDeg = in.ConsumeFloatingPointInRange(0.0, 360.0);
    ro.dark = in.ConsumeIntegralInRange(0, 90);
    ro.light = in.ConsumeIntegralInRange(ro.dark + 70, 255);
    ro.background = in.ConsumeIntegralInRange(0, 255);
    ro.clutter = in.ConsumeIntegralInRange(0, 6);
    ro.supersample = 2;
    ro.seed = in.ConsumeIntegral<std::uint32_t>();
    const double extent = (n + 2.0 * ro.quietZone) * ro.moduleSize * 1.3;
    ro.width = std::min(kMaxFrameSide, static_cast<int>(extent) + in.ConsumeIntegralInRange(0, 120));
    ro.height = std::min(kMaxFrameSide, static_cast<int>(extent) + in.ConsumeIntegralInRange(0, 120));
    ro.dx = in.ConsumeFloatingPointInRange(-0.1, 0.1) * ro.width;
    ro.dy = in.ConsumeFloatingPointInRange(-0.1, 0.1) * ro.height;
    Frame f = renderSymbol(grid, ro);
    if (invert)
        for (auto& p : f.pixels) p = static_cast<std::uint8_t>(255 - p);

    const quarrow::ReadResult r = quarrow::read(f.pixels.data(), f.width, f.height, 0, options);
    if (!r.ok()) std::abort();
    if (r.outcome == quarrow::Outcome::Read &&
        std::string(r.bytes.begin(), r.bytes.end()) != message)
        std::abort();  // wrong bytes
    return 0;
}
