// The whole-frame stage end to end: libzint symbols rendered turned,
// mirrored, tilted, blurred, small, large, light-on-dark and anywhere in
// the frame must read back byte for byte through the public API, with the
// facts of where and how they lie; frames without a readable symbol must
// read nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "accuracy/frame_cases.h"
#include "api/read_frame.h"
#include "detect/symbol_detector.h"
#include "locate/frame_search.h"
#include "quarrow/quarrow.hpp"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;

std::string bytesOf(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

// Renderer coordinates put pixel centres at +0.5; the reader's at +0.
FramePoint readerPoint(const RenderOptions& o, int size, double col, double row) {
    FramePoint p = gridToFrame(o, size, col, row);
    return {p.x - 0.5, p.y - 0.5};
}

struct FrameCase {
    const char* name;
    const char* text;
    int size;  // libzint size: 1..4 compact layers, 5.. full-range layers + 4
    RenderOptions render;
};

RenderOptions with(double module, double rotation, double dx, double dy) {
    RenderOptions o;
    o.moduleSize = module;
    o.rotationDeg = rotation;
    o.dx = dx;
    o.dy = dy;
    return o;
}

std::vector<FrameCase> frameCases() {
    std::vector<FrameCase> cases;
    cases.push_back({"turned 45, off centre", "TURNED 45", 2, with(4.0, 45.0, 180.0, -100.0)});
    RenderOptions mirrored = with(3.5, 133.0, -200.0, 20.0);
    mirrored.mirror = true;
    cases.push_back({"mirrored, 133 degrees", "mirror image", 3, mirrored});
    RenderOptions lod = with(4.5, 17.0, 150.0, 90.0);
    lod.dark = 225;
    lod.light = 25;
    lod.background = 40;
    cases.push_back({"light on dark", "LIGHT ON DARK", 2, lod});
    RenderOptions blurred = with(6.0, 70.0, 100.0, 0.0);
    blurred.blurSigma = 3.0;  // half a module
    blurred.noiseSigma = 2.0;
    cases.push_back({"blurred half a module", "blurred 0.5", 2, blurred});
    RenderOptions tilted = with(4.5, 20.0, -120.0, 40.0);
    tilted.tiltXDeg = 30.0;
    tilted.tiltYDeg = 10.0;
    cases.push_back({"tilted 30 degrees", "tilted symbol", 3, tilted});
    cases.push_back({"2 px per module", "two pixels per module", 3, with(2.25, 10.0, 120.0, 60.0)});
    // Found and read only in the frame's middle magnified twice; the last
    // only with the noise round's hysteresis there.
    for (const auto& [text, size, module, turn, dx, dy, noise] :
         {std::tuple{"small and blurred", 3, 2.1, 25.0, 30.0, -20.0, 2.0},
          std::tuple{"small and blurred", 6, 2.0, 65.0, 30.0, -20.0, 2.0},
          std::tuple{"small, blurred, noisy", 3, 2.0, 40.0, -25.0, 15.0, 5.0}}) {
        RenderOptions small = with(module, turn, dx, dy);
        small.blurSigma = 0.5 * module;
        small.noiseSigma = noise;
        cases.push_back({"2 px per module, blurred half a module", text, size, small});
    }
    // 15 modules filling 90 % of the frame's height.
    cases.push_back({"close-up, 90 % of the height", "CLOSE", 1, with(0.9 * 480 / 15, 5.0, 0.0, 0.0)});
    RenderOptions grid = with(3.5, 25.0, 100.0, 20.0);
    grid.clutter = 15;
    cases.push_back({"full-range, 5 layers, reference grid", "full range symbol with five layers of data and a grid", 9, grid});
    RenderOptions dots = with(6.0, 8.0, -60.0, 30.0);
    dots.dotDiameter = 0.65;
    dots.blurSigma = 0.6;
    cases.push_back({"printed as dots 0.65 of the pitch", "DOT PRINTED 0.65", 3, dots});
    // The text is set by the test: 300 letters.
    cases.push_back({"full-range, 12 layers, turned", nullptr, 16, with(3.0, 200.0, 0.0, 0.0)});
    return cases;
}

TEST(WholeFrame, ReadsEveryKindOfFrameWithItsFacts) {
    std::vector<FrameCase> cases = frameCases();
    const std::string longText(300, 'Q');
    cases.back().text = longText.c_str();
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.name);
        ModuleGrid g;
        ASSERT_TRUE(encodeAztec(c.text, {.size = c.size}, g));
        const Frame f = renderSymbol(g, c.render);
        const quarrow::ReadResult r = quarrow::read(f.pixels.data(), f.width, f.height);
        ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << r.message;
        EXPECT_EQ(bytesOf(r.bytes), c.text);
        EXPECT_EQ(r.type, c.size <= 4 ? quarrow::SymbolType::Compact : quarrow::SymbolType::FullRange);
        EXPECT_EQ(r.layers, c.size <= 4 ? c.size : c.size - 4);
        EXPECT_EQ(r.lightOnDark, c.render.light < c.render.dark);
        EXPECT_EQ(r.mirrored, c.render.mirror);
        EXPECT_EQ(r.message.rfind("Read data (", 0), 0u) << r.message;
        EXPECT_NE(r.message.find("\n #err=" + std::to_string(r.correctedWords)), std::string::npos) << r.message;

        const double module = c.render.moduleSize;
        const FramePoint centre = readerPoint(c.render, g.size, g.size / 2 + 0.5, g.size / 2 + 0.5);
        EXPECT_LT(std::hypot(r.centre.x - centre.x, r.centre.y - centre.y), module);
        // The outer corners: each near one of the rendered ones, the first
        // at the frame's top left, then clockwise.
        const FramePoint truth[4] = {readerPoint(c.render, g.size, 0, 0), readerPoint(c.render, g.size, g.size, 0),
                                     readerPoint(c.render, g.size, g.size, g.size), readerPoint(c.render, g.size, 0, g.size)};
        for (int k = 0; k < 4; ++k) {
            const quarrow::Point& p = r.symbolCorners[static_cast<std::size_t>(k)];
            double nearest = 1e9;
            for (const FramePoint& t : truth) nearest = std::min(nearest, std::hypot(p.x - t.x, p.y - t.y));
            EXPECT_LT(nearest, 1.5 * module) << "corner " << k;
            EXPECT_GE(p.x + p.y, r.symbolCorners[0].x + r.symbolCorners[0].y - 1e-9);
            const quarrow::Point& a = r.symbolCorners[static_cast<std::size_t>(k)];
            const quarrow::Point& b = r.symbolCorners[static_cast<std::size_t>((k + 1) % 4)];
            const quarrow::Point& d = r.symbolCorners[static_cast<std::size_t>((k + 2) % 4)];
            EXPECT_GT((b.x - a.x) * (d.y - b.y) - (b.y - a.y) * (d.x - b.x), 0.0) << "clockwise at " << k;
        }
    }
}

// Labels round a can or a wrist band: accuracy frames wrapped 63-92
// degrees round a cylinder, the axis any way, seen a little tilted; the
// flat transforms alone read none of them. Each must read byte for byte.
TEST(WholeFrame, ReadsSymbolsWrappedRoundACylinder) {
    for (int index : {0, 1, 4, 7, 12}) {
        SCOPED_TRACE(index);
        const quarrow_test::FrameCase c = makeCase(Category::Curved63, index, 7);
        const quarrow::ReadResult r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
        ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << r.message;
        EXPECT_EQ(bytesOf(r.bytes), c.expected.front());
        const auto& place = c.placements.front();
        EXPECT_LT(std::hypot(r.centre.x - (c.centres.front().x - 0.5), r.centre.y - (c.centres.front().y - 0.5)),
                  place.module);
        // The outer corners where the cylinder put them (half a module
        // beyond the corner modules' centres), not where a flat transform
        // from the centre would.
        const double s = place.size / 2;
        for (const quarrow::Point& p : r.symbolCorners) {
            double nearest = 1e9;
            for (const FramePoint& t : place.corners) {
                const double x = t.x + (t.x - c.centres.front().x) * 0.5 / s - 0.5;
                const double y = t.y + (t.y - c.centres.front().y) * 0.5 / s - 0.5;
                nearest = std::min(nearest, std::hypot(p.x - x, p.y - y));
            }
            EXPECT_LT(nearest, 1.5 * place.module);
        }
    }
}

// A symbol well away from the centre, for the option tests.
Frame offCentre(const std::string& text, bool lightOnDark, ModuleGrid* grid = nullptr) {
    ModuleGrid g;
    encodeAztec(text, {.size = 2}, g);
    RenderOptions o = with(4.0, 30.0, 200.0, 120.0);
    if (lightOnDark) {
        o.dark = 220;
        o.light = 30;
        o.background = 60;
    }
    if (grid) *grid = g;
    return renderSymbol(g, o);
}

TEST(WholeFrame, OptionsChooseWhereAndWhatToLookFor) {
    const Frame dark = offCentre("OFF CENTRE", false);
    const Frame light = offCentre("OFF CENTRE", true);
    struct Row {
        const Frame* frame;
        quarrow::ReadOptions options;
        bool reads;
    };
    const Row rows[] = {
        {&dark, {quarrow::Search::Frame, true}, true},
        {&dark, {quarrow::Search::Centre, true}, false},  // the component's search: centre only
        {&light, {quarrow::Search::Frame, true}, true},
        {&light, {quarrow::Search::Frame, false}, false},
        {&dark, {quarrow::Search::Frame, false}, true},
    };
    for (const Row& row : rows) {
        const auto r = quarrow::read(row.frame->pixels.data(), row.frame->width, row.frame->height, 0, row.options);
        EXPECT_EQ(r.outcome == quarrow::Outcome::Read, row.reads)
            << quarrow::toString(row.options.search) << " lightOnDark=" << row.options.lightOnDark << " " << r.message;
        if (r.outcome == quarrow::Outcome::Read) {
            EXPECT_EQ(bytesOf(r.bytes), "OFF CENTRE");
        }
    }
}

// Before the whole-frame search, the centre search passes over seeds on
// bare background (noisy, away from the symbol), under light noise and
// heavy; searching the centre alone, as the runtime component does, it
// fills every one.
TEST(WholeFrame, OnlyTheCentreSearchAloneFillsSeedsOnBareBackground) {
    ModuleGrid g;
    ASSERT_TRUE(encodeAztec("OFF TO ONE SIDE", {.size = 2}, g));
    for (const double noise : {2.0, 8.0}) {
        RenderOptions o = with(4.0, 20.0, 200.0, 0.0);
        o.noiseSigma = noise;
        const Frame f = renderSymbol(g, o);
        for (const quarrow::Search search : {quarrow::Search::Centre, quarrow::Search::Frame}) {
            AztecCore::DetectorTrace trace;
            quarrow::ReadOptions options;
            options.search = search;
            const auto r = quarrow::detail::readFrame(f.pixels.data(), f.width, f.height, f.width, f.pixels.size(),
                                                      options, &trace);
            const auto filled = std::count_if(trace.blobCentres.begin(), trace.blobCentres.end(),
                                              [](const AztecCore::Point2d& c) { return c.x >= 0.0; });
            ASSERT_EQ(trace.seeds.size(), 25u);
            EXPECT_EQ(filled, search == quarrow::Search::Centre ? 25 : 0)
                << quarrow::toString(search) << " noise " << noise;
            EXPECT_EQ(r.outcome == quarrow::Outcome::Read, search == quarrow::Search::Frame) << "noise " << noise;
        }
    }
}

TEST(WholeFrame, ReadAllFindsEverySymbolNearestTheCentreFirst) {
    // One symbol at the centre (the centre search reads it), two elsewhere,
    // one of them light on dark.
    Frame scene = uniformFrame(1280, 720, 120);
    const std::string texts[] = {"CENTRE", "RIGHT SIDE", "far left corner"};
    const double dx[] = {0.0, 330.0, -480.0}, dy[] = {0.0, 60.0, -200.0};
    for (int i = 0; i < 3; ++i) {
        ModuleGrid g;
        ASSERT_TRUE(encodeAztec(texts[i], {.size = 2}, g));
        RenderOptions o = with(4.0, 40.0 * i, dx[i], dy[i]);
        o.width = 1280;
        o.height = 720;
        o.scene = &scene;
        if (i == 2) {
            o.dark = 220;
            o.light = 30;
        }
        scene = renderSymbol(g, o);
    }
    const auto all = quarrow::readAll(scene.pixels.data(), scene.width, scene.height);
    ASSERT_EQ(all.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bytesOf(all[static_cast<std::size_t>(i)].bytes), texts[i]);
        EXPECT_EQ(all[static_cast<std::size_t>(i)].lightOnDark, i == 2);
    }
    // The first symbol alone through read.
    const auto one = quarrow::read(scene.pixels.data(), scene.width, scene.height);
    EXPECT_EQ(bytesOf(one.bytes), "CENTRE");
}

TEST(WholeFrame, FramesWithoutAReadableSymbolReadNothing) {
    std::vector<std::pair<const char*, Frame>> frames;
    frames.emplace_back("uniform", uniformFrame(640, 480, 128));
    frames.emplace_back("noise", noiseFrame(640, 480, 128.0, 40.0, 5));
    frames.emplace_back("text and shapes", clutterFrame(640, 480, 60, 9));
    frames.emplace_back("lone bull's-eye", renderSymbol(loneBullseyeGrid(true, 31, 3), with(4.0, 20.0, 150.0, 50.0)));
    // A symbol whose data is damaged beyond what its check words repair.
    ModuleGrid damaged;
    encodeAztec("DAMAGED BEYOND REPAIR", {.size = 3}, damaged);
    const int c = damaged.size / 2;
    std::uint32_t state = 12345;
    for (int r = 0; r < damaged.size; ++r)
        for (int k = 0; k < damaged.size; ++k) {
            state = state * 1103515245u + 12345u;
            if (std::max(std::abs(r - c), std::abs(k - c)) > 5 && (state >> 16) % 100 < 40)
                damaged.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)] = !damaged.at(r, k);
        }
    frames.emplace_back("damaged data", renderSymbol(damaged, with(4.0, 15.0, 120.0, 0.0)));
    for (const auto& [name, f] : frames) {
        SCOPED_TRACE(name);
        const auto r = quarrow::read(f.pixels.data(), f.width, f.height);
        EXPECT_NE(r.outcome, quarrow::Outcome::Read) << bytesOf(r.bytes);
        EXPECT_TRUE(r.bytes.empty());
        EXPECT_TRUE(quarrow::readAll(f.pixels.data(), f.width, f.height).empty());
    }
}

// Found by the soak: a mode ring so damaged that its Reed-Solomon words
// correct into another mode message, one that claims more data words than
// the symbol holds. The symbol's codeword passes the fewer check words, and
// the centre search used to return the data with check words appended.
TEST(WholeFrame, AModeMessageClaimingTooManyDataWordsReadsNothingWrong) {
    const SoakCase c = makeSoakCase(7, 2739, 9);
    const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
    if (r.outcome == quarrow::Outcome::Read) {
        EXPECT_EQ(bytesOf(r.bytes), c.original);
    }
    const auto centre = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height, 0, {quarrow::Search::Centre, true});
    if (centre.outcome == quarrow::Outcome::Read) {
        EXPECT_EQ(bytesOf(centre.bytes), c.original);
    }
    for (const auto& one : quarrow::readAll(c.frame.pixels.data(), c.frame.width, c.frame.height)) {
        EXPECT_EQ(bytesOf(one.bytes), c.original);
    }
}

// Found by the soak: a one-layer compact symbol (6 check words) with 30-60 %
// of its data modules flipped lies within 3 words of another codeword, and
// the centre search corrected it to other bytes. The modern front ends
// accept only corrections that random damage reaches rarely: this one is
// located, not read.
TEST(WholeFrame, DamageBeyondRepairIsNotCorrectedIntoOtherBytes) {
    const SoakCase c = makeSoakCase(0, 7774, 7);
    for (const quarrow::Search search : {quarrow::Search::Centre, quarrow::Search::Frame}) {
        const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height, 0, {search, true});
        EXPECT_EQ(r.outcome, quarrow::Outcome::Located) << bytesOf(r.bytes);
        EXPECT_TRUE(r.bytes.empty());
    }
}

// Found by the soak: the same kind of symbol, blurred. The whole-frame
// search samples it a few hundred ways, and one of them lay within 2 words
// of another codeword (a random block does about once in 10^5.1 times).
// It takes only corrections a random block reaches at most once in 10^7.5.
TEST(WholeFrame, ManySamplingsOfDamageBeyondRepairAreNotCorrectedIntoOtherBytes) {
    const SoakCase c = makeSoakCase(0, 141, 443, {.blurred = true});
    const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
    EXPECT_NE(r.outcome, quarrow::Outcome::Read) << bytesOf(r.bytes);
    EXPECT_TRUE(quarrow::readAll(c.frame.pixels.data(), c.frame.width, c.frame.height).empty());
}

// Found by the soak: a blurred Data Matrix-like pattern, light on dark,
// whose fit by the ring template read nothing; through one of the turns
// tried for blurred mode rings it decoded as rune 232, which has no data to
// prove it wrong. Runes are not read through turned fits.
TEST(WholeFrame, ATurnedFitOfClutterIsNotReadAsARune) {
    const SoakCase c = makeSoakCase(5, 1220, 29, {.blurred = true});
    ASSERT_TRUE(c.original.empty());
    const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
    EXPECT_NE(r.outcome, quarrow::Outcome::Read) << bytesOf(r.bytes);
    EXPECT_TRUE(quarrow::readAll(c.frame.pixels.data(), c.frame.width, c.frame.height).empty());
}

// Sensor noise makes row hits everywhere: the finder must still look at a
// symbol's. A camera frame with its symbol in the middle (noise 10 grey
// levels under JPEG: about 3,000 clusters of row hits, of which only the
// first 600 down the frame were once looked at), and a blurred symbol away
// from the centre of a frame whose noise puts many hits nearer to it.
TEST(WholeFrame, SymbolsAmongNoiseHitsAreFound) {
    ModuleGrid g;
    ASSERT_TRUE(encodeAztec("Quarrow whole-frame benchmark: a five-layer full-range symbol", {.size = 9}, g));
    RenderOptions o = with(6.0, 12.0, 300.0, -120.0);
    o.width = 1280;
    o.height = 720;
    o.blurSigma = 3.0;
    o.noiseSigma = 2.0;
    const quarrow_test::FrameCase camera = makeCase(Category::CameraMix, 1, 7);
    const struct {
        Frame frame;
        std::string text;
    } cases[] = {{camera.frame, camera.expected[0]}, {renderSymbol(g, o), "Quarrow whole-frame benchmark: a five-layer full-range symbol"}};
    for (const auto& c : cases) {
        const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
        EXPECT_EQ(r.outcome, quarrow::Outcome::Read);
        EXPECT_EQ(bytesOf(r.bytes), c.text);
    }
}

// Dots 0.6-0.7 of the pitch at 6-8 px/module, whose rings the finder saw
// nowhere until it looked at a halved copy with the dots grown.
TEST(WholeFrame, RingsOfSeparateDotsAreFound) {
    for (const int index : {195, 199}) {
        const quarrow_test::FrameCase c = makeCase(Category::Dots60, index, 7);
        const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
        EXPECT_EQ(r.outcome, quarrow::Outcome::Read) << index;
        EXPECT_EQ(bytesOf(r.bytes), c.expected[0]);
    }
}

// Reads frame `index` of `category`, and the same frame with light and
// dark swapped as a light-on-dark symbol: each must give its exact bytes.
void expectReadInBothPolarities(Category category, int index, std::uint32_t seed = 4242) {
    quarrow_test::FrameCase c = makeCase(category, index, seed);
    for (const bool swapped : {false, true}) {
        SCOPED_TRACE(testing::Message() << quarrow_test::categoryName(category) << " frame " << index
                                        << (swapped ? ", light on dark" : ""));
        if (swapped)
            for (std::uint8_t& p : c.frame.pixels) p = static_cast<std::uint8_t>(255 - p);
        const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
        EXPECT_EQ(r.outcome, quarrow::Outcome::Read);
        EXPECT_EQ(bytesOf(r.bytes), c.expected[0]);
        EXPECT_EQ(r.lightOnDark, swapped);
    }
}

// Frames of small modules blurred by most of a module, whose rings the
// finder's runs never confirm: the ring template finds them round the
// finder's hits. Blur-0.9 frame 20 reads only when the template's fits
// have their mode rings looked for turned a little too; frame 1 only when
// the template tries modules of 0.37 of the hit's (the finder overstates
// its module well over twice); frame 30 only when the template is turned to
// the diagonal after a weak match, frame 3 only when the model's search
// from the template's place starts from the diagonal too (the rings are
// nearly round, and their edges' directions say little). Camera frame 151
// reads only when a large match that read nothing is looked round again
// for rings a few times smaller (the whole blurred symbol matched the
// template best).
TEST(WholeFrame, HeavilyBlurredRingsAreFoundByTheirTemplate) {
    const std::pair<Category, int> frames[] = {
        {Category::CameraMix, 35}, {Category::CameraMix, 52}, {Category::CameraMix, 87}, {Category::Blur90, 13},
        {Category::Blur90, 20},    {Category::Blur90, 6},     {Category::Blur90, 1},     {Category::Blur90, 30},
        {Category::Blur90, 3},     {Category::CameraMix, 151}};
    for (const auto& [category, index] : frames) expectReadInBothPolarities(category, index);
}

// Tilted, blurred bull's-eyes whose outer rings faded on the diagonals:
// the finder confirms them only by the diagonals' middle runs. Camera
// frame 189 (seed 7) shows its rings plainly and reads from that hit;
// blur-0.9 frame 76 reads through the ring template round it.
TEST(WholeFrame, BullseyesShowingOnlyTheirMiddleOnTheDiagonalsAreFound) {
    expectReadInBothPolarities(Category::Blur90, 76);
    expectReadInBothPolarities(Category::CameraMix, 189, 7);
}

// Camera frames (seed 7) whose only hit on the symbol the rounds pass
// over: frame 65's showed on a single row of a noisy frame, frame 196's
// only in the noise round, failing the ring check there. They read as the
// last chance of the hits near the frame centre.
TEST(WholeFrame, PassedOverHitsNearTheCentreHaveALastChance) {
    for (const int index : {65, 196}) expectReadInBothPolarities(Category::CameraMix, index, 7);
}

// Symbols blurred by most of a module, whose rings only the ring template
// finds: the fit needs a start within a few per cent of their scale and a
// few degrees of their turn, which the best start moved half a step each
// way gives (without the moves none of these frames reads).
TEST(WholeFrame, RingTemplateFitsStartNearTheRingsScaleAndTurn) {
    expectReadInBothPolarities(Category::CameraMix, 39, 7);
    expectReadInBothPolarities(Category::CameraMix, 76, 4242);
    expectReadInBothPolarities(Category::Blur90, 272, 7);
}

// Heavily blurred camera frames whose finder hits name the other polarity
// (the centre's run turned by blur): the rings fit only with a light
// centre there, and read once the hit is turned.
TEST(WholeFrame, RingsThatFitInTheOtherPolarityAreReadInIt) {
    for (const int index : {21, 38}) expectReadInBothPolarities(Category::CameraMix, index, 7);
}

// Camera frames whose small blurred bull's-eye, at the frame centre, the
// finder's hits miss: the ring template finds it where the user aims.
TEST(WholeFrame, RingsAreLookedForWhereTheUserAims) {
    expectReadInBothPolarities(Category::CameraMix, 111, 7);
    expectReadInBothPolarities(Category::CameraMix, 491, 7);
    expectReadInBothPolarities(Category::CameraMix, 396, 31);
}

// Small blur-0.9 symbols whose hits come fifth or sixth from the frame
// centre: on frames of little noise the ring template looks round six.
TEST(WholeFrame, OnQuietFramesTheRingTemplateLooksRoundMoreHits) {
    for (const int index : {2, 34}) expectReadInBothPolarities(Category::Blur90, index);
}

// Blur-0.9 symbols whose mode messages read but whose data reads through
// no refit: the rings left the transform a degree or two off, and the
// data reads only through it turned or scaled a little.
TEST(WholeFrame, HeavilyBlurredDataIsReadThroughATurnedTransform) {
    for (const int index : {78, 81}) expectReadInBothPolarities(Category::Blur90, index);
}

// Camera frames whose heavily blurred modules keep much of the noise and
// JPEG's errors: they read only from samples over each module's patch.
TEST(WholeFrame, NoisyBlurredModulesAreReadFromWiderSamples) {
    for (const int index : {151, 343}) expectReadInBothPolarities(Category::CameraMix, index);
}

// Camera frames whose blurred modules keep too much noise for samples
// round their centres, even over the patch: they read only once the
// modules are solved from every pixel they cover.
TEST(WholeFrame, NoisyBlurredModulesAreSolvedFromEveryPixel) {
    for (const int index : {224, 580}) expectReadInBothPolarities(Category::CameraMix, index, 7);
}

// A highlight over part of the mode ring (glare frames, seed 7): no one
// threshold parts the ring's modules, and only their shares between the
// bull's-eye's rings inside them read it. Frame 2 reads from the nearest
// rings' levels, frame 14 only with them carried on outwards (the light
// climbs steeply over a module), frames 47 and 64 only once the words the
// glare washed out, an orientation mark among them, are erased, and frame
// 104 only through the fit moved a fifth of a module (the highlight pulled
// the bull's-eye's fit).
TEST(WholeFrame, ModeRingsUnderAHighlightAreReadAgainstTheRingsInside) {
    for (const int index : {2, 14, 47, 64, 104}) expectReadInBothPolarities(Category::Glare, index, 7);
}

// Warped paper (seed 7): no flat or cylindrical transform places the outer
// modules, which only a mesh tracked outwards from the bull's-eye reads.
TEST(WholeFrame, WarpedPaperIsReadThroughAMeshTrackedFromTheBullseye) {
    for (const int index : {4, 14, 37, 53}) expectReadInBothPolarities(Category::Warped, index, 7);
}

// The centre search misses a few modules of some clean symbols (frame 1
// of seed 7 it reads with 14 corrected words); the whole-frame stage reads
// the same bytes from the region without a correction, and its read is
// reported. Frame 33 of seed 31 is a compact symbol whose region the
// second read searched for long as a full-range bull's-eye, and ran out
// of its samples, before it came to the compact kind's sharp read.
TEST(WholeFrame, CleanSymbolsReadWithoutCorrections) {
    for (const auto& [index, seed] : {std::pair{1, 7u}, std::pair{33, 31u}}) {
        SCOPED_TRACE(index);
        const quarrow_test::FrameCase c = makeCase(Category::Clean, index, seed);
        const auto centre =
            quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height, 0, {quarrow::Search::Centre, true});
        const auto frame = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
        ASSERT_EQ(centre.outcome, quarrow::Outcome::Read);
        EXPECT_GT(centre.correctedWords, 0);
        EXPECT_EQ(frame.outcome, quarrow::Outcome::Read);
        EXPECT_EQ(frame.correctedWords, 0);
        EXPECT_EQ(bytesOf(frame.bytes), c.expected[0]);
        EXPECT_NEAR(frame.centre.x, centre.centre.x, 1.0);
        EXPECT_NEAR(frame.centre.y, centre.centre.y, 1.0);
    }
}

}  // namespace

namespace {

// The search's work per frame is bounded: a blurred symbol away from the
// centre needs model fits, and with no samples to spend on them it is not
// read, while the frame's own budget reads it.
TEST(WholeFrame, TheWorkBudgetStopsTheSearch) {
    ModuleGrid g;
    ASSERT_TRUE(encodeAztec("blurred 0.5", {.size = 2}, g));
    RenderOptions o = with(6.0, 70.0, 100.0, 0.0);
    o.blurSigma = 3.0;
    o.noiseSigma = 2.0;
    const Frame f = renderSymbol(g, o);
    const AztecCore::Locate::GreyView v{f.pixels.data(), f.width, f.height, f.width};
    const auto found = AztecCore::Locate::searchFrame(v, {});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(bytesOf(found[0].read.data.text.bytes), "blurred 0.5");
    AztecCore::Locate::FrameSearchOptions starved;
    starved.budget = 1;
    EXPECT_TRUE(AztecCore::Locate::searchFrame(v, starved).empty());
}

}  // namespace
