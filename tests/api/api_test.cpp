// The public C++ interface, linked as users link it (the shared library).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "quarrow/quarrow.hpp"
#include "support/frame_renderer.h"
#include "support/grid_reading.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;

struct Symbol {
    ModuleGrid grid;
    RenderOptions render;
    Frame frame;
};

// A clean frame: 640 x 480 with 8-pixel modules.
constexpr double kModule = 8.0;

Symbol makeSymbol(const std::string& data, EncodeOptions enc = {}, RenderOptions render = {}) {
    Symbol s;
    EXPECT_TRUE(encodeAztec(data, enc, s.grid)) << data;
    if (render.moduleSize == RenderOptions{}.moduleSize) render.moduleSize = kModule;
    s.render = render;
    s.frame = renderSymbol(s.grid, render);
    return s;
}

quarrow::ReadResult readFrame(const Frame& f) { return quarrow::read(f.pixels.data(), f.width, f.height); }

std::string bytesOf(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(Api, ReadsASymbolWithItsFacts) {
    const Symbol s = makeSymbol("Quarrow API", {.size = 2});
    const quarrow::ReadResult r = readFrame(s.frame);
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << r.message;
    EXPECT_EQ(bytesOf(r.bytes), "Quarrow API");
    EXPECT_EQ(r.text, "Quarrow API");
    EXPECT_EQ(r.textNote, "");
    EXPECT_FALSE(r.gs1);
    EXPECT_TRUE(r.ecis.empty());
    EXPECT_EQ(r.type, quarrow::SymbolType::Compact);
    EXPECT_EQ(r.layers, 2);
    EXPECT_EQ(r.wordBits, 6);
    EXPECT_GT(r.totalWords, r.dataWords);
    EXPECT_EQ(r.eccPercent, (r.totalWords - r.dataWords) * 100 / r.totalWords);
    EXPECT_EQ(r.correctedWords, 0);
    EXPECT_EQ(r.rotation, 0);
    EXPECT_FALSE(r.mirrored);
    EXPECT_EQ(r.message.rfind("Read data (C 0' L: 2", 0), 0u) << r.message;
    // The outer corners lie where the renderer put the symbol's corners.
    const int n = s.grid.size;
    const double gridCorners[4][2] = {{0, 0}, {1.0 * n, 0}, {1.0 * n, 1.0 * n}, {0, 1.0 * n}};
    for (int k = 0; k < 4; ++k) {
        const FramePoint p = gridToFrame(s.render, n, gridCorners[k][0], gridCorners[k][1]);
        EXPECT_NEAR(r.symbolCorners[static_cast<std::size_t>(k)].x, p.x, 2.5) << k;
        EXPECT_NEAR(r.symbolCorners[static_cast<std::size_t>(k)].y, p.y, 2.5) << k;
    }
    const FramePoint mid = gridToFrame(s.render, n, n / 2.0, n / 2.0);
    EXPECT_NEAR(r.centre.x, mid.x, 2.5);
    EXPECT_NEAR(r.centre.y, mid.y, 2.5);
    // The bull's-eye lies inside the outline.
    for (const quarrow::Point& p : r.bullseyeCorners) {
        EXPECT_GT(p.x, r.symbolCorners[0].x);
        EXPECT_LT(p.x, r.symbolCorners[2].x);
    }
}

TEST(Api, FullRangeRotatedAndMirrored) {
    EncodeOptions enc;
    enc.size = 6;
    ModuleGrid g;
    ASSERT_TRUE(encodeAztec("Full range, turned and mirrored", enc, g));
    RenderOptions ro;
    ro.moduleSize = kModule;
    const Frame f = renderSymbol(transformGrid(g, 1, true), ro);
    const quarrow::ReadResult r = readFrame(f);
    ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << r.message;
    EXPECT_EQ(r.text, "Full range, turned and mirrored");
    EXPECT_EQ(r.type, quarrow::SymbolType::FullRange);
    EXPECT_TRUE(r.mirrored);
    EXPECT_EQ(r.layers, 2);
}

// `rotation` and `mirrored` say where among `symbolCorners` the symbol's
// own top-left corner (its orientation mark of three dark modules) lies:
// at index `rotation`, or, mirrored, at (1 - rotation) mod 4, the marks
// then running anticlockwise. Whichever search read it, and however it is
// turned: near 45 degrees two corners are nearly as near the frame's top
// left, and the rotation must follow the one put first.
TEST(Api, RotationNamesTheSymbolsTopLeftCorner) {
    ModuleGrid g;
    ASSERT_TRUE(encodeAztec("Which way up", {.size = 3}, g));
    constexpr double kTurnModule = 5.0;
    const double half = g.size * kTurnModule / 2.0;
    for (const bool mirror : {false, true}) {
        for (const double degrees : {0.0, 30.0, 44.0, 44.6, 45.0, 45.4, 46.0, 80.0, 134.7, 135.3, 190.0, 224.8, 225.2, 260.0,
                                     314.6, 315.4}) {
            const RenderOptions o{.moduleSize = kTurnModule, .dx = 40, .dy = 25, .rotationDeg = degrees, .mirror = mirror};
            const quarrow::ReadResult r = readFrame(renderSymbol(g, o));
            ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << degrees << " " << mirror;
            // Where the renderer put that corner: mirrored left-right, then
            // turned clockwise round the symbol's centre.
            const double a = degrees * std::acos(-1.0) / 180.0, x = mirror ? half : -half, y = -half;
            const double cx = o.width / 2.0 + o.dx + x * std::cos(a) - y * std::sin(a);
            const double cy = o.height / 2.0 + o.dy + x * std::sin(a) + y * std::cos(a);
            int nearest = 0;
            for (int k = 1; k < 4; ++k) {
                const auto d = [&](int i) { return std::hypot(r.symbolCorners[i].x - cx, r.symbolCorners[i].y - cy); };
                if (d(k) < d(nearest)) nearest = k;
            }
            EXPECT_EQ(r.mirrored, mirror) << degrees;
            EXPECT_EQ(r.rotation, mirror ? (5 - nearest) % 4 : nearest) << degrees << " " << mirror;
        }
    }
}

TEST(Api, PaddedRowsAreReadRowByRow) {
    const Symbol s = makeSymbol("stride");
    const int stride = s.frame.width + 37;
    // Padding full of a dark pattern that would wreck a read ignoring stride.
    std::vector<std::uint8_t> padded(static_cast<std::size_t>(stride) * static_cast<std::size_t>(s.frame.height - 1) +
                                         static_cast<std::size_t>(s.frame.width),
                                     0);
    for (int y = 0; y < s.frame.height; ++y)
        std::copy_n(s.frame.pixels.begin() + static_cast<long>(y) * s.frame.width, s.frame.width,
                    padded.begin() + static_cast<long>(y) * stride);
    quarrow::ReadResult r = quarrow::read(padded.data(), s.frame.width, s.frame.height, stride);
    EXPECT_EQ(r.outcome, quarrow::Outcome::Read) << r.message;
    EXPECT_EQ(r.text, "stride");
    r = quarrow::read(std::span<const std::uint8_t>(padded), s.frame.width, s.frame.height, stride);
    EXPECT_EQ(r.text, "stride");
    // One byte short of the last row.
    r = quarrow::read(std::span<const std::uint8_t>(padded.data(), padded.size() - 1), s.frame.width, s.frame.height, stride);
    EXPECT_EQ(r.status, quarrow::Status::ShortBuffer);
    EXPECT_EQ(r.outcome, quarrow::Outcome::NotLocated);
}

TEST(Api, BadInputGivesAStatusNotACrash) {
    const std::vector<std::uint8_t> px(64, 128);
    EXPECT_EQ(quarrow::read(nullptr, 8, 8).status, quarrow::Status::NullFrame);
    EXPECT_EQ(quarrow::read(std::span<const std::uint8_t>(), 8, 8).status, quarrow::Status::NullFrame);
    EXPECT_EQ(quarrow::read(px.data(), 0, 8).status, quarrow::Status::BadSize);
    EXPECT_EQ(quarrow::read(px.data(), 8, -1).status, quarrow::Status::BadSize);
    EXPECT_EQ(quarrow::read(px.data(), 8, 8, 7).status, quarrow::Status::BadSize);
    EXPECT_EQ(quarrow::read(px.data(), 8, 8, -8).status, quarrow::Status::BadSize);
    EXPECT_EQ(quarrow::read(std::span<const std::uint8_t>(px), 8, 9).status, quarrow::Status::ShortBuffer);
    EXPECT_EQ(quarrow::read(std::span<const std::uint8_t>(px), 9, 8).status, quarrow::Status::ShortBuffer);
    // Sizes beyond the limit are refused before a byte is touched.
    EXPECT_EQ(quarrow::read(px.data(), 1 << 15, (1 << 13) + 1).status, quarrow::Status::TooLarge);
    EXPECT_EQ(quarrow::read(px.data(), 2147483647, 2147483647).status, quarrow::Status::TooLarge);
    EXPECT_EQ(quarrow::read(std::span<const std::uint8_t>(px), 1 << 15, 1 << 14).status, quarrow::Status::TooLarge);
    // A huge stride does not overflow the size check.
    EXPECT_EQ(quarrow::read(std::span<const std::uint8_t>(px), 8, 8, 2147483647).status, quarrow::Status::ShortBuffer);
    const quarrow::ReadResult ok = quarrow::read(std::span<const std::uint8_t>(px), 8, 8);
    EXPECT_EQ(ok.status, quarrow::Status::Ok);
    EXPECT_EQ(ok.outcome, quarrow::Outcome::NotLocated);
    EXPECT_TRUE(ok.bytes.empty());
    EXPECT_EQ(quarrow::read(px.data(), 1, 1).status, quarrow::Status::Ok);
    for (quarrow::Status st : {quarrow::Status::Ok, quarrow::Status::NullFrame, quarrow::Status::BadSize,
                               quarrow::Status::ShortBuffer, quarrow::Status::TooLarge, quarrow::Status::OutOfMemory,
                               quarrow::Status::InternalError})
        EXPECT_GT(std::string(quarrow::toString(st)).size(), 1u);
    EXPECT_STREQ(quarrow::toString(quarrow::Outcome::Located), "Located");
}

// Effort bounds the whole-frame search's work: a heavily blurred symbol
// away from the centre reads at the default effort (and at the most) but
// not at a twentieth of it; values out of range are refused, for every
// read, before a pixel is looked at.
TEST(Api, EffortBoundsTheSearchAndIsChecked) {
    ModuleGrid g;
    ASSERT_TRUE(encodeAztec("Effort 3", {}, g));
    RenderOptions o;
    o.moduleSize = 4.0;
    o.blurSigma = 0.85 * o.moduleSize;
    o.noiseSigma = 2.0;
    o.dx = 150.0;
    o.dy = 60.0;
    o.rotationDeg = 20.0;
    o.seed = 3;
    const Frame f = renderSymbol(g, o);
    for (const auto& [effort, reads] : {std::pair{1.0, true}, {quarrow::kMaxEffort, true}, {0.05, false}}) {
        quarrow::ReadOptions ro;
        ro.effort = effort;
        const quarrow::ReadResult r = quarrow::read(f.pixels.data(), f.width, f.height, 0, ro);
        EXPECT_EQ(r.outcome == quarrow::Outcome::Read, reads) << "effort " << effort;
        EXPECT_EQ(r.text, reads ? "Effort 3" : "");
    }
    for (const double effort : {0.0, -1.0, quarrow::kMaxEffort * 1.01, std::nan(""), HUGE_VAL}) {
        quarrow::ReadOptions ro;
        ro.effort = effort;
        EXPECT_EQ(quarrow::read(f.pixels.data(), f.width, f.height, 0, ro).status, quarrow::Status::BadOptions);
        const auto all = quarrow::readAll(f.pixels.data(), f.width, f.height, 0, ro);
        ASSERT_EQ(all.size(), 1u);
        EXPECT_EQ(all[0].status, quarrow::Status::BadOptions);
    }
    EXPECT_STREQ(quarrow::toString(quarrow::Status::BadOptions), "effort must be above 0 and at most 4");
}

TEST(Api, RandomFramesNeverThrow) {
    std::mt19937 rng(11);
    for (int i = 0; i < 20; ++i) {
        const int w = 1 + static_cast<int>(rng() % 200), h = 1 + static_cast<int>(rng() % 200);
        std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h));
        for (auto& p : px) p = static_cast<std::uint8_t>(rng() % 2 ? 0 : 255);
        const quarrow::ReadResult r = quarrow::read(std::span<const std::uint8_t>(px), w, h);
        EXPECT_TRUE(r.status == quarrow::Status::Ok || r.status == quarrow::Status::InternalError);
        if (r.outcome != quarrow::Outcome::Read) {
            EXPECT_TRUE(r.bytes.empty());
        }
    }
}

TEST(Api, LatinOneByDefault) {
    const Symbol s = makeSymbol("Gr\xFC\xDF" "e \xA9 2024");
    const quarrow::ReadResult r = readFrame(s.frame);
    ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << r.message;
    EXPECT_EQ(r.text, "Gr\xC3\xBC\xC3\x9F" "e \xC2\xA9 2024");
    EXPECT_EQ(bytesOf(r.bytes), "Gr\xFC\xDF" "e \xA9 2024");
}

TEST(Api, EciDesignatorsChooseTheCharacterSet) {
    struct Case {
        int eci;
        const char* utf8;
    };
    // UTF-8, ISO-8859-5 (Cyrillic), ISO-8859-7 (Greek), ISO-8859-2, Shift JIS.
    const Case cases[] = {
        {26, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x82\xAC"},
        {7, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {9, "\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7\xCE\xBC\xCE\xAD\xCF\x81\xCE\xB1"},
        {4, "\xC5\x81\xC3\xB3\xC4\x91\xC5\xBA"},
        {20, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E abc \xEF\xBD\xB1"},
    };
    for (const Case& c : cases) {
        EncodeOptions enc;
        enc.eci = c.eci;
        enc.utf8 = true;
        const Symbol s = makeSymbol(c.utf8, enc);
        const quarrow::ReadResult r = readFrame(s.frame);
        ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << c.eci << " " << r.message;
        EXPECT_EQ(r.text, c.utf8) << c.eci;
        EXPECT_EQ(r.textNote, "") << c.eci;
        ASSERT_EQ(r.ecis.size(), 1u) << c.eci;
        EXPECT_EQ(r.ecis[0].eci, c.eci);
        EXPECT_EQ(r.ecis[0].position, 0u);
    }
}

TEST(Api, Gs1DataIsFlagged) {
    EncodeOptions enc;
    enc.gs1 = true;
    const Symbol s = makeSymbol("[01]09501101530003[17]250101", enc);
    const quarrow::ReadResult r = readFrame(s.frame);
    ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << r.message;
    EXPECT_TRUE(r.gs1);
    EXPECT_EQ(r.text.substr(0, 16), "0109501101530003");
}

TEST(Api, NoSymbolIsNotLocated) {
    const Frame f = noiseFrame(160, 120, 128, 40, 3);
    const quarrow::ReadResult r = readFrame(f);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.outcome, quarrow::Outcome::NotLocated);
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_EQ(r.text, "");
    EXPECT_FALSE(r.message.empty());
    EXPECT_EQ(r.symbolCorners[0].x, 0.0);
}

// Parts of a message made by libzint, read from frames in a shuffled
// order: each reports its position, count and ID apart from its bytes, and
// the join puts the message back or names what is missing.
TEST(Api, StructuredAppendPartsAndJoin) {
    struct Message { int count; std::string id; };
    const Message messages[] = {{2, ""}, {3, "TICKET7"}, {26, ""}};
    std::mt19937 rng(11);
    for (const Message& m : messages) {
        std::vector<quarrow::ReadResult> parts;
        std::string whole;
        for (int i = 1; i <= m.count; ++i) {
            const std::string piece = "part " + std::to_string(i) + (i % 2 ? " odd" : " even");
            whole += piece;
            const Symbol s = makeSymbol(piece, {.partIndex = i, .partCount = m.count, .partId = m.id});
            quarrow::ReadResult r = readFrame(s.frame);
            ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << r.message;
            EXPECT_EQ(bytesOf(r.bytes), piece);
            ASSERT_TRUE(r.structuredAppend.has_value());
            EXPECT_EQ(r.structuredAppend->index, i);
            EXPECT_EQ(r.structuredAppend->count, m.count);
            EXPECT_EQ(r.structuredAppend->id, m.id);
            EXPECT_EQ(r.symbologyIdentifier, "]z6");
            parts.push_back(std::move(r));
        }
        std::shuffle(parts.begin(), parts.end(), rng);
        parts.push_back(parts.front());  // a part read twice counts once
        const quarrow::JoinedMessage joined = quarrow::joinStructuredAppend(parts);
        ASSERT_TRUE(joined.ok) << joined.error;
        EXPECT_EQ(bytesOf(joined.bytes), whole);
        EXPECT_EQ(joined.text, whole);
        // Without the part at position 2.
        std::vector<quarrow::ReadResult> short_;
        for (const auto& p : parts)
            if (p.structuredAppend->index != 2) short_.push_back(p);
        const quarrow::JoinedMessage broken = quarrow::joinStructuredAppend(short_);
        EXPECT_FALSE(broken.ok);
        EXPECT_EQ(broken.error, "missing part 2 of " + std::to_string(m.count));
    }
    // Parts of two different messages, and plain symbols, do not join.
    std::vector<quarrow::ReadResult> mixed{readFrame(makeSymbol("a", {.partIndex = 1, .partCount = 2, .partId = "X"}).frame),
                                           readFrame(makeSymbol("b", {.partIndex = 2, .partCount = 2, .partId = "Y"}).frame)};
    EXPECT_NE(quarrow::joinStructuredAppend(mixed).error.find("more than one message"), std::string::npos);
    const quarrow::ReadResult plain = readFrame(makeSymbol("plain").frame);
    EXPECT_FALSE(plain.structuredAppend.has_value());
    EXPECT_EQ(plain.symbologyIdentifier, "]z0");
    EXPECT_EQ(quarrow::joinStructuredAppend({plain}).error, "no structured-append part among the results");
}

// Every rune value, in each quarter turn and mirrored in turn; and a damaged
// compact symbol whose mode ring comes near a rune's is not taken for one.
TEST(Api, RunesEveryValue) {
    for (int value = 0; value < 256; ++value) {
        ModuleGrid g;
        ASSERT_TRUE(encodeRune(value, g));
        const Frame f = renderSymbol(transformGrid(g, value % 4, value % 8 >= 4), {.width = 200, .height = 160, .moduleSize = 6});
        const quarrow::ReadResult r = readFrame(f);
        ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << value << " " << r.message;
        EXPECT_EQ(r.rune, value);
        EXPECT_EQ(bytesOf(r.bytes), std::to_string(value));
        EXPECT_EQ(r.symbologyIdentifier, "]zC");
        EXPECT_EQ(r.message.rfind("Read rune ", 0), 0u);
        // The centre search of the modern API reads it too.
        EXPECT_EQ(quarrow::read(f.pixels.data(), f.width, f.height, 0, {.search = quarrow::Search::Centre}).rune, value);
    }
    // Off centre, turned and light on dark: only the whole-frame search finds these.
    for (int value : {7, 128, 250}) {
        ModuleGrid g;
        ASSERT_TRUE(encodeRune(value, g));
        RenderOptions o{.width = 320, .height = 240, .moduleSize = 5, .dx = 90, .dy = -60, .rotationDeg = 33.0 * value};
        if (value == 250) std::swap(o.dark, o.light), o.background = 20;
        const quarrow::ReadResult r = readFrame(renderSymbol(g, o));
        ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << value << " " << r.message;
        EXPECT_EQ(r.rune, value);
        EXPECT_EQ(r.lightOnDark, value == 250);
    }
    const quarrow::ReadResult plain = readFrame(makeSymbol("not a rune", {.size = 1}).frame);
    EXPECT_FALSE(plain.rune.has_value());
    EXPECT_FALSE(plain.readerInit);
}

TEST(Api, ReaderInitialisationSymbols) {
    for (const int size : {1, 5, 12}) {  // compact 1 layer; full-range 1 and 8 layers
        const Symbol s = makeSymbol("SCAN 42", {.size = size, .readerInit = true});
        const quarrow::ReadResult r = readFrame(s.frame);
        ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << size << " " << r.message;
        EXPECT_TRUE(r.readerInit);
        EXPECT_EQ(bytesOf(r.bytes), "SCAN 42");
    }
}

// Every character set that libzint encodes, end to end: UTF-8 text in,
// libzint converts it to the set and marks it with the ECI, the read
// converts it back.
TEST(Api, EveryEciCharacterSetFromLibzint) {
    struct Case { int eci; const char* utf8; };
    const Case cases[] = {
        {3, "caf\u00e9"}, {4, "\u0141\u00f3d\u017a"}, {5, "\u0126a\u0109"}, {6, "\u0138\u0101"},
        {7, "\u041f\u0440\u0438\u0432\u0435\u0442"}, {8, "\u0645\u0631\u062d\u0628\u0627"},
        {9, "\u0391\u03bb\u03c6\u03b1"}, {10, "\u05e9\u05dc\u05d5\u05dd"}, {11, "\u0130stanbul"},
        {12, "\u014a\u0166"}, {13, "\u0e2a\u0e27\u0e31\u0e2a"}, {15, "\u0104\u017e"}, {16, "\u0174\u0175"},
        {17, "\u20ac5"}, {18, "\u0218\u021b"}, {20, "\u65e5\u672c\uff71"}, {21, "\u0141\u00f3d\u017a"},
        {22, "\u041f\u0440\u0438"}, {23, "\u20acuro"}, {24, "\u0645\u0631\u062d"}, {25, "\u65e5\u672c"},
        {26, "\u65e5\u672c\u20ac"}, {27, "ascii"}, {28, "\u4e2d\u6587"}, {29, "\u4e2d\u6587"},
        {30, "\ud55c\uad6d"}, {31, "\u4e2d\u6587"}, {32, "\u4e2d\u6587\U00020000"}, {33, "\u65e5\u672c"},
        {34, "\U0001F600"}, {35, "\U0001F600"}, {170, "abc"},
    };
    for (const Case& c : cases) {
        ModuleGrid g;
        std::string error;
        ASSERT_TRUE(encodeAztec(c.utf8, {.eci = c.eci, .utf8 = true}, g, &error)) << c.eci << ": " << error;
        const quarrow::ReadResult r = readFrame(renderSymbol(g, {.moduleSize = 6}));
        ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << c.eci;
        EXPECT_EQ(r.text, c.utf8) << "ECI " << c.eci;
        EXPECT_EQ(r.textNote, "") << "ECI " << c.eci;
        ASSERT_FALSE(r.ecis.empty());
        EXPECT_EQ(r.ecis[0].eci, c.eci);
    }
}

// Segments in different sets: each run of bytes in its own set.
TEST(Api, EciSegments) {
    ModuleGrid g;
    const std::vector<Segment> segs{{7, "\u041f\u0440\u0438"}, {20, "\u65e5\u672c"}, {26, "\u20ac!"}};
    ASSERT_TRUE(encodeAztecSegments(segs, g));
    const quarrow::ReadResult r = readFrame(renderSymbol(g, {.moduleSize = 6}));
    ASSERT_EQ(r.outcome, quarrow::Outcome::Read);
    EXPECT_EQ(r.text, "\u041f\u0440\u0438\u65e5\u672c\u20ac!");
    ASSERT_EQ(r.ecis.size(), 3u);
    EXPECT_EQ(r.ecis[1].eci, 20);
    EXPECT_EQ(r.ecis[1].position, 3u);
    EXPECT_EQ(r.symbologyIdentifier, "]z3");
}

// The identifier's modifier follows what the symbol holds.
TEST(Api, SymbologyIdentifiers) {
    struct Case { const char* data; EncodeOptions enc; const char* id; };
    const Case cases[] = {
        {"plain", {}, "]z0"},
        {"[01]09501101530003", {.gs1 = true}, "]z1"},
        {"\xE9t\xE9", {.eci = 26}, "]z3"},
        {"[01]09501101530003", {.eci = 3, .gs1 = true}, "]z4"},
        {"eci part", {.eci = 26, .partIndex = 1, .partCount = 3}, "]z9"},
    };
    for (const Case& c : cases) {
        const quarrow::ReadResult r = readFrame(makeSymbol(c.data, c.enc).frame);
        ASSERT_EQ(r.outcome, quarrow::Outcome::Read) << c.data;
        EXPECT_EQ(r.symbologyIdentifier, c.id) << c.data;
    }
}

// Found but not decodable: Located with the symbol's facts and no data, in
// both searches.
TEST(Api, SpoiltDataIsLocatedWithoutData) {
    Symbol s = makeSymbol("Located, not read", {.size = 3});
    s.frame = renderSymbol(spoilData(s.grid), s.render);
    for (const quarrow::Search search : {quarrow::Search::Centre, quarrow::Search::Frame}) {
        const quarrow::ReadResult r = quarrow::read(s.frame.pixels.data(), s.frame.width, s.frame.height, 0, {.search = search});
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.outcome, quarrow::Outcome::Located) << r.message;
        EXPECT_EQ(r.message.rfind("Detected barcode area (C ", 0), 0u) << r.message;
        EXPECT_TRUE(r.bytes.empty());
        EXPECT_EQ(r.text, "");
        EXPECT_EQ(r.type, quarrow::SymbolType::Compact);
        EXPECT_EQ(r.layers, 3);
        EXPECT_EQ(r.correctedWords, 0);
    }
}

// One Reader over a stream of different frames (symbols, none, a light one
// on dark, a refused one) answers every frame as a fresh read does.
TEST(Api, ReaderKeptOverAStreamAnswersAsFreshReads) {
    std::vector<Frame> frames{makeSymbol("stream one", {.size = 2}).frame, noiseFrame(320, 240, 128, 40, 3),
                              makeSymbol("stream two", {.size = 6}).frame, uniformFrame(64, 48, 0)};
    Frame negative = frames[0];
    for (auto& p : negative.pixels) p = static_cast<std::uint8_t>(255 - p);
    frames.push_back(negative);
    quarrow::Reader reader;
    for (int round = 0; round < 2; ++round) {
        for (const Frame& f : frames) {
            const quarrow::ReadResult a = reader.read(f.pixels, f.width, f.height);
            const quarrow::ReadResult b = readFrame(f);
            EXPECT_EQ(a.outcome, b.outcome);
            EXPECT_EQ(a.bytes, b.bytes);
            EXPECT_EQ(a.message, b.message);
            EXPECT_EQ(a.symbolCorners[0].x, b.symbolCorners[0].x);
            EXPECT_EQ(a.lightOnDark, b.lightOnDark);
        }
        EXPECT_EQ(reader.read(frames[0].pixels, frames[0].width, frames[0].height + 1).status, quarrow::Status::ShortBuffer);
    }
    EXPECT_TRUE(readFrame(negative).lightOnDark);
    reader.setOptions({.search = quarrow::Search::Centre});
    EXPECT_EQ(reader.read(negative.pixels, negative.width, negative.height).outcome, quarrow::Outcome::NotLocated);
    EXPECT_EQ(reader.readAll(frames[2].pixels, frames[2].width, frames[2].height).size(), 1u);
}

// Reads on many threads at once give what the same reads give one by one.
TEST(Api, ConcurrentReadsAreIndependent) {
    std::vector<Frame> frames;
    std::vector<quarrow::ReadResult> expected;
    for (int i = 0; i < 6; ++i) {
        frames.push_back(i % 3 == 2 ? noiseFrame(640, 480, 128, 30, static_cast<std::uint32_t>(i))
                                    : makeSymbol("thread " + std::to_string(i), {.size = 2 + i % 2}).frame);
        expected.push_back(readFrame(frames.back()));
    }
    // A symbol with damaged modules: its message counts corrections that
    // the clean reads running beside it do not have.
    ModuleGrid damaged;
    ASSERT_TRUE(encodeAztec("thread damaged", {.size = 3}, damaged));
    for (int col = 2; col < 12; col += 3) damaged.modules[0][static_cast<std::size_t>(col)].flip();
    frames.push_back(renderSymbol(damaged, {.moduleSize = kModule}));
    expected.push_back(readFrame(frames.back()));
    ASSERT_EQ(expected.back().outcome, quarrow::Outcome::Read) << expected.back().message;
    ASSERT_GT(expected.back().correctedWords, 0);
    constexpr int kThreads = 4, kRounds = 6;
    std::vector<std::vector<quarrow::ReadResult>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                for (std::size_t i = 0; i < frames.size(); ++i) got[static_cast<std::size_t>(t)].push_back(readFrame(frames[(i + static_cast<std::size_t>(t)) % frames.size()]));
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        for (std::size_t k = 0; k < got[static_cast<std::size_t>(t)].size(); ++k) {
            const quarrow::ReadResult& a = got[static_cast<std::size_t>(t)][k];
            const quarrow::ReadResult& e = expected[(k % frames.size() + static_cast<std::size_t>(t)) % frames.size()];
            EXPECT_EQ(a.outcome, e.outcome);
            EXPECT_EQ(a.bytes, e.bytes);
            EXPECT_EQ(a.correctedWords, e.correctedWords);
            EXPECT_EQ(a.message, e.message);  // " #err=N" is this read's own count
            EXPECT_EQ(a.symbolCorners[2].x, e.symbolCorners[2].x);
        }
    }
    EXPECT_EQ(expected[0].text, "thread 0");
}

}  // namespace
