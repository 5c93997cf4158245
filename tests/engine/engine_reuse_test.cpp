// One engine reading many frames: every read answers as a new engine
// would, frames are read in place (padded rows included), and the memory a
// read takes stays near one frame's worth, and near nothing once reused.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "engine/reader_engine.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

// The sanitizers keep their own allocator; the memory count runs without them.
#if !defined(__SANITIZE_ADDRESS__)
#define QUARROW_COUNT_ALLOCATIONS 1
namespace {
std::atomic<std::size_t> allocatedBytes{0};
std::atomic<std::size_t> allocations{0};
}  // namespace

// Counts every byte and every call this test program asks of operator new.
void* operator new(std::size_t n) {
    allocatedBytes += n;
    ++allocations;
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

using namespace AztecCore;
using namespace quarrow_test;

struct Answer {
    ReadOutcome outcome;
    std::string message, bytes;
    bool operator==(const Answer&) const = default;
};

Image::ImageView viewOf(const Frame& f) { return {f.pixels.data(), f.width, f.height, f.width}; }

Answer readWith(ReaderEngine& engine, const Image::ImageView& view) {
    Answer a;
    a.outcome = engine.read(view, a.message);
    a.bytes = engine.dataText();
    return a;
}

std::vector<Frame> mixedFrames() {
    std::vector<Frame> frames;
    const int sizes[] = {1, 3, 6, 12};
    for (int i = 0; i < 4; ++i) {
        ModuleGrid g;
        encodeAztec("Reused engine " + std::to_string(i), {.size = sizes[i]}, g);
        RenderOptions o;
        o.width = i % 2 ? 800 : 640;
        o.height = i % 2 ? 600 : 480;
        o.moduleSize = 4 + i;
        o.rotationDeg = 7.0 * i;
        o.noiseSigma = 3;
        o.seed = static_cast<std::uint32_t>(i + 1);
        frames.push_back(renderSymbol(g, o));
        frames.push_back(clutterFrame(o.width, o.height, 30, o.seed));
    }
    frames.push_back(renderSymbol(loneBullseyeGrid(true, 27, 3), {}));
    frames.push_back(uniformFrame(320, 240, 200));
    ModuleGrid damaged;
    encodeAztec("damaged beyond repair", {.size = 2}, damaged);
    for (int r = 0; r < damaged.size; r += 2)
        for (int c = 0; c < 4; ++c) damaged.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = true;
    frames.push_back(renderSymbol(damaged, {}));
    return frames;
}

TEST(EngineReuse, EveryReadAnswersAsOnANewEngine) {
    const std::vector<Frame> frames = mixedFrames();
    ReaderEngine reused;
    int read = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            ReaderEngine fresh;
            const Answer expected = readWith(fresh, viewOf(frames[i]));
            EXPECT_EQ(readWith(reused, viewOf(frames[i])), expected) << "frame " << i << ": " << expected.message;
            read += expected.outcome == ReadOutcome::Read;
        }
    }
    EXPECT_GE(read, 8);  // the symbol frames are read
}

TEST(EngineReuse, PaddedRowsAreReadInPlace) {
    ModuleGrid g;
    encodeAztec("padded rows", {.size = 7}, g);
    const Frame f = renderSymbol(g, {});
    const int stride = f.width + 37;
    std::vector<std::uint8_t> padded(static_cast<std::size_t>(stride) * static_cast<std::size_t>(f.height), 0);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) padded[static_cast<std::size_t>(y * stride + x)] = f.at(x, y);
    ReaderEngine engine;
    const Answer a = readWith(engine, {padded.data(), f.width, f.height, stride});
    EXPECT_EQ(a.bytes, "padded rows");
    ReaderEngine fresh;
    EXPECT_EQ(a, readWith(fresh, viewOf(f)));
}

#ifdef QUARROW_COUNT_ALLOCATIONS
TEST(EngineReuse, AReadTakesAboutOneFrameOfMemoryAndAReusedOneAlmostNone) {
    // Beyond the caller's frame a read keeps one frame-sized working image;
    // the frame itself is not copied.
    const Frame f = noiseFrame(2400, 1800, 128.0, 40.0, 7);
    const std::size_t frameBytes = f.pixels.size();
    ReaderEngine engine;
    std::string message;
    const std::size_t before = allocatedBytes;
    engine.read(viewOf(f), message);
    const std::size_t first = allocatedBytes - before;
    EXPECT_LE(first, frameBytes + frameBytes / 5) << first << " bytes for a frame of " << frameBytes;
    const std::size_t again = allocatedBytes;
    engine.read(viewOf(f), message);
    EXPECT_LE(allocatedBytes - again, frameBytes / 100);
}

// Sensor noise passes the bull's-eye test here and there, so its mode
// rings are read and corrected too. A symbol's data is decoded into the
// engine's own storage.
TEST(EngineReuse, AReusedEngineAllocatesNothing) {
    std::vector<Frame> frames = mixedFrames();
    frames.push_back(clutterFrame(1280, 720, 40, 3));
    frames.push_back(noiseFrame(640, 480, 128.0, 8.0, 3));
    for (const Frame& f : frames) {
        ReaderEngine engine;
        std::string message;
        engine.read(viewOf(f), message);
        const std::size_t before = allocations;
        engine.read(viewOf(f), message);
        EXPECT_EQ(allocations - before, 0u) << message;
    }
}
#endif

}  // namespace
