// CPU time per camera frame of one centre-path read (ReaderEngine::read),
// against the floor of merely copying the frame twice (memcpy). Frames are
// rendered once, outside the timed loops: 720p and 1080p, with compact and
// full-range symbols of several sizes, without any symbol (the search then
// walks all its seeds), and hostile ones (a damaged 32-layer symbol, a
// symbol far larger than its frame). "new" rows make an engine per frame as
// the runtime component does; "reused" rows keep one engine and read the
// caller's pixels in place. The counter "read" is 1 when the frame was
// read with its exact bytes, so a fast but failing read cannot pass
// unnoticed. A table of ratios to the floor closes the run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "allocation_counter.h"
#include "engine/reader_engine.h"
#include "image/gray_buf.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"
#if __has_include("image/image_view.h")
#include "image/image_view.h"
#define QUARROW_BENCH_REUSE 1
#endif

namespace {

using namespace quarrow_test;

struct BenchFrame {
    Frame frame;
    std::string expected;  // empty for frames without a symbol
};

constexpr int k720Width = 1280, k720Height = 720;
constexpr int k1080Width = 1920, k1080Height = 1080;

RenderOptions camera(int width, int height, double moduleSize, std::uint32_t seed) {
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
    o.seed = seed;
    return o;
}

// A symbol of encoder size `size` holding `text` repeated to fill it well
// (or, with `fill` false, a short text: nearly all check words).
BenchFrame symbolFrame(int size, int width, int height, double moduleSize, bool fill = true) {
    // Compact 4-layer symbols stay small: libzint 2.11.1 miscounts their
    // data words beyond 64.
    constexpr const char* kUnit = "Quarrow benchmark 0123456789 ";
    constexpr std::size_t kMaxLength = 1200;
    constexpr std::size_t kCompact4MaxLength = 60;
    const std::size_t limit = !fill ? 1 : size == 4 ? kCompact4MaxLength : kMaxLength;
    ModuleGrid grid;
    std::string text, fitted = "Q";
    for (;;) {
        text.append(kUnit);
        if (text.size() > limit || !encodeAztec(text, {.size = size}, grid)) break;
        fitted.assign(text);
    }
    encodeAztec(fitted, {.size = size}, grid);
    return {renderSymbol(grid, camera(width, height, moduleSize, static_cast<std::uint32_t>(size))), fitted};
}

// A full-range 32-layer symbol with blots over half its data: located,
// never decoded, the most work a damaged symbol can cause.
BenchFrame damagedFrame() {
    std::string text;
    for (int i = 0; i < 60; ++i) text += "Quarrow damaged ";
    ModuleGrid grid;
    encodeAztec(text, {.size = 36}, grid);
    for (int r = 0; r < grid.size; ++r)
        for (int c = 0; c < grid.size; ++c)
            if ((r / 12 + c / 12) % 2 == 0 && (r < 60 || r > 90 || c < 60 || c > 90))
                grid.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = (r * 7 + c * 3) % 5 < 2;
    return {renderSymbol(grid, camera(k1080Width, k1080Height, 6.0, 99)), ""};
}

// The centre of a 151-module symbol through a 150 x 150 frame.
BenchFrame oversizedFrame() {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "0123456789";
    ModuleGrid grid;
    encodeAztec(text, {.size = 36}, grid);
    RenderOptions o;
    o.width = o.height = 150;
    o.moduleSize = 4;
    return {renderSymbol(grid, o), ""};
}

const BenchFrame& cachedFrame(const std::string& key) {
    // The threaded rows ask from several threads at once.
    static std::mutex lock;
    const std::lock_guard<std::mutex> hold(lock);
    static std::map<std::string, BenchFrame> cache;
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    BenchFrame f;
    if (key == "720p/compact-2") f = symbolFrame(2, k720Width, k720Height, 5.0);
    else if (key == "720p/full-5") f = symbolFrame(9, k720Width, k720Height, 5.0);
    else if (key == "720p/full-20") f = symbolFrame(24, k720Width, k720Height, 4.0);
    else if (key == "1080p/full-32-ecc98") f = symbolFrame(36, k1080Width, k1080Height, 6.0, false);
    else if (key == "720p/none-grey") f.frame = uniformFrame(k720Width, k720Height, 128);
    else if (key == "720p/none-noise") f.frame = noiseFrame(k720Width, k720Height, 128.0, 30.0, 5);
    else if (key == "720p/none-photo") f.frame = clutterFrame(k720Width, k720Height, 40, 3);
    else if (key == "1080p/none-photo") f.frame = clutterFrame(k1080Width, k1080Height, 60, 4);
    else if (key == "1080p/damaged-32") f = damagedFrame();
    else if (key == "150x150/oversized-32") f = oversizedFrame();
    return cache.emplace(key, std::move(f)).first->second;
}

void countRead(benchmark::State& state, const BenchFrame& bf, AztecCore::ReadOutcome outcome, const std::string& bytes) {
    if (!bf.expected.empty()) state.counters["read"] = outcome == AztecCore::ReadOutcome::Read && bytes == bf.expected;
}

// As the runtime component reads: a new engine for every frame.
void readNew(benchmark::State& state, const std::string& key) {
    const BenchFrame& bf = cachedFrame(key);
    const AztecCore::Image::GrayBuf image(bf.frame.pixels.data(), bf.frame.width, bf.frame.height);
    AztecCore::ReadOutcome outcome{};
    std::string message;
    for (auto _ : state) {
        AztecCore::ReaderEngine engine;
        outcome = engine.read(image, message);
        benchmark::DoNotOptimize(outcome);
        countRead(state, bf, outcome, engine.dataText());
    }
    state.SetLabel(message.substr(0, message.find('\n')));
}

#ifdef QUARROW_BENCH_REUSE
// One engine for every frame, reading the caller's pixels in place.
void readReused(benchmark::State& state, const std::string& key) {
    const BenchFrame& bf = cachedFrame(key);
    const AztecCore::Image::ImageView view{bf.frame.pixels.data(), bf.frame.width, bf.frame.height, bf.frame.width};
    AztecCore::ReaderEngine engine;
    AztecCore::ReadOutcome outcome{};
    std::string message;
    for (auto _ : state) {
        outcome = engine.read(view, message);
        benchmark::DoNotOptimize(outcome);
        countRead(state, bf, outcome, engine.dataText());
    }
    state.SetLabel(message.substr(0, message.find('\n')));
    // Memory: allocations of one more read through the warm engine, and
    // the heap growth of a first read on a new thread (nothing kept yet),
    // as a multiple of the frame's bytes.
    {
        const quarrow_bench::AllocationScope scope;
        engine.read(view, message);
        state.counters["allocs"] = static_cast<double>(scope.allocations());
    }
    std::size_t coldPeak = 0;
    std::thread([&] {
        const quarrow_bench::AllocationScope scope;
        AztecCore::ReaderEngine fresh;
        std::string text;
        fresh.read(view, text);
        coldPeak = scope.peakGrowth();
    }).join();
    state.counters["peak_x_frame"] = static_cast<double>(coldPeak) / static_cast<double>(bf.frame.pixels.size());
}

// Frames per second of wall time with one reused engine per thread; run
// with one and with two threads, the closing table gives the ratio.
void readThroughput(benchmark::State& state, const std::string& key) {
    const BenchFrame& bf = cachedFrame(key);
    const AztecCore::Image::ImageView view{bf.frame.pixels.data(), bf.frame.width, bf.frame.height, bf.frame.width};
    AztecCore::ReaderEngine engine;
    std::string message;
    for (auto _ : state) {
        const AztecCore::ReadOutcome outcome = engine.read(view, message);
        benchmark::DoNotOptimize(outcome);
        countRead(state, bf, outcome, engine.dataText());
    }
    state.SetItemsProcessed(state.iterations());
}
#endif

// The floor: the frame copied twice.
void copyFloor(benchmark::State& state, int width, int height) {
    const std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 77);
    std::vector<std::uint8_t> a(frame.size()), b(frame.size());
    for (auto _ : state) {
        std::memcpy(a.data(), frame.data(), frame.size());
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}

// The rows read by one and by two threads at once.
const char* const kThroughputKeys[] = {"720p/none-photo", "720p/full-5"};

const char* const kKeys[] = {"720p/none-grey",     "720p/none-noise",      "720p/none-photo",  "720p/compact-2",
                             "720p/full-5",        "720p/full-20",         "1080p/none-photo", "1080p/full-32-ecc98",
                             "1080p/damaged-32",   "150x150/oversized-32"};

// Prints the usual console lines, then each row's median CPU time as a
// multiple of the copy floor of its frame size.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // In milliseconds whatever unit the row reports in (the whole-frame
        // rows report nanoseconds).
        auto cpuMs = [](const Run& r) { return r.GetAdjustedCPUTime() * 1e3 / benchmark::GetTimeUnitMultiplier(r.time_unit); };
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "median") {
                if (r.run_type == Run::RT_Iteration && r.repetitions <= 1) times_[r.run_name.str()] = cpuMs(r);
                continue;
            }
            times_[r.run_name.str()] = cpuMs(r);
        }
        for (const Run& r : runs) {
            const std::string name = r.run_name.str();
            if (name.rfind("throughput/", 0) != 0) continue;
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
            if (r.run_type == Run::RT_Iteration && r.repetitions > 1) continue;
            const auto rate = r.counters.find("items_per_second");
            if (rate != r.counters.end()) rates_[name] = rate->second.value;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-36s %12s %10s\n", "row", "CPU ms", "x floor");
        for (const auto& [name, ms] : times_) {
            if (name.rfind("floor/", 0) == 0) continue;
            // "read/<engine>/<frame size>/<content>"
            const std::size_t a = name.find('/', name.find('/') + 1) + 1, b = name.find('/', a);
            const auto floor = times_.find("floor/" + name.substr(a, b - a));
            if (floor == times_.end() || floor->second <= 0) {
                std::printf("%-36s %12.3f %10s\n", name.c_str(), ms, "-");
            } else {
                std::printf("%-36s %12.3f %10.1f\n", name.c_str(), ms, ms / floor->second);
            }
        }
        for (const auto& [name, ms] : times_)
            if (name.rfind("floor/", 0) == 0) std::printf("%-36s %12.3f\n", name.c_str(), ms);
        // "throughput/<frame size>/<content>/real_time/threads:<n>"
        std::printf("\n%-36s %12s %12s %8s\n", "frames per second (wall)", "1 thread", "2 threads", "ratio");
        for (const auto& [name, one] : rates_) {
            const std::size_t at = name.find("/real_time/threads:1");
            if (at == std::string::npos) continue;
            const auto two = rates_.find(name.substr(0, at) + "/real_time/threads:2");
            if (two == rates_.end() || one <= 0) continue;
            std::printf("%-36s %12.1f %12.1f %8.2f\n", name.substr(0, at).c_str(), one, two->second, two->second / one);
        }
    }

private:
    std::map<std::string, double> times_;
    std::map<std::string, double> rates_;
};

void registerAll() {
    benchmark::RegisterBenchmark("floor/720p", [](benchmark::State& s) { copyFloor(s, k720Width, k720Height); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("floor/1080p", [](benchmark::State& s) { copyFloor(s, k1080Width, k1080Height); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("floor/150x150", [](benchmark::State& s) { copyFloor(s, 150, 150); })
        ->Unit(benchmark::kMillisecond);
    for (const char* key : kKeys) {
        benchmark::RegisterBenchmark((std::string("read/new/") + key).c_str(),
                                     [key](benchmark::State& s) { readNew(s, key); })
            ->Unit(benchmark::kMillisecond);
#ifdef QUARROW_BENCH_REUSE
        benchmark::RegisterBenchmark((std::string("read/reused/") + key).c_str(),
                                     [key](benchmark::State& s) { readReused(s, key); })
            ->Unit(benchmark::kMillisecond);
#endif
    }
#ifdef QUARROW_BENCH_REUSE
    for (const char* key : kThroughputKeys) {
        benchmark::RegisterBenchmark((std::string("throughput/") + key).c_str(),
                                     [key](benchmark::State& s) { readThroughput(s, key); })
            ->Threads(1)
            ->Threads(2)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
#endif
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
