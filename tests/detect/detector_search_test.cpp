// The seed spiral and whole-frame detection: seed order, the number of
// attempts, what a failed search leaves in the candidate, and located
// symbols that decode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/symbol_detector.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace {

using namespace AztecCore;
using Image::GrayBuf;
using namespace quarrow_test;

GrayBuf toImage(const Frame& f) { return GrayBuf(f.pixels.data(), f.width, f.height); }

TEST(SeedSpiral, OrderAndCountOnAFrameWithoutSymbol) {
    const Frame f = uniformFrame(640, 480, 128);
    SymbolDetector d;
    DetectorTrace trace;
    d.setTrace(&trace);
    d.setImage(toImage(f));
    auto list = d.findCandidates();
    EXPECT_FALSE(d.locate(*list[0]));
    EXPECT_EQ(list[0]->type, SymbolType::None);
    ASSERT_EQ(trace.seeds.size(), 25u);
    EXPECT_EQ(trace.blobCentres.size(), 25u);
    const int cx = 320, cy = 240;
    const std::vector<std::pair<int, int>> first9 = {
        {cx, cy},           {cx - 24, cy - 24}, {cx, cy - 24},      {cx + 24, cy + 24}, {cx, cy + 24},
        {cx + 24, cy - 24}, {cx + 24, cy},      {cx - 24, cy + 24}, {cx - 24, cy},
    };
    for (std::size_t i = 0; i < first9.size(); ++i) {
        EXPECT_EQ(trace.seeds[i].x, first9[i].first) << i;
        EXPECT_EQ(trace.seeds[i].y, first9[i].second) << i;
    }
    // The ring at 48: 16 distinct positions on its border.
    for (std::size_t i = 9; i < 25; ++i) {
        EXPECT_EQ(std::max(std::abs(trace.seeds[i].x - cx), std::abs(trace.seeds[i].y - cy)), 48) << i;
        for (std::size_t j = 9; j < i; ++j)
            EXPECT_FALSE(trace.seeds[i].x == trace.seeds[j].x && trace.seeds[i].y == trace.seeds[j].y);
    }
    EXPECT_EQ(trace.seeds[9].x, cx - 48);
    EXPECT_EQ(trace.seeds[9].y, cy - 48);
    EXPECT_EQ(trace.seeds[24].x, cx - 48);
    EXPECT_EQ(trace.seeds[24].y, cy - 24);
}

TEST(SeedSpiral, EmptyImagesFailHarmlessly) {
    SymbolDetector d;
    SymbolCandidate cand;
    EXPECT_FALSE(d.locate(cand));  // no image at all
    d.setImage(GrayBuf());
    auto list = d.findCandidates();
    EXPECT_EQ(list[0]->centre.x, 0.0);
    EXPECT_FALSE(d.locate(*list[0]));
    EXPECT_EQ(list[0]->type, SymbolType::None);
}

TEST(SeedSpiral, BullseyeWithoutModeMessageKeepsItsType) {
    for (bool fullRange : {true, false}) {
        const ModuleGrid g = loneBullseyeGrid(fullRange, fullRange ? 27 : 19, 5);
        RenderOptions o;
        o.moduleSize = 6;
        SymbolDetector d;
        d.setImage(toImage(renderSymbol(g, o)));
        auto list = d.findCandidates();
        EXPECT_FALSE(d.locate(*list[0]));
        // A full-range bull's-eye whose mode ring fails is tried as compact
        // too, and its inner rings pass that test.
        if (fullRange) {
            EXPECT_NE(list[0]->type, SymbolType::None);
        } else {
            EXPECT_EQ(list[0]->type, SymbolType::Compact);
        }
    }
}

struct FrameCase {
    int size;
    RenderOptions options;
};

TEST(Detector, LocatesAndDecodesRenderedSymbols) {
    auto opts = [](double module, double rot, bool mirror, double tilt) {
        RenderOptions o;
        o.moduleSize = module;
        o.rotationDeg = rot;
        o.mirror = mirror;
        o.tiltXDeg = tilt;
        return o;
    };
    const FrameCase cases[] = {
        {1, opts(6, 0, false, 0)},    {2, opts(5, 90, true, 0)},  {3, opts(5, 270, true, 0)},
        {4, opts(4, 20, false, 15)},  {6, opts(4, 180, false, 0)}, {9, opts(3.5, 35, true, 10)},
        {14, opts(3, 0, false, 0)},
    };
    for (const FrameCase& c : cases) {
        ModuleGrid g;
        const std::string data = c.size == 1 ? "F1 abc" : "Frame " + std::to_string(c.size) + " abc 123";
        ASSERT_TRUE(encodeAztec(data, {.size = c.size}, g));
        SymbolDetector d;
        DetectorTrace trace;
        d.setTrace(&trace);
        d.setImage(toImage(renderSymbol(g, c.options)));
        auto list = d.findCandidates();
        ASSERT_TRUE(d.locate(*list[0])) << "size " << c.size;
        EXPECT_EQ(trace.seeds.size(), 1u) << "the centre seed lies on the bull's-eye";
        EXPECT_EQ(list[0]->type, c.size <= 4 ? SymbolType::Compact : SymbolType::FullRange);
        EXPECT_EQ(list[0]->mirrored, c.options.mirror);
        EXPECT_EQ(list[0]->size, g.size);
        Aztec::DecodedData r;
        ASSERT_TRUE(d.decode(*list[0], r)) << "size " << c.size;
        EXPECT_EQ(std::string(r.text.bytes.begin(), r.text.bytes.end()), data);
    }
}

}  // namespace
