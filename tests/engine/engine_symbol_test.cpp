// End to end on clean frames: every symbol size drawn by libzint, rendered
// square to the camera, as is, in quarter turns and mirrored. Clean upright
// frames must be read with the exact message; every read must give the
// symbol's exact bytes.
#include <gtest/gtest.h>

#include "decode/data_codewords.h"
#include "engine/engine_cases.h"
#include "support/grid_reading.h"

namespace {

using namespace quarrow_test;
using AztecCore::ReadOutcome;

// Module sizes cycled through the cases, pixels.
constexpr double kModuleSizes[] = {3.0, 4.0, 5.0, 6.0, 3.5, 4.5};
constexpr int kModuleSizeCount = 6;
constexpr int kFrameSizeCount = 4;
constexpr double kFrameMargin = 8.0;

// Quarter-turned and mirrored frames are as clean as upright ones: every
// one must be read.
constexpr double kRotatedReadRateFloor = 1.0;
constexpr double kMirroredReadRateFloor = 1.0;

RenderOptions cleanOptions(int index, int gridSize) {
    RenderOptions o;
    placeSymbol(o, gridSize, index % kFrameSizeCount, kModuleSizes[index % kModuleSizeCount], 1.0, kFrameMargin);
    o.seed = static_cast<std::uint32_t>(index + 1);
    return o;
}

std::string where(const SymbolCase& sc, const RenderOptions& o, const std::string& extra) {
    return sc.label + " " + std::to_string(o.width) + "x" + std::to_string(o.height) + " module " +
           std::to_string(o.moduleSize) + " " + extra;
}

TEST(EngineSymbols, CleanUprightFramesOfEverySizeAreReadExactly) {
    Tally tally{"clean"};
    // Every size, even in quick runs: these frames are the baseline.
    for (int size = kFirstSize; size <= kLastSize; ++size) {
        const SymbolCase sc = makeCase(size, size);
        const RenderOptions o = cleanOptions(size, sc.grid.size);
        const std::string desc = expectedDescription(sc.grid);
        ASSERT_FALSE(desc.empty()) << sc.label;
        const std::string at = where(sc, o, "upright");
        const ReadResult r = checkFrame(sc, renderSymbol(sc.grid, o), desc, true, tally, at);
        EXPECT_EQ(r.outcome, ReadOutcome::Read) << at << ": " << r.message << r.what;
        if (r.outcome == ReadOutcome::Read) {
            EXPECT_EQ(r.message, "Read data " + desc + "\n #err=0") << at;
        }
    }
    tally.print();
    EXPECT_EQ(tally.wrong, 0);
}

TEST(EngineSymbols, QuarterTurnedFramesGiveExactBytesOrNothing) {
    Tally tally{"rotated"};
    for (int size : sizesToTest()) {
        const SymbolCase sc = makeCase(size, size + 1);
        const int turns = 1 + size % 3;
        const ModuleGrid drawn = transformGrid(sc.grid, turns, false);
        const RenderOptions o = cleanOptions(size + 1, drawn.size);
        const std::string at = where(sc, o, std::to_string(90 * turns) + " deg");
        const ReadResult r = checkFrame(sc, renderSymbol(drawn, o), expectedDescription(drawn), true, tally, at);
        if (r.outcome != ReadOutcome::Read) std::printf("  not read: %s: %s%s\n", at.c_str(), r.message.c_str(), r.what.c_str());
    }
    tally.print();
    EXPECT_EQ(tally.wrong, 0);
    EXPECT_GE(tally.rate(), kRotatedReadRateFloor);
}

TEST(EngineSymbols, MirroredFramesGiveExactBytesOrNothing) {
    Tally tally{"mirrored"};
    for (int size : sizesToTest()) {
        const SymbolCase sc = makeCase(size, size + 2);
        const int turns = size % 4;
        // The renderer mirrors the quarter-turned grid; the expected
        // description comes from the same grid mirrored by hand.
        const ModuleGrid turned = transformGrid(sc.grid, turns, false);
        RenderOptions o = cleanOptions(size + 2, turned.size);
        o.mirror = true;
        const std::string at = where(sc, o, "mirrored, " + std::to_string(90 * turns) + " deg");
        const ReadResult r = checkFrame(sc, renderSymbol(turned, o), expectedDescription(transformGrid(sc.grid, turns, true)),
                                        true, tally, at);
        if (r.outcome != ReadOutcome::Read) std::printf("  not read: %s: %s%s\n", at.c_str(), r.message.c_str(), r.what.c_str());
    }
    tally.print();
    EXPECT_EQ(tally.wrong, 0);
    EXPECT_GE(tally.rate(), kMirroredReadRateFloor);
}

// Every size in all four quarter turns, plain and mirrored, at 3 to 6
// pixels per module: each frame must be read with the symbol's bytes.
TEST(EngineSymbols, EveryOrientationOfEverySizeIsRead) {
    Tally tally{"orientations"};
    for (int size : sizesToTest()) {
        const SymbolCase sc = makeCase(size, size + 3);
        for (int turns = 0; turns < 4; ++turns) {
            for (bool mirror : {false, true}) {
                const int index = size * 8 + turns * 2 + (mirror ? 1 : 0);
                const ModuleGrid drawn = transformGrid(sc.grid, turns, mirror);
                const RenderOptions o = cleanOptions(index, drawn.size);
                const std::string at =
                    where(sc, o, std::to_string(90 * turns) + " deg" + (mirror ? " mirrored" : ""));
                const ReadResult r = checkFrame(sc, renderSymbol(drawn, o), expectedDescription(drawn), true, tally, at);
                EXPECT_EQ(r.outcome, ReadOutcome::Read) << at << ": " << r.message << r.what;
            }
        }
    }
    tally.print();
    EXPECT_EQ(tally.wrong, 0);
}

// Zero bytes inside the data come back in place, at full length.
TEST(EngineSymbols, ZeroBytesSurviveTheRead) {
    SymbolCase sc;
    sc.size = 7;
    sc.label = "F3";
    sc.data = std::string("A\0B\0\0C", 6);
    ASSERT_TRUE(encodeAztec(sc.data, {.size = sc.size}, sc.grid));
    RenderOptions o;
    placeSymbol(o, sc.grid.size, 0, 4.0, 1.0, kFrameMargin);
    Tally tally{"zero-bytes"};
    const ReadResult r = checkFrame(sc, renderSymbol(sc.grid, o), expectedDescription(sc.grid), true, tally, "zero bytes");
    EXPECT_EQ(r.outcome, ReadOutcome::Read) << r.message;
    EXPECT_EQ(r.bytes.size(), 6u);
}

// A symbol that is found but whose data cannot be corrected: Located, the
// "Detected barcode area" message, no data, and the process-wide count of
// the last successful correction left as it was.
TEST(EngineSymbols, SpoiltDataIsLocatedWithoutData) {
    for (int size : {2, 3, 6}) {
        SymbolCase sc;
        sc.size = size;
        sc.data = "Located, not read " + std::to_string(size);
        ASSERT_TRUE(encodeAztec(sc.data, {.size = size}, sc.grid));
        RenderOptions o;
        placeSymbol(o, sc.grid.size, 0, 4.0, 1.0, kFrameMargin);
        // One wrong module first: a read with one correction.
        ModuleGrid once = sc.grid;
        once.modules[0][0] = !once.modules[0][0];
        const ReadResult first = readFrame(renderSymbol(once, o));
        ASSERT_EQ(first.outcome, ReadOutcome::Read) << first.message;
        ASSERT_EQ(Aztec::lastErrorCount.load(), 1);

        const ModuleGrid spoilt = spoilData(sc.grid);
        const ReadResult r = readFrame(renderSymbol(spoilt, o));
        EXPECT_EQ(r.outcome, ReadOutcome::Located) << size << ": " << r.message;
        EXPECT_EQ(r.message, "Detected barcode area " + expectedDescription(spoilt)) << size;
        EXPECT_EQ(r.bytes, "") << size;
        EXPECT_FALSE(r.threw) << r.what;
        EXPECT_EQ(Aztec::lastErrorCount.load(), 1) << size;
    }
}

}  // namespace
