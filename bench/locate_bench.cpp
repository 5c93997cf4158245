// Time of the whole-frame stage on 720p frames (Google Benchmark): the
// finder's pass over a frame without a symbol, the whole read of such a
// frame (centre search, then the whole frame), and reads of a blurred and
// of a turned 5-layer symbol away from the centre. The copy of a frame is
// the floor beside them.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "locate/bullseye_finder.h"
#include "quarrow/quarrow.hpp"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;

constexpr int kWidth = 1280, kHeight = 720;

const Frame& emptyFrame() {
    static const Frame f = clutterFrame(kWidth, kHeight, 40, 3);
    return f;
}

Frame symbolFrame(bool blurred) {
    ModuleGrid g;
    encodeAztec("Quarrow whole-frame benchmark: a five-layer full-range symbol", {.size = 9}, g);
    RenderOptions o;
    o.width = kWidth;
    o.height = kHeight;
    o.moduleSize = blurred ? 6.0 : 4.0;
    o.rotationDeg = blurred ? 12.0 : 37.0;
    o.dx = 300.0;
    o.dy = -120.0;
    o.noiseSigma = 2.0;
    if (blurred) o.blurSigma = 0.5 * o.moduleSize;
    return renderSymbol(g, o);
}

void BM_CopyFrame720p(benchmark::State& state) {
    const Frame& f = emptyFrame();
    std::vector<std::uint8_t> copy(f.pixels.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), f.pixels.data(), f.pixels.size());
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_CopyFrame720p);

void BM_FinderPassNoSymbol720p(benchmark::State& state) {
    const Frame& f = emptyFrame();
    const AztecCore::Locate::GreyView v{f.pixels.data(), f.width, f.height, f.width};
    for (auto _ : state) benchmark::DoNotOptimize(AztecCore::Locate::findBullseyes(v, {}));
}
BENCHMARK(BM_FinderPassNoSymbol720p);

void BM_ReadNoSymbol720p(benchmark::State& state) {
    const Frame& f = emptyFrame();
    for (auto _ : state) benchmark::DoNotOptimize(quarrow::read(f.pixels.data(), f.width, f.height));
}
BENCHMARK(BM_ReadNoSymbol720p);

void readSymbol(benchmark::State& state, bool blurred) {
    const Frame f = symbolFrame(blurred);
    if (quarrow::read(f.pixels.data(), f.width, f.height).outcome != quarrow::Outcome::Read) {
        state.SkipWithError("the benchmark frame does not read");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(quarrow::read(f.pixels.data(), f.width, f.height));
}

void BM_ReadBlurred5Layer720p(benchmark::State& state) { readSymbol(state, true); }
BENCHMARK(BM_ReadBlurred5Layer720p);

void BM_ReadTurned5Layer720p(benchmark::State& state) { readSymbol(state, false); }
BENCHMARK(BM_ReadTurned5Layer720p);

}  // namespace
