// Bull's-eye verification. An Aztec finder is a dark centre module in
// concentric square rings one module wide, alternately light and dark: six
// rings round a full-range symbol, four round a compact one. Counting the
// light/dark changes outwards from the centre along the row and column
// finds the outermost dark ring; a probe then lands in the light ring just
// inside it, which is flooded and must be centred and square.
#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "detect/symbol_detector.h"

namespace AztecCore {

namespace {
constexpr int kFullRangeChanges = 6;
constexpr int kCompactChanges = 4;
// The probe lands (N - 0.5) * s modules out: 5 (full-range) or 3 (compact),
// the middle of the outermost light ring.
constexpr double kFullRangeProbeScale = 10.0 / 11.0;
constexpr double kCompactProbeScale = 6.0 / 7.0;
constexpr double kMinRatio = 0.5;
constexpr double kMaxRatio = 2.0;
constexpr double kWindowFactor = 1.5;
constexpr double kCentroidDivisor = 5.0;
constexpr double kDegenerate = 1e-6;

bool inRatio(double r) { return r >= kMinRatio && r <= kMaxRatio; }  // NaN fails

double dist(const PixelPoint& a, const PixelPoint& b) {
    const double dx = static_cast<double>(a.x) - b.x, dy = static_cast<double>(a.y) - b.y;
    return std::sqrt(dx * dx + dy * dy);
}
}  // namespace

bool SymbolDetector::checkBullseye(SymbolCandidate& cand, bool fullRange) {
    for (auto& c : cand.corners) c = {-1.0, -1.0};
    if (!work_) return false;
    const auto cx = static_cast<std::int32_t>(cand.centre.x);
    const auto cy = static_cast<std::int32_t>(cand.centre.y);
    const std::int32_t w = work_->width(), h = work_->height();
    const int n = fullRange ? kFullRangeChanges : kCompactChanges;
    const double s = fullRange ? kFullRangeProbeScale : kCompactProbeScale;

    // Change scans outwards; each ends at the n-th change. Each pixel's
    // class is read once (off-image pixels are light).
    std::int32_t xL = 0, xR = w - 1, yT = 0, yB = h - 1;
    bool foundL = false, foundR = false, foundT = false, foundB = false;
    {
        const std::uint8_t* const pixels = work_->plane.pixels.data();
        const auto stride = static_cast<std::ptrdiff_t>(work_->plane.stride);
        const auto uw = static_cast<std::uint32_t>(w), uh = static_cast<std::uint32_t>(h);
        const bool rowInside = static_cast<std::uint32_t>(cy) < uh, columnInside = static_cast<std::uint32_t>(cx) < uw;
        const std::uint8_t* const row = rowInside ? pixels + stride * cy : nullptr;
        auto darkX = [&](std::int32_t x) { return rowInside && static_cast<std::uint32_t>(x) < uw && row[x] < kDarkBelow; };
        auto darkY = [&](std::int32_t y) {
            return columnInside && static_cast<std::uint32_t>(y) < uh && pixels[stride * y + cx] < kDarkBelow;
        };
        // Walks from `start` by `step` while strictly before `end` (left
        // and up stop short of 0), putting the n-th change of class at `at`.
        auto nthChange = [n](auto dark, std::int32_t start, std::int32_t step, std::int32_t end, std::int32_t& at) {
            bool prev = dark(start);
            for (std::int32_t p = start + step, c = 0; step < 0 ? p > end : p < end; p += step) {
                const bool cur = dark(p);
                if (cur != prev && ++c == n) {
                    at = p;
                    return true;
                }
                prev = cur;
            }
            return false;
        };
        foundL = nthChange(darkX, cx, -1, 0, xL);
        foundR = nthChange(darkX, cx, 1, w, xR);
        foundT = nthChange(darkY, cy, -1, 0, yT);
        foundB = nthChange(darkY, cy, 1, h, yB);
    }
    // A scan that reached the border without its n changes saw no ring
    // there. Taking the border for the ring would let a blank frame pass
    // every later test (its "ring" is the whole window).
    // Pixels beyond the seed's quantised window hold what earlier seeds left.
    if (xL < quantX0_ || xR >= quantX1_ || yT < quantY0_ || yB >= quantY1_) windowOutrun_ = true;
    if (!foundL || !foundR || !foundT || !foundB) return false;
    if (!inRatio(static_cast<double>(xR - xL) / static_cast<double>(yB - yT))) return false;

    // Probe along the better centred of the two runs.
    const double ax = std::pow(2.0 * cx - xR - xL, 2.0);
    const double ay = std::pow(2.0 * cy - yB - yT, 2.0);
    double dx = 0.0, dy = 0.0;
    if (ax > ay) {
        dy = cy - yT;
    } else {
        dx = cx - xL;
    }
    const std::int32_t px = cx - static_cast<std::int32_t>(dx * s);
    const std::int32_t py = cy - static_cast<std::int32_t>(dy * s);
    if (px >= 0 && py >= 0 && px < w && py < h && workDark(px, py)) return false;

    // Flood the light ring inside a window round the centre.
    const auto radius = static_cast<std::int32_t>(
        kWindowFactor * std::sqrt(std::pow(static_cast<double>(cy - py), 2.0) + std::pow(static_cast<double>(cx - px), 2.0)));
    sumX_ = sumY_ = 0;
    count_ = 0;
    ringCentre_ = {cx, cy};
    xMin_ = std::clamp(cx - radius, 0, w);
    xMax_ = std::clamp(cx + radius, 0, w);
    yMin_ = std::clamp(cy - radius, 0, h);
    yMax_ = std::clamp(cy + radius, 0, h);
    maxCount_ = (yMax_ - yMin_) * (xMax_ - xMin_);
    if (xMin_ < quantX0_ || xMax_ > quantX1_ || yMin_ < quantY0_ || yMax_ > quantY1_) windowOutrun_ = true;
    touch(xMin_, yMin_, xMax_ + 1, yMax_ + 1);
    clearSeeds();
    for (int q = 0; q < 4; ++q) {
        quadrantCorner_[q] = {0, 0};
        quadrantDist2_[q] = 0;
    }
    ringFillRan_ = true;
    markedX0_ = markedY0_ = std::numeric_limits<std::int32_t>::max();
    markedX1_ = markedY1_ = std::numeric_limits<std::int32_t>::min();
    try {
        fillFrom(px, py, FillKind::Ring);
    } catch (const std::exception&) {
        count_ = 0;
    }
    if (count_ == 0) return false;

    const double mx = static_cast<double>(sumX_) / count_, my = static_cast<double>(sumY_) / count_;
    if (std::hypot(mx - cx, my - cy) > (xR - xL) / kCentroidDivisor) return false;

    // The four quadrant extremes must form a plausible square.
    const PixelPoint* q = quadrantCorner_;
    const double sides[4] = {dist(q[0], q[1]), dist(q[1], q[2]), dist(q[2], q[3]), dist(q[3], q[0])};
    const double lo = *std::min_element(sides, sides + 4), hi = *std::max_element(sides, sides + 4);
    if (hi <= kDegenerate || !inRatio(lo / hi)) return false;
    const double diag = dist(q[1], q[3]);
    if (diag <= kDegenerate || !inRatio(dist(q[0], q[2]) / diag)) return false;

    const PixelPoint order[4] = {q[3], q[0], q[1], q[2]};  // TL, TR, BR, BL
    for (int k = 0; k < 4; ++k) cand.corners[k] = {static_cast<double>(order[k].x), static_cast<double>(order[k].y)};
    return true;
}

}  // namespace AztecCore
