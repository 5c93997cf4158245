// The golden table: the answers of the centre search over a few thousand
// generated frames of every kind (each symbol size, quarter turns and
// mirror images, small and free rotations, blur, noise, tilt, damage, no
// symbol at all, 720p and smaller), one short digest per frame, checked
// against golden_table.txt. Work that makes the reader faster must leave
// every digest as it is; a change of answers is a deliberate act that
// rewrites the table (QUARROW_GOLDEN_WRITE=<file> writes it) and says why.
//
// A digest covers the outcome, the whole message, the bytes, the symbol
// facts, the candidate's centre and bull's-eye corners and the symbol's
// corners (to a hundredth of a pixel).
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine_cases.h"
#include "support/golden_file.h"
#include "engine/reader_engine.h"

namespace {

using namespace quarrow_test;
using AztecCore::ReaderEngine;

constexpr int kFrames = 2000;
// Sanitizer builds check every kQuickStride-th frame.
constexpr int kQuickStride = 8;

// splitmix64: the frame's own random numbers, from its index alone.
struct Random {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * static_cast<double>(next() >> 11) / 9007199254740992.0; }
    bool chance(double p) { return uniform(0.0, 1.0) < p; }
};

const SymbolCase& caseOf(int size, int variant) {
    static std::map<std::pair<int, int>, SymbolCase> cache;
    auto it = cache.find({size, variant});
    if (it == cache.end()) it = cache.emplace(std::make_pair(size, variant), makeCase(size, variant)).first;
    return it->second;
}

// Flipped modules, solid blots or a bar across the symbol.
void damage(ModuleGrid& g, Random& rnd) {
    const int n = g.size;
    auto set = [&](int r, int c, bool v) {
        if (r >= 0 && c >= 0 && r < n && c < n) g.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = v;
    };
    switch (rnd.below(3)) {
        case 0:
            for (int k = rnd.below(n * n / 12) + 1; k > 0; --k) {
                const int r = rnd.below(n), c = rnd.below(n);
                set(r, c, !g.at(r, c));
            }
            break;
        case 1:
            for (int k = rnd.below(3) + 1; k > 0; --k) {
                const int r0 = rnd.below(n), c0 = rnd.below(n), side = rnd.below(n / 3) + 2;
                const bool v = rnd.chance(0.5);
                for (int r = r0; r < r0 + side; ++r)
                    for (int c = c0; c < c0 + side; ++c) set(r, c, v);
            }
            break;
        default: {
            const int r0 = rnd.below(n), width = rnd.below(3) + 1;
            for (int r = r0; r < r0 + width; ++r)
                for (int c = 0; c < n; ++c) set(r, c, true);
        }
    }
}

struct GoldenFrame {
    std::string kind;
    Frame frame;
};

GoldenFrame makeFrame(int index) {
    Random rnd{static_cast<std::uint64_t>(index) * 7919u + 17u};
    constexpr int kSizes[][2] = {{320, 240}, {480, 360}, {640, 480}, {800, 600}, {1280, 720}};
    const int pick = rnd.below(100);
    const auto& fs = kSizes[pick < 30 ? 0 : pick < 60 ? 1 : pick < 88 ? 2 : pick < 94 ? 3 : 4];
    GoldenFrame out;
    RenderOptions o;
    o.width = fs[0];
    o.height = fs[1];
    o.seed = static_cast<std::uint32_t>(index + 1);
    o.supersample = 2;
    if (rnd.below(10) == 0) {
        switch (rnd.below(5)) {
            case 0: out.kind = "uniform"; out.frame = uniformFrame(o.width, o.height, static_cast<std::uint8_t>(rnd.below(256))); break;
            case 1: out.kind = "noise"; out.frame = noiseFrame(o.width, o.height, rnd.uniform(40, 200), rnd.uniform(2, 60), o.seed); break;
            case 2: out.kind = "gradient"; out.frame = gradientFrame(o.width, o.height, static_cast<std::uint8_t>(rnd.below(256)), static_cast<std::uint8_t>(rnd.below(256)), rnd.uniform(0, 360)); break;
            case 3: out.kind = "clutter"; out.frame = clutterFrame(o.width, o.height, 10 + rnd.below(60), o.seed); break;
            default: {
                const bool full = rnd.chance(0.5);
                out.kind = "lone-bullseye";
                o.moduleSize = rnd.uniform(3, 7);
                o.rotationDeg = rnd.uniform(-10, 10);
                out.frame = renderSymbol(loneBullseyeGrid(full, full ? 19 + 4 * rnd.below(4) : 15 + 4 * rnd.below(3), o.seed), o);
            }
        }
        return out;
    }
    // Every size appears about equally often; larger symbols need larger frames.
    const int size = kFirstSize + rnd.below(kLastSize - kFirstSize + 1);
    const SymbolCase& sc = caseOf(size, rnd.below(4));
    ModuleGrid g = transformGrid(sc.grid, rnd.below(4), rnd.chance(0.3));
    char kindText[32];
    const bool damaged = rnd.chance(0.15);
    std::snprintf(kindText, sizeof kindText, "S%d%s", size, damaged ? "-damaged" : "");
    const std::string kind = kindText;
    if (damaged) damage(g, rnd);
    const double fit = 0.9 * std::min(o.width, o.height) / (g.size + 2.0 * o.quietZone);
    o.moduleSize = std::min(rnd.uniform(2.5, 7.0), fit);
    if (o.moduleSize < 2.0) {  // too large for this frame: use the largest
        o.width = 1280;
        o.height = 720;
        o.moduleSize = std::min(rnd.uniform(3.0, 5.0), 0.9 * 720 / (g.size + 6.0));
    }
    const int style = rnd.below(4);
    if (style == 0) {
        o.rotationDeg = rnd.uniform(-8, 8);
    } else if (style == 1) {
        o.rotationDeg = rnd.uniform(0, 360);
    } else if (style == 2) {
        o.tiltXDeg = rnd.uniform(-25, 25);
        o.tiltYDeg = rnd.uniform(-15, 15);
        o.rotationDeg = rnd.uniform(-20, 20);
    }
    o.mirror = rnd.chance(0.1);
    o.blurSigma = rnd.chance(0.5) ? rnd.uniform(0.3, 1.8) : 0.0;
    o.noiseSigma = rnd.chance(0.6) ? rnd.uniform(0.5, 10) : 0.0;
    o.gradient = rnd.chance(0.3) ? rnd.uniform(0, 0.4) : 0.0;
    o.gradientAngleDeg = rnd.uniform(0, 360);
    o.clutter = rnd.chance(0.3) ? rnd.below(20) : 0;
    o.dx = rnd.uniform(-12, 12);
    o.dy = rnd.uniform(-12, 12);
    out.kind = kind;
    out.frame = renderSymbol(g, o);
    return out;
}

std::uint32_t fnv1a(const std::string& s) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
    return h;
}

std::string digestOf(const Frame& f) {
    const AztecCore::Image::ImageView view{f.pixels.data(), f.width, f.height, f.width};
    ReaderEngine engine;
    std::string message;
    std::ostringstream text;
    try {
        const AztecCore::ReadOutcome outcome = engine.read(view, message);
        const AztecCore::SymbolCandidate& c = engine.candidate();
        char buf[64];
        text << static_cast<int>(outcome) << '|' << message << '|' << engine.dataText() << '|' << static_cast<int>(c.type)
             << ' ' << c.rotation << ' ' << c.mirrored << ' ' << c.layers << ' ' << c.dataWords << ' '
             << engine.correctedWords();
        auto point = [&](const AztecCore::Point2d& p) {
            std::snprintf(buf, sizeof buf, " %.2f,%.2f", p.x, p.y);
            text << buf;
        };
        point(c.centre);
        for (const auto& p : c.corners) point(p);
        if (outcome != AztecCore::ReadOutcome::NotLocated)
            for (int k = 0; k < 4; ++k) point(engine.symbolCorners()[k]);
        std::snprintf(buf, sizeof buf, "%d %08" PRIx32, static_cast<int>(outcome), fnv1a(text.str()));
        return buf;
    } catch (const std::exception& e) {
        return std::string("x ") + e.what();
    }
}

TEST(GoldenTable, EveryFrameAnswersAsRecorded) {
    const char* write = std::getenv("QUARROW_GOLDEN_WRITE");
    const bool writing = write != nullptr && *write != '\0';
    const std::map<int, std::string> golden = quarrow_test::loadGoldenTable(QUARROW_GOLDEN_TABLE);
    if (!writing) {
        ASSERT_EQ(static_cast<int>(golden.size()), kFrames) << "missing or short " << QUARROW_GOLDEN_TABLE;
    }
    const int stride = quickRun() && !writing ? kQuickStride : 1;
    std::ostringstream table;
    table << "# frame outcome digest; written by golden_table_test (QUARROW_GOLDEN_WRITE)\n";
    std::map<std::string, std::array<int, 3>> outcomes;  // per kind: not located, located, read
    int checked = 0, differ = 0;
    double renderSeconds = 0, readSeconds = 0;
    for (int i = 0; i < kFrames; i += stride) {
        const auto t0 = std::chrono::steady_clock::now();
        const GoldenFrame gf = makeFrame(i);
        const auto t1 = std::chrono::steady_clock::now();
        const std::string digest = digestOf(gf.frame);
        renderSeconds += std::chrono::duration<double>(t1 - t0).count();
        readSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
        table << i << ' ' << digest << '\n';
        const bool damaged = gf.kind.find("damaged") != std::string::npos;
        const std::string kind = gf.kind[0] != 'S' ? gf.kind : damaged ? "symbol-damaged" : "symbol";
        if (digest[0] >= '0' && digest[0] <= '2') ++outcomes[kind][static_cast<std::size_t>(digest[0] - '0')];
        ++checked;
        if (writing) continue;
        const auto it = golden.find(i);
        if (it == golden.end() || it->second != digest) {
            if (++differ <= 20)
                ADD_FAILURE() << "frame " << i << " (" << gf.kind << ", " << gf.frame.width << "x" << gf.frame.height
                              << "): " << digest << ", recorded " << (it == golden.end() ? "nothing" : it->second);
        }
    }
    for (const auto& [kind, n] : outcomes)
        std::printf("%-16s not located %4d  located %4d  read %4d\n", kind.c_str(), n[0], n[1], n[2]);
    std::printf("%d frames checked, %d differ (making them %.1f s, reading %.1f s)\n", checked, differ, renderSeconds,
                readSeconds);
    EXPECT_EQ(differ, 0);
    if (writing) {
        std::ofstream(write) << table.str();
        std::printf("table written to %s\n", write);
    }
}

}  // namespace
