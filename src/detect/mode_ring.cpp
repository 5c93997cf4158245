// From a confirmed bull's-eye to a decoded mode message: straight lines are
// fitted through the marked pixels of the outermost light ring (one per
// side) and their crossings become the refined corners; a perspective
// transform fitted to those corners then samples the ring of modules just
// outside the bull's-eye, which is binarised at up to eleven thresholds
// until its orientation marks and mode message decode.
#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decode/mode_message.h"
#include "detect/symbol_detector.h"

namespace AztecCore {

namespace {
constexpr std::uint8_t kRingMark = 150;
constexpr double kSideEpsilon = 0.0001;
constexpr double kParallelEpsilon = 1e-6;
constexpr float kThresholdFractions[] = {0.5f, 0.45f, 0.55f, 0.4f, 0.6f, 0.3f, 0.7f, 0.2f, 0.8f, 0.1f, 0.9f};

// Chebyshev distance of the corner ring and of the mode ring from the centre.
constexpr int kCompactCornerRing = 3, kCompactModeRing = 5;
constexpr int kFullRangeCornerRing = 5, kFullRangeModeRing = 7;

struct Sums {
    std::int64_t n = 0, x = 0, y = 0, xx = 0, yy = 0, xy = 0;
};

struct Line {
    double a, b, c;  // a x + b y + c = 0
};

Line through(double p, double q, double r, double s) {
    Line l;
    l.a = s - q;
    l.b = p - r;
    l.c = -(l.a * p + l.b * q);
    return l;
}

// Least-squares line through a side's pixels: x = a y + b when the side is
// steep, y = a x + b otherwise.
Line fitSide(const Sums& s, const Point2d& from, const Point2d& to) {
    const bool steep = std::fabs(to.y - from.y) > std::fabs(to.x - from.x);
    if (steep) {
        const auto det = static_cast<double>(s.n * s.yy - s.y * s.y);
        const double a = static_cast<double>(s.n * s.xy - s.x * s.y) / det;
        const double b = static_cast<double>(s.x * s.yy - s.y * s.xy) / det;
        return through(b, 0.0, a + b, 1.0);
    }
    const auto det = static_cast<double>(s.n * s.xx - s.x * s.x);
    const double a = static_cast<double>(s.n * s.xy - s.x * s.y) / det;
    const double b = static_cast<double>(s.y * s.xx - s.x * s.xy) / det;
    return through(0.0, b, 1.0, a + b);
}

Point2d intersect(const Line& l1, const Line& l2) {
    double det = l1.a * l2.b - l2.a * l1.b;
    if (det > -kParallelEpsilon && det < kParallelEpsilon) det = det >= 0 ? kParallelEpsilon : -kParallelEpsilon;
    return {(l1.b * l2.c - l2.b * l1.c) / det, (l1.c * l2.a - l2.c * l1.a) / det};
}

int sign(double d) { return d < -kSideEpsilon ? -1 : d > kSideEpsilon ? 1 : 0; }
}  // namespace

void SymbolDetector::refineCorners(SymbolCandidate& cand) {
    if (!work_) return;
    const Point2d p0 = cand.corners[0], p1 = cand.corners[1], p2 = cand.corners[2], p3 = cand.corners[3];
    // Which side of each diagonal a pixel lies on picks its side.
    const auto belowA = [&](std::int32_t x, std::int32_t y) {
        return sign((x - p0.x) * (p2.y - p0.y) - (y - p0.y) * (p2.x - p0.x)) < 0;
    };
    const auto belowB = [&](std::int32_t x, std::int32_t y) {
        return sign((x - p3.x) * (p1.y - p3.y) - (y - p3.y) * (p1.x - p3.x)) < 0;
    };
    // Along a row each test is monotone in x (its cross product is linear
    // in x, and rounding keeps the order), so it flips at most once: at
    // the first x whose answer differs from the row's first pixel's, found
    // by halving. A flip past the row's end is x1 + 1.
    const auto flipOf = [](auto&& below, std::int32_t from, std::int32_t to, std::int32_t y) {
        const bool first = below(from, y);
        if (below(to, y) == first) return to + 1;
        std::int32_t lo = from, hi = to;  // below(lo) == first, below(hi) != first
        while (hi - lo > 1) {
            const std::int32_t mid = lo + (hi - lo) / 2;
            (below(mid, y) == first ? lo : hi) = mid;
        }
        return hi;
    };
    // Indexed by belowA * 2 + belowB.
    Sums sides[4];
    // The window's marked pixels, clipped to the image (the sums do not
    // depend on the order they are met in). A row's pixels are summed by x
    // alone, and its y enters once per side at the row's end.
    const std::int32_t x0 = std::max(xMin_, 0), x1 = std::min(xMax_, work_->width() - 1);
    const std::int32_t y0 = std::max(yMin_, 0), y1 = std::min(yMax_, work_->height() - 1);
    const auto stride = static_cast<std::ptrdiff_t>(work_->plane.stride);
    for (std::int32_t y = y0; y <= y1 && x0 <= x1; ++y) {
        const std::uint8_t* const row = work_->plane.pixels.data() + stride * y;
        // The row falls into up to three spans between the flips, each
        // wholly on one side; a span's sums are kept in registers and
        // handed to its side when the span ends.
        const std::int32_t flipA = flipOf(belowA, x0, x1, y), flipB = flipOf(belowB, x0, x1, y);
        const std::int32_t ends[3] = {std::min(flipA, flipB), std::max(flipA, flipB), x1 + 1};
        int span = 0;
        std::int64_t n = 0, sx = 0, sxx = 0;
        const auto close = [&] {
            if (n != 0) {
                const std::int32_t start = span == 0 ? x0 : ends[span - 1];
                Sums& s = sides[(belowA(start, y) ? 2 : 0) + (belowB(start, y) ? 1 : 0)];
                s.n += n;
                s.x += sx;
                s.xx += sxx;
                s.y += y * n;
                s.yy += static_cast<std::int64_t>(y) * y * n;
                s.xy += y * sx;
            }
            n = sx = sxx = 0;
            ++span;
        };
        const auto add = [&](std::int64_t x) {
            while (x >= ends[span]) close();
            ++n;
            sx += x;
            sxx += x * x;
        };
        std::int32_t x = x0;
#if defined(__SSE2__)
        const __m128i mark = _mm_set1_epi8(static_cast<char>(kRingMark));
        for (; x + 16 <= x1 + 1; x += 16) {
            auto hits = static_cast<std::uint32_t>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)), mark)));
            for (; hits != 0; hits &= hits - 1) add(x + __builtin_ctz(hits));
        }
#endif
        for (; x <= x1; ++x)
            if (row[x] == kRingMark) add(x);
        close();
    }
    const Sums &bottom = sides[3], &left = sides[2], &right = sides[1], &top = sides[0];
    const Line lb = fitSide(bottom, p3, p2), ll = fitSide(left, p0, p3);
    const Line lr = fitSide(right, p1, p2), lt = fitSide(top, p0, p1);
    cand.corners[3] = intersect(lb, ll);
    cand.corners[2] = intersect(lb, lr);
    cand.corners[0] = intersect(lt, ll);
    cand.corners[1] = intersect(lt, lr);
}

namespace {
// The split at fraction t between the samples' extremes lo and hi.
void binariseBetween(const std::vector<std::uint32_t>& samples, Aztec::BitList& bits, float t, std::uint32_t lo,
                     std::uint32_t hi) {
    const double td = static_cast<double>(t);
    const auto threshold = static_cast<std::uint32_t>(static_cast<double>(lo) * (1.0 - td) + static_cast<double>(hi) * td);
    if (samples.size() <= 64 && bits.size() >= samples.size()) {
        // A mode ring's 40 or 56 bits gathered in a register, stored once.
        std::uint64_t word = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) word |= static_cast<std::uint64_t>(samples[i] < threshold) << i;
        bits.setBits(0, word, samples.size());
        return;
    }
    for (std::size_t i = 0; i < samples.size(); ++i) bits.set(static_cast<std::int64_t>(i), samples[i] < threshold);
}
}  // namespace

void binariseRing(const std::vector<std::uint32_t>& samples, Aztec::BitList& bits, float t) {
    if (samples.empty()) return;
    const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
    binariseBetween(samples, bits, t, *lo, *hi);
}

void SymbolDetector::fitModeRing(const SymbolCandidate& cand) {
    const int d = cand.type == SymbolType::Compact ? kCompactCornerRing : kFullRangeCornerRing;
    setHomography({-1.0 * d, -1.0 * d}, {1.0 * d, -1.0 * d}, {1.0 * d, 1.0 * d}, {-1.0 * d, 1.0 * d}, cand.corners[0],
                  cand.corners[1], cand.corners[2], cand.corners[3]);
}

bool SymbolDetector::readModeRing(SymbolCandidate& cand, double scale) {
    fitModeRing(cand);
    return readFittedModeRing(cand, scale);
}

bool SymbolDetector::readFittedModeRing(SymbolCandidate& cand, double scale) {
    const bool compact = cand.type == SymbolType::Compact;
    const int h = compact ? kCompactModeRing : kFullRangeModeRing;
    const int len = 2 * h;

    // Clockwise from the corner module (-h, -h), each side from its first corner.
    std::vector<std::uint32_t>& samples = ringSamples_;
    samples.assign(static_cast<std::size_t>(4 * len), 0);
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < len; ++i) {
            double u = 0, v = 0;
            switch (k) {
                case 0: u = -h + i; v = -h; break;
                case 1: u = h; v = -h + i; break;
                case 2: u = h - i; v = h; break;
                default: u = -h; v = h - i; break;
            }
            samples[static_cast<std::size_t>(k * len + i)] = mappedSample(u * scale, v * scale);
        }
    }
    Aztec::BitList& bits = ringBits_;
    bits.reset(samples.size());
    const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
    for (float t : kThresholdFractions) {
        binariseBetween(samples, bits, t, *lo, *hi);
        if (Aztec::decodeModeMessage(cand, bits, extended_)) return true;
    }
    return false;
}

}  // namespace AztecCore
