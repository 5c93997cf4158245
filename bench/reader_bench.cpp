// Time per frame of one ReaderEngine::read on 720p and 1080p camera frames:
// with a compact or full-range symbol, small or large, and without any
// symbol (the search then walks all its seeds). Frames are rendered once,
// outside the timed loop. The counter "read" is 1 when the frame was read
// with its exact bytes, so a fast but failing read cannot pass unnoticed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "engine/reader_engine.h"
#include "image/gray_buf.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;

struct BenchFrame {
    Frame frame;
    std::string expected;  // empty for frames without a symbol
};

constexpr int k720Width = 1280, k720Height = 720;
constexpr int k1080Width = 1920, k1080Height = 1080;

// A symbol of encoder size `size` holding `text` repeated to fill it well,
// drawn with mild camera effects.
BenchFrame symbolFrame(int size, int width, int height, double moduleSize) {
    // Grow the content while it fits, then take the last that did. Compact
    // 4-layer symbols stay small: libzint 2.11.1 miscounts their data words
    // beyond 64.
    constexpr const char* kUnit = "Quarrow benchmark 0123456789 ";
    constexpr std::size_t kMaxLength = 1200;
    constexpr std::size_t kCompact4MaxLength = 60;
    const std::size_t limit = size == 4 ? kCompact4MaxLength : kMaxLength;
    ModuleGrid grid;
    std::string text, fitted = "Q";
    for (;;) {
        text.append(kUnit);
        if (text.size() > limit || !encodeAztec(text, {.size = size}, grid)) break;
        fitted.assign(text);
    }
    encodeAztec(fitted, {.size = size}, grid);
    RenderOptions o;
    o.width = width;
    o.height = height;
    o.moduleSize = moduleSize;
    o.rotationDeg = 3.0;
    o.tiltXDeg = 5.0;
    o.blurSigma = 0.7;
    o.noiseSigma = 2.5;
    o.gradient = 0.2;
    o.clutter = 10;
    o.seed = static_cast<std::uint32_t>(size);
    return {renderSymbol(grid, o), fitted};
}

const BenchFrame& cachedFrame(const std::string& key) {
    static std::map<std::string, BenchFrame> cache;
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    BenchFrame f;
    if (key == "720p/compact-1") f = symbolFrame(1, k720Width, k720Height, 5.0);
    else if (key == "720p/compact-4") f = symbolFrame(4, k720Width, k720Height, 5.0);
    else if (key == "720p/full-2") f = symbolFrame(6, k720Width, k720Height, 5.0);
    else if (key == "720p/full-20") f = symbolFrame(24, k720Width, k720Height, 4.0);
    else if (key == "1080p/compact-2") f = symbolFrame(2, k1080Width, k1080Height, 6.0);
    else if (key == "1080p/full-8") f = symbolFrame(12, k1080Width, k1080Height, 6.0);
    else if (key == "1080p/full-32") f = symbolFrame(36, k1080Width, k1080Height, 6.0);
    else if (key == "720p/none-uniform") f.frame = uniformFrame(k720Width, k720Height, 160);
    else if (key == "720p/none-clutter") f.frame = clutterFrame(k720Width, k720Height, 40, 3);
    else if (key == "1080p/none-noise") f.frame = noiseFrame(k1080Width, k1080Height, 128.0, 30.0, 5);
    else if (key == "1080p/none-clutter") f.frame = clutterFrame(k1080Width, k1080Height, 60, 4);
    return cache.emplace(key, std::move(f)).first->second;
}

void readFrame(benchmark::State& state, const std::string& key) {
    const BenchFrame& bf = cachedFrame(key);
    const AztecCore::Image::GrayBuf image(bf.frame.pixels.data(), bf.frame.width, bf.frame.height);
    AztecCore::ReadOutcome outcome{};
    std::string message;
    for (auto _ : state) {
        AztecCore::ReaderEngine engine;  // one engine per frame, as the front end does
        outcome = engine.read(image, message);
        benchmark::DoNotOptimize(outcome);
        if (!bf.expected.empty()) {
            state.counters["read"] = outcome == AztecCore::ReadOutcome::Read && engine.dataText() == bf.expected;
        }
    }
    state.SetLabel(message.substr(0, message.find('\n')));
}

void registerAll() {
    for (const char* key : {"720p/compact-1", "720p/compact-4", "720p/full-2", "720p/full-20", "1080p/compact-2",
                            "1080p/full-8", "1080p/full-32", "720p/none-uniform", "720p/none-clutter",
                            "1080p/none-noise", "1080p/none-clutter"}) {
        std::string name = "read/";
        name.append(key);
        benchmark::RegisterBenchmark(name.c_str(), [key](benchmark::State& s) { readFrame(s, key); })
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
