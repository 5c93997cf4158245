// Answers of the centre search that were wrong once, end to end through
// the reader engine: very large modules and symbols too big for their frame.
#include <gtest/gtest.h>

#include <string>

#include "engine/reader_engine.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace {

using namespace AztecCore;
using namespace quarrow_test;

struct Read {
    ReadOutcome outcome;
    std::string message;
    std::string bytes;
};

Read readWith(ReaderEngine& engine, const Frame& f) {
    const Image::GrayBuf image(f.pixels.data(), f.width, f.height);
    Read r;
    r.outcome = engine.read(image, r.message);
    r.bytes = engine.dataText();
    return r;
}

TEST(CentreSearchMends, VeryLargeModulesAreRead) {
    // The bull's-eye's rings reach beyond the seed's window of a sixth of
    // the frame: 7.5 modules of 26+ pixels against 119 pixels in 720p.
    struct Case { int size; double module; int quiet; };
    const Case cases[] = {{5, 26, 3}, {5, 30, 2}, {5, 36, 1}, {1, 34, 1}, {2, 30, 1}};
    for (const Case& c : cases) {
        const std::string text = c.size <= 4 ? "BIG" : "Large modules";
        ModuleGrid g;
        ASSERT_TRUE(encodeAztec(text, {.size = c.size}, g));
        RenderOptions o;
        o.width = 1280;
        o.height = 720;
        o.moduleSize = c.module;
        o.quietZone = c.quiet;
        o.rotationDeg = 2.0;
        o.noiseSigma = 2.0;
        ReaderEngine engine;
        const Read r = readWith(engine, renderSymbol(g, o));
        EXPECT_EQ(r.outcome, ReadOutcome::Read) << c.size << " at " << c.module << ": " << r.message;
        EXPECT_EQ(r.bytes, r.outcome == ReadOutcome::Read ? text : "");
    }
}

TEST(CentreSearchMends, SymbolFarLargerThanItsFrameIsNotSampled) {
    // A 151-module symbol at 4 px/module seen through a 150 x 150 frame:
    // its mode message reads, but most modules lie off the frame, so no
    // data can be read and none is sampled.
    std::string text;
    for (int i = 0; i < 40; ++i) text += "0123456789";
    ModuleGrid g;
    ASSERT_TRUE(encodeAztec(text, {.size = 36}, g));
    RenderOptions o;
    o.width = o.height = 150;
    o.moduleSize = 4;
    ReaderEngine engine;
    DetectorTrace trace;
    engine.setTrace(&trace);
    const Read r = readWith(engine, renderSymbol(g, o));
    EXPECT_EQ(r.outcome, ReadOutcome::Located) << r.message;
    EXPECT_TRUE(trace.modules.empty());
    // The same symbol filling a frame it fits is still read.
    o.width = o.height = 700;
    ReaderEngine fits;
    EXPECT_EQ(readWith(fits, renderSymbol(g, o)).bytes, text);
}

}  // namespace
