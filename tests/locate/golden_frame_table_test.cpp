// The whole-frame golden table: the answers of quarrow::read (readAll for
// the frames with several symbols) over a couple of thousand frames of the
// accuracy report's generator, every category of camera trouble and every
// kind of frame that must read nothing, one line per frame, checked against
// golden_frame_table.txt. Work that makes the whole-frame search faster
// must leave every line as it is. Work that makes it read more may change
// lines only from "not read" to "read, right bytes"; the test says of each
// changed line whether it is such a gain, and QUARROW_GOLDEN_WRITE=<file>
// rewrites the table once that is all it shows.
//
// `make test` checks every third frame (every eleventh under the
// sanitizers), which keeps it within its time; QUARROW_GOLDEN_FULL=1 (or
// `make golden-frames`) checks them all, as every change to the
// whole-frame search must before it is committed.
//
// A line holds, per symbol read, the outcome, a hash of the bytes, whether
// they are the frame's true bytes, the symbol's type, layers, rotation,
// mirroring and polarity, and a hash of its centre and corners rounded to
// half a pixel.
#include <gtest/gtest.h>

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "accuracy/frame_cases.h"
#include "support/golden_file.h"
#include "quarrow/quarrow.hpp"

namespace {

using namespace quarrow_test;

// Every category, then every soak kind, in turn.
constexpr int kCategories = static_cast<int>(std::size(kAllCategories));
constexpr int kKinds = kCategories + kSoakKinds;
constexpr int kFrames = 100 * kKinds;
constexpr std::uint32_t kSeed = 4242;
// Frames checked: every kStride-th, every kQuickStride-th in sanitizer
// builds (or with QUARROW_QUICK), all with QUARROW_GOLDEN_FULL.
constexpr int kStride = 3;
constexpr int kQuickStride = 11;

bool envSet(const char* name) {
    const char* env = std::getenv(name);
    return env != nullptr && *env != '\0' && std::string(env) != "0";
}

int strideOfRun() {
    if (envSet("QUARROW_GOLDEN_FULL")) return 1;
#if defined(__SANITIZE_ADDRESS__)
    return kQuickStride;
#else
    return envSet("QUARROW_QUICK") ? kQuickStride : kStride;
#endif
}

std::uint32_t fnv1a(const void* data, std::size_t n, std::uint32_t h = 2166136261u) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

std::string digestOf(const quarrow::ReadResult& r, const std::vector<std::string>& expected) {
    char buf[128];
    if (r.outcome != quarrow::Outcome::Read) {
        std::snprintf(buf, sizeof buf, "%s", quarrow::toString(r.outcome));
        return buf;
    }
    const std::string bytes(r.bytes.begin(), r.bytes.end());
    bool right = false;
    for (const std::string& e : expected) right = right || e == bytes;
    // Half-pixel rounding keeps the digest stable under last-bit changes
    // of the arithmetic while any real move of the geometry shows.
    std::uint32_t corners = 2166136261u;
    auto add = [&](const quarrow::Point& p) {
        const long q[2] = {std::lround(p.x * 2.0), std::lround(p.y * 2.0)};
        corners = fnv1a(q, sizeof q, corners);
    };
    add(r.centre);
    for (const auto& p : r.symbolCorners) add(p);
    std::snprintf(buf, sizeof buf, "Read %08" PRIx32 " %s %s L%d r%d m%d l%d %08" PRIx32,
                  fnv1a(bytes.data(), bytes.size()), right ? "right" : "WRONG", quarrow::toString(r.type), r.layers,
                  r.rotation, r.mirrored ? 1 : 0, r.lightOnDark ? 1 : 0, corners);
    return buf;
}

struct GoldenFrame {
    std::string kind;
    std::string digest;
};

GoldenFrame answerOf(int index) {
    const int kind = index % kKinds, n = index / kKinds;
    GoldenFrame out;
    if (kind < kCategories) {
        const Category category = kAllCategories[kind];
        out.kind = categoryName(category);
        const FrameCase c = makeCase(category, n, kSeed);
        const Frame& f = c.frame;
        if (c.all) {
            for (const auto& r : quarrow::readAll(f.pixels.data(), f.width, f.height)) {
                if (!out.digest.empty()) out.digest += " ; ";
                out.digest += digestOf(r, c.expected);
            }
            if (out.digest.empty()) out.digest = "none";
        } else {
            out.digest = digestOf(quarrow::read(f.pixels.data(), f.width, f.height), c.expected);
        }
    } else {
        const SoakCase c = makeSoakCase(kind - kCategories, n, kSeed);
        out.kind = soakKindName(kind - kCategories);
        const Frame& f = c.frame;
        out.digest = digestOf(quarrow::read(f.pixels.data(), f.width, f.height), {c.original});
    }
    return out;
}

// A change that only reads a frame the table did not, with its true bytes.
bool isGain(const std::string& recorded, const std::string& now) {
    const bool recordedRead = recorded.find("Read") != std::string::npos;
    return !recordedRead && now.find("WRONG") == std::string::npos &&
           (now.rfind("Read", 0) == 0 || recorded == "none");
}

TEST(GoldenFrameTable, EveryFrameAnswersAsRecorded) {
    const char* write = std::getenv("QUARROW_GOLDEN_WRITE");
    const bool writing = write != nullptr && *write != '\0';
    const std::map<int, std::string> golden = quarrow_test::loadGoldenTable(QUARROW_GOLDEN_FRAME_TABLE);
    if (!writing) {
        ASSERT_EQ(static_cast<int>(golden.size()), kFrames) << "missing or short " << QUARROW_GOLDEN_FRAME_TABLE;
    }
    const int stride = writing ? 1 : strideOfRun();
    std::ostringstream table;
    table << "# frame answer; written by golden_frame_table_test (QUARROW_GOLDEN_WRITE)\n";
    int checked = 0, gains = 0, changes = 0, wrong = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; i += stride) {
        const GoldenFrame g = answerOf(i);
        table << i << ' ' << g.digest << '\n';
        ++checked;
        if (g.digest.find("WRONG") != std::string::npos) {
            ++wrong;
            ADD_FAILURE() << "frame " << i << " (" << g.kind << ") read wrong bytes: " << g.digest;
        }
        if (writing) continue;
        const auto it = golden.find(i);
        const std::string recorded = it == golden.end() ? "nothing" : it->second;
        if (recorded == g.digest) continue;
        const bool gain = isGain(recorded, g.digest);
        (gain ? gains : changes) += 1;
        std::printf("%s frame %d (%s): %s, recorded %s\n", gain ? "gain" : "CHANGE", i, g.kind.c_str(),
                    g.digest.c_str(), recorded.c_str());
    }
    std::printf("%d frames checked in %.1f s: %d as recorded, %d gains (not read -> read right), %d other changes\n",
                checked, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                checked - gains - changes, gains, changes);
    EXPECT_EQ(gains + changes, 0);
    EXPECT_EQ(wrong, 0);
    if (writing) {
        std::ofstream(write) << table.str();
        std::printf("table written to %s\n", write);
    }
}

}  // namespace
