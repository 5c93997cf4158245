// Time of the whole-frame stage on 720p frames (Google Benchmark): the
// finder's pass over a frame without a symbol (clean, and with noise of 2
// and of 8 grey levels), the whole read of such a frame (centre search,
// then the whole frame; clean, and with sensor noise of 2 and of 8 grey
// levels, which makes hits of noise wherever the clutter leaves no flat
// blocks and costs the whole-frame stage a further round; and a busier
// scene of shapes and text with noise of 2), and reads of
// a blurred and of a turned 5-layer symbol away from the centre; the
// FrameSearch ones time the whole-frame stage alone on the same frames,
// the CentreOnly ones the centre search alone; and one solve of a blurred,
// noisy symbol's module levels from every pixel; and the read of a symbol
// damaged beyond repair, which the search tries until its allowance is
// spent, at efforts of 1 and 0.25. The copy of a frame is the floor
// beside them.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "locate/bullseye_finder.h"
#include "locate/frame_search.h"
#include "locate/grey_view.h"
#include "locate/module_solver.h"
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

const Frame& noisyFrame() {
    static const Frame f = withNoise(clutterFrame(kWidth, kHeight, 40, 3), 8.0, 5);
    return f;
}

// Noise of 2 grey levels, about what a phone camera's frames keep after
// its own denoising: enough to break the flat blocks everywhere.
const Frame& mildlyNoisyFrame() {
    static const Frame f = withNoise(clutterFrame(kWidth, kHeight, 40, 3), 2.0, 5);
    return f;
}

// A busier scene: 60 shapes and lines of text (a printed page round where
// a symbol will be), with the noise of 2 grey levels. Its text and edges
// make the finder many hits that pass its cross-checks; their fits and the
// ring template's looks cost most of its read.
const Frame& busyFrame() {
    static const Frame f = withNoise(clutterFrame(kWidth, kHeight, 60, 8), 2.0, 108);
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

// The finder's pass as the frame search makes it: the frame's noise
// estimate, then the pass told of it.
void finderPass(benchmark::State& state, const Frame& f) {
    const AztecCore::Locate::GreyView v{f.pixels.data(), f.width, f.height, f.width};
    for (auto _ : state)
        benchmark::DoNotOptimize(AztecCore::Locate::findBullseyes(v, {}, AztecCore::Locate::estimateNoise(v)));
}

void BM_FinderPassNoSymbol720p(benchmark::State& state) { finderPass(state, emptyFrame()); }
BENCHMARK(BM_FinderPassNoSymbol720p);

// The same pass on the noisy frame: noise breaks the rows into many short
// runs, each tested for the signature, and makes many row hits to
// cross-check, wherever the clutter leaves the frame no flat blocks.
void BM_FinderPassNoisyNoSymbol720p(benchmark::State& state) { finderPass(state, noisyFrame()); }
BENCHMARK(BM_FinderPassNoisyNoSymbol720p);
// Noise of 2 leaves flat only the blocks far from the clutter: the row
// clusters of noise near it reach the bound on cross-checks.
void BM_FinderPassMildlyNoisyNoSymbol720p(benchmark::State& state) { finderPass(state, mildlyNoisyFrame()); }
BENCHMARK(BM_FinderPassMildlyNoisyNoSymbol720p);

void BM_ReadNoSymbol720p(benchmark::State& state) {
    const Frame& f = emptyFrame();
    for (auto _ : state) benchmark::DoNotOptimize(quarrow::read(f.pixels.data(), f.width, f.height));
}
BENCHMARK(BM_ReadNoSymbol720p);

void BM_ReadNoisyNoSymbol720p(benchmark::State& state) {
    const Frame& f = noisyFrame();
    for (auto _ : state) benchmark::DoNotOptimize(quarrow::read(f.pixels.data(), f.width, f.height));
}
BENCHMARK(BM_ReadNoisyNoSymbol720p);

void BM_ReadMildlyNoisyNoSymbol720p(benchmark::State& state) {
    const Frame& f = mildlyNoisyFrame();
    for (auto _ : state) benchmark::DoNotOptimize(quarrow::read(f.pixels.data(), f.width, f.height));
}
BENCHMARK(BM_ReadMildlyNoisyNoSymbol720p);

void BM_ReadBusyNoSymbol720p(benchmark::State& state) {
    const Frame& f = busyFrame();
    for (auto _ : state) benchmark::DoNotOptimize(quarrow::read(f.pixels.data(), f.width, f.height));
}
BENCHMARK(BM_ReadBusyNoSymbol720p)->Unit(benchmark::kMillisecond);

void searchOnly(benchmark::State& state, const Frame& f, bool wantSymbol) {
    const AztecCore::Locate::GreyView v{f.pixels.data(), f.width, f.height, f.width};
    if (AztecCore::Locate::searchFrame(v, {}).empty() == wantSymbol) {
        state.SkipWithError("the benchmark frame does not read as expected");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(AztecCore::Locate::searchFrame(v, {}));
}

void BM_FrameSearchNoSymbol720p(benchmark::State& state) { searchOnly(state, emptyFrame(), false); }
BENCHMARK(BM_FrameSearchNoSymbol720p);
void BM_FrameSearchNoisyNoSymbol720p(benchmark::State& state) { searchOnly(state, noisyFrame(), false); }
BENCHMARK(BM_FrameSearchNoisyNoSymbol720p);
void BM_FrameSearchBlurred5Layer720p(benchmark::State& state) { searchOnly(state, symbolFrame(true), true); }
BENCHMARK(BM_FrameSearchBlurred5Layer720p);
void BM_FrameSearchTurned5Layer720p(benchmark::State& state) { searchOnly(state, symbolFrame(false), true); }
BENCHMARK(BM_FrameSearchTurned5Layer720p);

void readSymbol(benchmark::State& state, bool blurred) {
    const Frame f = symbolFrame(blurred);
    if (quarrow::read(f.pixels.data(), f.width, f.height).outcome != quarrow::Outcome::Read) {
        state.SkipWithError("the benchmark frame does not read");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(quarrow::read(f.pixels.data(), f.width, f.height));
}

// A five-layer symbol with about 40 % of its data modules flipped (the
// bull's-eye and mode ring kept), where the search tries every way it has.
// The argument is the effort in hundredths.
void BM_ReadDamaged5Layer720p(benchmark::State& state) {
    ModuleGrid g;
    encodeAztec("Quarrow whole-frame benchmark: a five-layer full-range symbol", {.size = 9}, g);
    std::mt19937 rng(9);
    const int core = 7;  // the bull's-eye and the mode ring lie within this many modules of the centre
    for (int r = 0; r < g.size; ++r)
        for (int c = 0; c < g.size; ++c) {
            const bool inCore = std::abs(r - g.size / 2) <= core && std::abs(c - g.size / 2) <= core;
            if (!inCore && rng() % 5 < 2) g.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)].flip();
        }
    RenderOptions o;
    o.width = kWidth;
    o.height = kHeight;
    o.moduleSize = 4.0;
    o.dx = 300.0;
    o.dy = -120.0;
    o.noiseSigma = 2.0;
    o.blurSigma = 0.3 * o.moduleSize;
    const Frame f = renderSymbol(g, o);
    quarrow::ReadOptions options;
    options.effort = static_cast<double>(state.range(0)) / 100.0;
    if (quarrow::read(f.pixels.data(), f.width, f.height, 0, options).outcome == quarrow::Outcome::Read) {
        state.SkipWithError("the damaged benchmark frame reads");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(quarrow::read(f.pixels.data(), f.width, f.height, 0, options));
}
BENCHMARK(BM_ReadDamaged5Layer720p)->Arg(100)->Arg(25)->Unit(benchmark::kMillisecond);

void BM_ReadBlurred5Layer720p(benchmark::State& state) { readSymbol(state, true); }
BENCHMARK(BM_ReadBlurred5Layer720p);

void BM_ReadTurned5Layer720p(benchmark::State& state) { readSymbol(state, false); }
BENCHMARK(BM_ReadTurned5Layer720p);

// The centre search alone on the same frames (it finds nothing on any of
// them): the part of each whole read above that the whole-frame stage
// does not own.
void centreOnly(benchmark::State& state, const Frame& f) {
    quarrow::ReadOptions o;
    o.search = quarrow::Search::Centre;
    for (auto _ : state) benchmark::DoNotOptimize(quarrow::read(f.pixels.data(), f.width, f.height, 0, o));
}
void BM_CentreOnlyNoSymbol720p(benchmark::State& state) { centreOnly(state, emptyFrame()); }
BENCHMARK(BM_CentreOnlyNoSymbol720p);
void BM_CentreOnlyNoisyNoSymbol720p(benchmark::State& state) { centreOnly(state, noisyFrame()); }
BENCHMARK(BM_CentreOnlyNoisyNoSymbol720p);
void BM_CentreOnlyBlurred5Layer720p(benchmark::State& state) { centreOnly(state, symbolFrame(true)); }
BENCHMARK(BM_CentreOnlyBlurred5Layer720p);
void BM_CentreOnlyTurned5Layer720p(benchmark::State& state) { centreOnly(state, symbolFrame(false)); }
BENCHMARK(BM_CentreOnlyTurned5Layer720p);

// One solve of a blurred, noisy 27-module symbol's levels from every pixel
// it covers (module_solver.h): what the whole-frame search spends per
// transform it solves through on a noisy frame (at most six a symbol).
void BM_SolveModules27(benchmark::State& state) {
    ModuleGrid g;
    encodeAztec("Quarrow module solver benchmark", {.size = 4}, g);  // compact, 4 layers: 27 modules
    RenderOptions o;
    o.moduleSize = 4.0;
    o.rotationDeg = 17.0;
    o.blurSigma = 0.8 * o.moduleSize;
    o.noiseSigma = 8.0;
    const Frame f = renderSymbol(g, o);
    const Aztec::Math::Homography toImage = gridTransform(o, g.size);
    const AztecCore::Locate::Sampler sampler({f.pixels.data(), f.width, f.height, f.width}, false);
    AztecCore::Locate::KnownLevels known;
    known.dark = o.dark;
    known.light = o.light;
    const std::vector<double> start(static_cast<std::size_t>((g.size + 2) * (g.size + 2)), 0.5 * (o.dark + o.light));
    for (auto _ : state) benchmark::DoNotOptimize(AztecCore::Locate::solveModuleLevels(sampler, toImage, g.size, 0.8, known, start));
}
BENCHMARK(BM_SolveModules27);

}  // namespace
