// The detector's stages one at a time: blob centre, bull's-eye test,
// corner refinement, mode ring sampling and binarisation, the module
// sampler, and the reference-line search helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "decode/mode_message.h"
#include "detect/symbol_detector.h"
#include "support/frame_renderer.h"
#include "support/grid_reading.h"
#include "support/zint_symbol.h"

namespace AztecCore {
// Reaches the working image and fill window for stage-by-stage tests.
class SymbolDetectorTestPeer {
public:
    static std::shared_ptr<Image::GrayBuf>& work(SymbolDetector& d) { return d.work_; }
    static bool attemptSeed(SymbolDetector& d, SymbolCandidate& c, int x, int y) { return d.attemptSeed(c, x, y); }
    // A ring fill from (px, py) round (cx, cy) in the window [x0, x1) x
    // [y0, y1) of `work`, by runs or by the pixel walk alone: what it
    // marked, summed and found as the quadrants' corners.
    struct RingFill {
        std::vector<std::uint8_t> pixels;
        std::int64_t count, sumX, sumY;
        std::vector<std::int32_t> corners;
    };
    static RingFill ringFill(const Image::GrayBuf& work, int px, int py, int cx, int cy, int x0, int x1, int y0, int y1,
                             bool byPixel) {
        SymbolDetector d;
        d.work_ = std::make_shared<Image::GrayBuf>(work);
        d.ringRunsByPixel_ = byPixel;
        setWindow(d, x0, x1, y0, y1);
        d.maxCount_ = (y1 - y0) * (x1 - x0);
        d.ringCentre_ = {cx, cy};
        d.markedX0_ = d.markedY0_ = 1 << 30;
        d.markedX1_ = d.markedY1_ = -(1 << 30);
        d.fillFrom(px, py, SymbolDetector::FillKind::Ring);
        RingFill r{d.work_->plane.pixels, d.count_, d.sumX_, d.sumY_, {}};
        for (const auto& q : d.quadrantCorner_) r.corners.insert(r.corners.end(), {q.x, q.y});
        return r;
    }
    static void setWindow(SymbolDetector& d, int x0, int x1, int y0, int y1) {
        d.xMin_ = x0;
        d.xMax_ = x1;
        d.yMin_ = y0;
        d.yMax_ = y1;
    }
};
}  // namespace AztecCore

namespace {

using namespace AztecCore;
using Image::GrayBuf;

constexpr std::uint8_t kDark = 30, kLight = 210;

// A bull's-eye whose centre module covers pixels x0 ... x0 + mw - 1 and
// y0 ... y0 + mh - 1; rings up to `outer` (dark at even distances), light
// beyond.
GrayBuf drawBullseye(int w, int h, int outer, int mw = 10, int mh = 10, int x0 = 195, int y0 = 195) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h), kLight);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int i = static_cast<int>(std::floor((x - x0) / double(mw))), j = static_cast<int>(std::floor((y - y0) / double(mh)));
            const int d = std::max(std::abs(i), std::abs(j));
            if (d <= outer && d % 2 == 0) px[static_cast<std::size_t>(y * w + x)] = kDark;
        }
    }
    return GrayBuf(px.data(), w, h);
}

void expectCorners(const SymbolCandidate& c, const Point2d (&want)[4], double tol) {
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(c.corners[k].x, want[k].x, tol) << "corner " << k;
        EXPECT_NEAR(c.corners[k].y, want[k].y, tol) << "corner " << k;
    }
}

TEST(BlobCentre, CentreSquareRingAndEdgeCases) {
    SymbolDetector d;
    d.setImage(drawBullseye(400, 400, 6));
    Point2d c = d.blobCentre(200, 200);
    EXPECT_DOUBLE_EQ(c.x, 199.5);
    EXPECT_DOUBLE_EQ(c.y, 199.5);
    // The same seed again: the window is quantised afresh.
    c = d.blobCentre(200, 200);
    EXPECT_DOUBLE_EQ(c.x, 199.5);
    // A seed on the unbroken light ring 1: the ring's centroid.
    c = d.blobCentre(188, 200);
    EXPECT_NEAR(c.x, 199.5, 1e-9);
    EXPECT_NEAR(c.y, 199.5, 1e-9);
    // A seed above the image: its row is outside and light.
    c = d.blobCentre(200, -5);
    EXPECT_DOUBLE_EQ(c.y, -5.0);

    SymbolDetector tiny;
    const std::uint8_t one = 0;
    tiny.setImage(GrayBuf(&one, 1, 1));
    c = tiny.blobCentre(0, 0);
    EXPECT_EQ(c.x, -1.0);
    EXPECT_EQ(c.y, -1.0);

    SymbolDetector empty;
    empty.setImage(GrayBuf());
    c = empty.blobCentre(3, 3);
    EXPECT_EQ(c.x, 0.0);
    EXPECT_EQ(c.y, 0.0);
    EXPECT_FALSE(SymbolDetectorTestPeer::work(empty));
}

// The blob centre against a plain pixel flood fill: the seed's window
// (a sixth of the frame's shorter side each way) split at the middle of
// the extremes of a square a quarter that size round the seed, and the
// seed's 4-connected class inside the window's interior. Frames of many
// widths put the interior's end anywhere in a word.
TEST(BlobCentre, IsThePixelFloodFillOfTheSeedsClass) {
    std::mt19937 rng(7);
    SymbolDetector d;  // reused, as an engine reuses it: nothing of one frame may leak into the next
    for (int trial = 0; trial < 60; ++trial) {
        const int w = 13 + static_cast<int>(rng() % 700), h = 13 + static_cast<int>(rng() % 500);
        // Noise round a level that drifts across the frame, so that
        // regions of either class percolate or break up.
        std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h));
        std::normal_distribution<double> noise(0.0, 10.0 + static_cast<double>(rng() % 60));
        const double tilt = static_cast<double>(rng() % 100) / 100.0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                px[static_cast<std::size_t>(y * w + x)] =
                    static_cast<std::uint8_t>(std::clamp(100.0 + tilt * 60.0 * x / w + noise(rng), 0.0, 255.0));
        const int r = std::min((w - 1) / 6, (h - 1) / 6);
        const int sx = static_cast<int>(rng() % static_cast<unsigned>(w)), sy = static_cast<int>(rng() % static_cast<unsigned>(h));
        const int x0 = std::clamp(sx - r, 0, w - 1), x1 = std::clamp(sx + r, 0, w - 1);
        const int y0 = std::clamp(sy - r, 0, h - 1), y1 = std::clamp(sy + r, 0, h - 1);
        if (!(x0 < sx && sx < x1 && y0 < sy && sy < y1)) continue;
        int lo = 255, hi = 0;
        const int q = r / 4;
        for (int y = std::max(sy - q, 0); y <= std::min(sy + q, h - 1); ++y)
            for (int x = std::max(sx - q, 0); x <= std::min(sx + q, w - 1); ++x) {
                lo = std::min<int>(lo, px[static_cast<std::size_t>(y * w + x)]);
                hi = std::max<int>(hi, px[static_cast<std::size_t>(y * w + x)]);
            }
        const int middle = (lo + hi) / 2;
        auto light = [&](int x, int y) { return px[static_cast<std::size_t>(y * w + x)] >= middle; };
        std::vector<char> seen(px.size(), 0);
        std::vector<std::pair<int, int>> todo{{sx, sy}};
        seen[static_cast<std::size_t>(sy * w + sx)] = 1;
        double n = 0, sumX = 0, sumY = 0;
        while (!todo.empty()) {
            const auto [x, y] = todo.back();
            todo.pop_back();
            n += 1;
            sumX += x;
            sumY += y;
            for (const auto& [nx, ny] : {std::pair{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}}) {
                if (nx <= x0 || nx >= x1 || ny <= y0 || ny >= y1 || light(nx, ny) != light(sx, sy)) continue;
                if (!seen[static_cast<std::size_t>(ny * w + nx)]++) todo.push_back({nx, ny});
            }
        }
        d.setImage(GrayBuf(px.data(), w, h));
        const Point2d c = d.blobCentre(sx, sy);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " frame " << w << "x" << h << " seed " << sx << "," << sy);
        EXPECT_NEAR(c.x, sumX / n, 1e-9);
        EXPECT_NEAR(c.y, sumY / n, 1e-9);
    }
}

TEST(BlobCentre, UniformWindowFillsItsInterior) {
    std::vector<std::uint8_t> px(120 * 90, 77);
    SymbolDetector d;
    d.setImage(GrayBuf(px.data(), 120, 90));
    const Point2d c = d.blobCentre(60, 45);  // r = 14: window 46..74 x 31..59
    EXPECT_DOUBLE_EQ(c.x, 60.0);
    EXPECT_DOUBLE_EQ(c.y, 45.0);
    const auto& work = SymbolDetectorTestPeer::work(d);
    // Quantised light; the fill keeps its visits to itself.
    EXPECT_EQ(work->plane.get(60, 45), 255);
    EXPECT_EQ(work->plane.get(46, 45), 255);
}

TEST(Bullseye, HeadOnFullRangeAndCompact) {
    struct Case { int outer; bool fullRange; int ring; };
    for (const Case& c : {Case{6, true, 5}, Case{4, false, 3}}) {
        SymbolDetector d;
        d.setImage(drawBullseye(400, 400, c.outer));
        SymbolCandidate cand;
        cand.centre = d.blobCentre(200, 200);
        ASSERT_TRUE(d.checkBullseye(cand, c.fullRange)) << c.outer;
        // Outer corners of the outermost light ring, TL, TR, BR, BL.
        const double lo = 195 - 10 * c.ring, hi = 204 + 10 * c.ring;
        const Point2d want[4] = {{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}};
        expectCorners(cand, want, 1.0);
        // The ring keeps its marks for the corner refinement.
        EXPECT_EQ(SymbolDetectorTestPeer::work(d)->plane.get(static_cast<int>(lo) + 3, 200), 150);
    }
}

TEST(Bullseye, RefusedShapes) {
    // Stretched 2.5 times wider than high.
    SymbolDetector d;
    d.setImage(drawBullseye(500, 400, 6, 10, 4, 245, 198));
    SymbolCandidate cand;
    cand.centre = d.blobCentre(250, 200);
    EXPECT_FALSE(d.checkBullseye(cand, true));
    EXPECT_EQ(cand.corners[0].x, -1.0);
    EXPECT_EQ(cand.corners[3].y, -1.0);
    // A probe that lands on a dark pixel: the centre of a plain dark square.
    std::vector<std::uint8_t> px(200 * 200, kLight);
    for (int y = 60; y < 140; ++y)
        for (int x = 60; x < 140; ++x) px[static_cast<std::size_t>(y * 200 + x)] = kDark;
    SymbolDetector square;
    square.setImage(GrayBuf(px.data(), 200, 200));
    cand = {};
    cand.centre = square.blobCentre(100, 100);
    EXPECT_FALSE(square.checkBullseye(cand, true));
    EXPECT_FALSE(square.checkBullseye(cand, false));
    // No working image yet.
    SymbolDetector fresh;
    EXPECT_FALSE(fresh.checkBullseye(cand, false));
}

// The ring fill takes short runs sixteen pixels at a time; it must mark,
// sum and find the same corners as its pixel walk, in the walk's order, on
// noise of every density (older marks among it), at the image's edges and
// with windows past them.
TEST(Bullseye, RingFillByRunsIsThePixelWalk) {
    std::mt19937 rng(99);
    const std::uint8_t levels[] = {0, 120, 140, 150, 255};
    int filled = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const int w = 1 + static_cast<int>(rng() % 90), h = 1 + static_cast<int>(rng() % 60);
        std::bernoulli_distribution light(0.3 + 0.6 * (trial % 7) / 6.0);
        std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h));
        for (auto& p : px) p = light(rng) ? levels[2 + rng() % 3] : levels[rng() % 2];
        const GrayBuf work(px.data(), w, h);
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n + 20)) - 10; };
        const int cx = pick(w), cy = pick(h), r = 1 + static_cast<int>(rng() % 40);
        const int x0 = std::clamp(cx - r, 0, w), x1 = std::clamp(cx + r, 0, w);
        const int y0 = std::clamp(cy - r, 0, h), y1 = std::clamp(cy + r, 0, h);
        const int sx = cx + pick(2 * r) - r, sy = cy + pick(2 * r) - r;
        const auto byRuns = SymbolDetectorTestPeer::ringFill(work, sx, sy, cx, cy, x0, x1, y0, y1, false);
        const auto byPixel = SymbolDetectorTestPeer::ringFill(work, sx, sy, cx, cy, x0, x1, y0, y1, true);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " image " << w << "x" << h << " probe " << sx << "," << sy);
        EXPECT_EQ(byRuns.count, byPixel.count);
        EXPECT_EQ(byRuns.sumX, byPixel.sumX);
        EXPECT_EQ(byRuns.sumY, byPixel.sumY);
        EXPECT_EQ(byRuns.corners, byPixel.corners);
        EXPECT_TRUE(byRuns.pixels == byPixel.pixels);
        if (byPixel.count > 20) ++filled;
    }
    EXPECT_GT(filled, 60);
}

TEST(RefineCorners, AxisAlignedCompactRing) {
    SymbolDetector d;
    std::vector<std::uint8_t> px(400 * 400, 255);
    auto& work = SymbolDetectorTestPeer::work(d);
    work = std::make_shared<GrayBuf>(px.data(), 400, 400);
    // Ring 3 of a bull's-eye whose centre module covers 195 ... 204.
    for (int y = 165; y <= 234; ++y) {
        for (int x = 165; x <= 234; ++x) {
            if (std::max(std::abs(x - 199.5), std::abs(y - 199.5)) > 25) work->set(x, y, 150);
        }
    }
    SymbolDetectorTestPeer::setWindow(d, 160, 240, 160, 240);
    SymbolCandidate cand;
    const Point2d rough[4] = {{167, 171}, {232, 168}, {231, 232}, {168, 227}};
    for (int k = 0; k < 4; ++k) cand.corners[k] = rough[k];
    d.refineCorners(cand);
    const Point2d want[4] = {{169.5, 169.5}, {229.5, 169.5}, {229.5, 229.5}, {169.5, 229.5}};
    expectCorners(cand, want, 0.5);
}

TEST(ModeRing, BinariseAtAFractionOfTheRange) {
    std::vector<std::uint32_t> samples(40, 100);
    samples[3] = 10;
    samples[7] = 200;
    Aztec::BitList bits(40);
    binariseRing(samples, bits, 0.5f);  // threshold 105
    for (int i = 0; i < 40; ++i) EXPECT_EQ(bits.get(i), i != 7) << i;
    binariseRing(samples, bits, 0.9f);  // threshold 181
    EXPECT_TRUE(bits.get(0));
    binariseRing(samples, bits, 0.1f);  // threshold 29
    EXPECT_FALSE(bits.get(0));
    EXPECT_TRUE(bits.get(3));
    // An off-image sample lifts the threshold above every grey value.
    samples[7] = SymbolDetector::kOffImage;
    binariseRing(samples, bits, 0.5f);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(bits.get(i), i != 7) << i;
    samples[7] = 200;
    samples[8] = 104;
    samples[9] = 105;
    binariseRing(samples, bits, 0.5f);
    EXPECT_TRUE(bits.get(8));
    EXPECT_FALSE(bits.get(9));
    Aztec::BitList untouched(4);
    binariseRing({}, untouched, 0.5f);
    EXPECT_FALSE(untouched.get(0));
}

// A libzint symbol drawn axis-aligned with 10-pixel modules; corners set
// from the drawing. Every view must read its own orientation from the ring.
TEST(ModeRing, ReadsTheRingOfDrawnSymbolsInEveryView) {
    for (int size : {1, 3, 6}) {
        quarrow_test::ModuleGrid g;
        ASSERT_TRUE(quarrow_test::encodeAztec("RING " + std::to_string(size), {.size = size}, g));
        for (int turns = 0; turns < 4; ++turns) {
            for (bool mirror : {false, true}) {
                const auto view = quarrow_test::transformGrid(g, turns, mirror);
                SymbolCandidate want;
                want.type = quarrow_test::bullseyeType(view);
                ASSERT_TRUE(Aztec::decodeModeMessage(want, quarrow_test::ringBits(view, want.type)));
                quarrow_test::RenderOptions o;
                o.width = 400;
                o.height = 400;
                o.moduleSize = 10;
                const auto frame = quarrow_test::renderSymbol(view, o);
                SymbolDetector d;
                d.setImage(GrayBuf(frame.pixels.data(), frame.width, frame.height));
                SymbolCandidate cand;
                cand.type = want.type;
                const int r = want.type == SymbolType::Compact ? 3 : 5;
                const double c = (view.size - 1) / 2.0 + 0.5;
                const int su[4] = {-1, 1, 1, -1}, sv[4] = {-1, -1, 1, 1};
                for (int k = 0; k < 4; ++k) {
                    const auto p = quarrow_test::gridToFrame(o, view.size, c + su[k] * r, c + sv[k] * r);
                    cand.corners[k] = {p.x - 0.5, p.y - 0.5};
                }
                ASSERT_TRUE(d.readModeRing(cand, 1.0)) << size << " " << turns << " " << mirror;
                EXPECT_EQ(cand.rotation, want.rotation);
                EXPECT_EQ(cand.mirrored, mirror);
                EXPECT_EQ(cand.layers, want.layers);
                EXPECT_EQ(cand.dataWords, want.dataWords);
                // Ten per cent too far out the ring is missed.
                SymbolCandidate far = cand;
                far.layers = 0;
                EXPECT_FALSE(d.readModeRing(far, 1.25) && far.layers == want.layers && far.dataWords == want.dataWords &&
                             far.rotation == want.rotation);
            }
        }
    }
}

TEST(ModuleSampler, AveragesFiveSamplesAndCountsOffImageAsLight) {
    std::vector<std::uint8_t> px(50 * 40, 80);
    px[10 * 50 + 20] = 180;
    SymbolDetector d;
    d.setImage(GrayBuf(px.data(), 50, 40));
    d.setHomography({0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}, {10, 0}, {10, 10}, {0, 10});
    EXPECT_EQ(d.sampleModuleCoarse(5, 5), 80u);
    // Points round to the nearest pixel: all five land on (20, 10).
    EXPECT_EQ(d.sampleModuleFine(20, 10), 180u);
    EXPECT_EQ(d.sampleModuleCoarse(20.2, 9.8), 180u);
    // (20.3 + 0.25, 10) rounds to pixel 21, the other four to (20, 10).
    EXPECT_EQ(d.sampleModuleCoarse(20.3, 10), (4 * 180u + 80u) / 5);
    EXPECT_EQ(d.sampleModuleFine(20.45, 10), (4 * 180u + 80u) / 5);
    EXPECT_GE(d.sampleModuleCoarse(-0.3, 5), 199999999u);
    EXPECT_EQ(d.sampleModuleCoarse(-10, -10), 141006539u);
}

TEST(FindCandidates, OneCandidateAtTheImageCentre) {
    struct Case { int w, h; double x, y; };
    for (const Case& c : {Case{640, 480, 320.0, 240.0}, Case{641, 481, 320.5, 240.5}}) {
        std::vector<std::uint8_t> px(static_cast<std::size_t>(c.w * c.h), 0);
        SymbolDetector d;
        d.setImage(GrayBuf(px.data(), c.w, c.h));
        const auto list = d.findCandidates();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0]->centre.x, c.x);
        EXPECT_EQ(list[0]->centre.y, c.y);
        EXPECT_EQ(list[0]->type, SymbolType::None);
        EXPECT_EQ(list[0]->layers, 0);
    }
}

TEST(LineSearch, AlternationScore) {
    std::vector<std::int32_t> clean(81);
    for (int k = 0; k < 81; ++k) clean[static_cast<std::size_t>(k)] = (k / 5) % 2 ? 220 : 30;
    EXPECT_EQ(alternationScore(clean), 0);
    // Shifted by two samples it is still clean at another phase.
    std::vector<std::int32_t> shifted(81);
    for (int k = 0; k < 81; ++k) shifted[static_cast<std::size_t>(k)] = ((k + 2) / 5) % 2 ? 220 : 30;
    EXPECT_EQ(alternationScore(shifted), 0);
    // One module wrong costs a break at every phase.
    auto broken = clean;
    for (int k = 40; k < 45; ++k) broken[static_cast<std::size_t>(k)] = 250 - broken[static_cast<std::size_t>(k)];
    EXPECT_EQ(alternationScore(broken), 1);
    // Too little contrast: a span of 31 levels scores -1, 32 does not.
    auto flat = clean;
    for (auto& v : flat) v = v == 30 ? 100 : 131;
    EXPECT_EQ(alternationScore(flat), -1);
    for (auto& v : flat) v = v == 100 ? 100 : 132;
    EXPECT_EQ(alternationScore(flat), 0);
    // A solid run through data modules scores high.
    std::vector<std::int32_t> solid(81, 30);
    for (int k = 60; k < 81; ++k) solid[static_cast<std::size_t>(k)] = 220;
    EXPECT_GT(alternationScore(solid), 5);
}

TEST(LineSearch, BestRunCentre) {
    std::vector<std::int32_t> s(19, 50);
    const std::int32_t dip[5] = {3, 0, 0, 0, 2};
    for (int i = 0; i < 5; ++i) s[static_cast<std::size_t>(7 + i)] = dip[i];
    EXPECT_EQ(bestRunCentre(s), 9.0);
    // Two runs: each run's sum starts afresh, so the better first one wins.
    std::vector<std::int32_t> two(19, 50);
    for (int i = 0; i < 5; ++i) two[static_cast<std::size_t>(i)] = 0;
    for (int i = 10; i < 15; ++i) two[static_cast<std::size_t>(i)] = 5;
    EXPECT_EQ(bestRunCentre(two), 2.0);
    // Equal runs: the first stays.
    std::vector<std::int32_t> equal(19, 50);
    for (int i : {1, 2, 3, 4, 5, 11, 12, 13, 14, 15}) equal[static_cast<std::size_t>(i)] = 0;
    EXPECT_EQ(bestRunCentre(equal), 3.0);
    // An even run is centred halfway between two offsets.
    std::vector<std::int32_t> even(19, 50);
    for (int i = 4; i < 8; ++i) even[static_cast<std::size_t>(i)] = 0;
    EXPECT_EQ(bestRunCentre(even), 5.5);
    // Negative scores break runs and do not count.
    std::vector<std::int32_t> none(19, -1);
    EXPECT_EQ(bestRunCentre(none), 0.0);
    EXPECT_EQ(bestRunCentre({7}), 0.0);
}

TEST(IsDarkModule, WindowsAtTheBordersAndOffImageSamples) {
    std::vector<std::vector<std::uint32_t>> a(16, std::vector<std::uint32_t>(16, 100));
    a[0][0] = 120;
    a[7][0] = 200;  // inside the border window of p = 0
    EXPECT_TRUE(isDarkModule(a, 0, 0));  // 120 < (100 + 200) / 2
    a[7][0] = 100;
    a[8][0] = 200;  // outside it
    EXPECT_FALSE(isDarkModule(a, 0, 0));
    // At the far border rows N - 8 ... N - 1 count, the module included.
    a[15][15] = 120;
    a[8][15] = 220;
    EXPECT_TRUE(isDarkModule(a, 15, 15));
    // Inside, only p - 2 ... p + 2.
    a[8][8] = 110;
    a[8][11] = 300 - 100;  // q + 3: not in the window
    EXPECT_FALSE(isDarkModule(a, 8, 8));
    a[10][10] = 200;  // p + 2, q + 2
    EXPECT_TRUE(isDarkModule(a, 8, 8));
    // Off-image neighbours are left out of the range (they would lift the
    // mid-level above every grey value); an off-image module is light.
    std::vector<std::vector<std::uint32_t>> b(16, std::vector<std::uint32_t>(16, 245));
    b[5][5] = 250;
    b[5][6] = 240;
    b[6][5] = SymbolDetector::kOffImage;
    EXPECT_FALSE(isDarkModule(b, 5, 5));
    EXPECT_TRUE(isDarkModule(b, 5, 6));
    EXPECT_FALSE(isDarkModule(b, 6, 5));
}

}  // namespace

namespace {
TEST(SeedAttempt, FailedFullRangeModeRingKeepsTheFullRangeType) {
    // A full-range bull's-eye whose mode ring does not decode is tried as
    // compact too (its inner rings pass that test); when that fails as
    // well, the candidate still tells of the full-range bull's-eye.
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        quarrow_test::RenderOptions o;
        o.moduleSize = 6;
        const quarrow_test::Frame f = quarrow_test::renderSymbol(quarrow_test::loneBullseyeGrid(true, 27, seed), o);
        SymbolDetector d;
        d.setImage(GrayBuf(f.pixels.data(), f.width, f.height));
        SymbolCandidate cand;
        EXPECT_FALSE(SymbolDetectorTestPeer::attemptSeed(d, cand, f.width / 2, f.height / 2));
        EXPECT_EQ(cand.type, SymbolType::FullRange) << seed;
        EXPECT_EQ(cand.layers, 0);
        EXPECT_NE(cand.corners[0].x, -1.0);  // the full-range ring's corners
    }
}
}  // namespace
