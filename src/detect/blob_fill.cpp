// The blob under a seed pixel: a local quantisation of the seed's
// neighbourhood into the working image, then a scanline flood fill
// of the dark or light region that holds the seed. The fills mark what
// they visit (dark 120, light 140, ring 150), which keeps each pixel's
// dark/light class; later stages read only the class and the ring's marks
// (its sides), so the blob fill of a seed inside its window, which keeps
// its own account of what it visited, marks nothing.
#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <exception>
#include <tuple>

#include "detect/bit_region.h"
#include "detect/symbol_detector.h"

namespace AztecCore {

namespace {
constexpr std::uint8_t kMarkDark = 120;
constexpr std::uint8_t kMarkLight = 140;
constexpr std::uint8_t kMarkRing = 150;
// Window half-size r = min(W - 1, H - 1) / 6; thresholds from a square of r / 4.
constexpr std::int32_t kWindowDivisor = 6;
constexpr std::int32_t kThresholdDivisor = 4;

std::uint8_t markOf(int kind) {
    return kind == 0 ? kMarkDark : kind == 1 ? kMarkLight : kMarkRing;
}
}  // namespace

void SymbolDetector::ringMarked(std::int32_t x0, std::int32_t x1, std::int32_t y) {
    markedY0_ = std::min(markedY0_, y);
    markedY1_ = std::max(markedY1_, y + 1);
    markedX0_ = std::min(markedX0_, x0);
    markedX1_ = std::max(markedX1_, x1 + 1);
}

// The farthest filled pixel per quadrant round the ring centre, the first
// found of equals: the outer corners of the ring.
void SymbolDetector::ringCornerCandidate(std::int32_t x, std::int32_t y) {
    const std::int32_t cx = ringCentre_.x, cy = ringCentre_.y;
    const int q = x > cx ? (y <= cy ? 0 : 1) : (y > cy ? 2 : 3);
    const std::int32_t d2 = (cy - y) * (cy - y) + (cx - x) * (cx - x);
    if (d2 > quadrantDist2_[q]) {
        quadrantDist2_[q] = d2;
        quadrantCorner_[q] = {x, y};
    }
}

// The ring fill's run, a run at a time rather than a pixel at a time, for
// a seed on a row of the image; false (nothing done) where the pixel walk
// of fillRun must decide: a seed off the image, left of the window or not
// fillable, a run that starts at or left of the window's edge, or one that
// reaches the fill's pixel limit. It marks, sums and seeds exactly as
// the walk would, in the same order:
// - along the run the distance from the ring centre falls up to the
//   centre's column and rises after it, so the walk's farthest pixel in
//   the run's left quadrant is the run's first pixel, in its right one the
//   last, and each replaces the quadrant's corner only when strictly
//   farther, as the walk's pixel by pixel comparison would;
// - the walk seeds each neighbour row at the run's first pixel and at every
//   later pixel whose left neighbour is not fillable, row y - 1 before
//   y + 1 at each pixel.
bool SymbolDetector::fillRingRun(std::int32_t x, std::int32_t y) {
    const std::int32_t w = work_->width(), h = work_->height();
    if (y < 0 || y >= h || x < 0 || x >= w || x < xMin_) return false;
    const auto stride = static_cast<std::ptrdiff_t>(work_->plane.stride);
    std::uint8_t* const here = work_->plane.pixels.data() + stride * y;
    if (here[x] == kMarkRing) return true;
    if (here[x] < kDarkBelow) return false;
    // Noise makes runs of a few pixels, whose ends a pixel loop would
    // mispredict; sixteen pixels' classes at once find them (a byte's top
    // bit is set exactly when the pixel is fillable).
    auto fillable16 = [](const std::uint8_t* p) {
#if defined(__SSE2__)
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
#else
        std::uint32_t m = 0;
        for (int i = 0; i < 16; ++i) m |= static_cast<std::uint32_t>(p[i] >> 7) << i;
        return m;
#endif
    };
    std::int32_t x0 = x;
    const std::uint32_t before = x >= 15 ? ~fillable16(here + x - 15) & 0xFFFFu : 0;  // bit 15 is x
    if (before != 0) {
        x0 = std::max(x - 15 + (31 - __builtin_clz(before)) + 1, xMin_ + 1);
    } else {
        while (x0 > xMin_ && here[x0] >= kDarkBelow) --x0;
        ++x0;
    }
    // (A seed left of the window starts its run left of it too.)
    if (x0 <= xMin_) return false;
    std::int32_t x1 = x0;
    if (x1 >= xMax_ || here[x1] < kDarkBelow) return false;
    const bool wordFits = x0 + 16 <= w;
    const std::uint32_t after = wordFits ? ~fillable16(here + x0) & 0xFFFFu : 0;  // bit 0 is x0
    if (after != 0) {
        x1 = std::min(x0 + __builtin_ctz(after) - 1, xMax_ - 1);
    } else {
        while (x1 + 1 < xMax_ && here[x1 + 1] >= kDarkBelow) ++x1;
    }
    const std::int32_t n = x1 - x0 + 1;
    if (count_ + n >= maxCount_) return false;

    std::fill(here + x0, here + x1 + 1, kMarkRing);
    ringMarked(x0, x1, y);
    sumX_ += (static_cast<std::int64_t>(x0) + x1) * n / 2;
    sumY_ += static_cast<std::int64_t>(y) * n;
    count_ += n;
    if (x0 <= ringCentre_.x) ringCornerCandidate(x0, y);
    if (x1 > ringCentre_.x) ringCornerCandidate(x1, y);

    // Neighbour rows strictly inside the window are seeded; the others are
    // off the image or outside the window, where no seed is kept.
    const std::uint8_t* up = y - 1 > yMin_ && y - 1 < yMax_ ? here - stride : nullptr;
    const std::uint8_t* down = y + 1 > yMin_ && y + 1 < yMax_ ? here + stride : nullptr;
    if (wordFits && n <= 16) {
        const std::uint32_t run = n == 16 ? 0xFFFFu : (1u << n) - 1;
        const std::uint32_t u = up != nullptr ? fillable16(up + x0) & run : 0;
        const std::uint32_t d = down != nullptr ? fillable16(down + x0) & run : 0;
        const std::uint32_t upStarts = u & ~(u << 1), downStarts = d & ~(d << 1);
        for (std::uint32_t all = upStarts | downStarts; all != 0; all &= all - 1) {
            const int b = __builtin_ctz(all);
            if ((upStarts >> b) & 1u) seeds_.push_back({x0 + b, y - 1});
            if ((downStarts >> b) & 1u) seeds_.push_back({x0 + b, y + 1});
        }
        return true;
    }
    bool upBefore = false, downBefore = false;  // the pixel to the left was fillable
    for (std::int32_t px = x0; px <= x1; ++px) {
        const bool upNow = up != nullptr && up[px] >= kDarkBelow, downNow = down != nullptr && down[px] >= kDarkBelow;
        if (upNow && !upBefore) seeds_.push_back({px, y - 1});
        if (downNow && !downBefore) seeds_.push_back({px, y + 1});
        upBefore = upNow;
        downBefore = downNow;
    }
    return true;
}

void SymbolDetector::fillRun(std::int32_t x, std::int32_t y, FillKind kind) {
    if (kind == FillKind::Ring && !ringRunsByPixel_ && fillRingRun(x, y)) return;
    const std::uint8_t mark = markOf(static_cast<int>(kind));
    const std::int32_t w = work_->width(), h = work_->height();
    // Rows of the working image, checked once each: null for a row outside
    // the image, whose pixels all count as light.
    auto rowOf = [&](std::int32_t ry) -> std::uint8_t* {
        if (ry < 0 || ry >= h || w <= 0) return nullptr;
        const std::size_t start = static_cast<std::size_t>(ry) * static_cast<std::size_t>(work_->plane.stride);
        return &work_->plane.pixels.at(start + static_cast<std::size_t>(w) - 1) - (w - 1);
    };
    auto fillableAt = [&](const std::uint8_t* row, std::int32_t px) {
        const bool inside = row != nullptr && px >= 0 && px < w;
        if (kind == FillKind::Dark) return inside && row[px] < kDarkBelow;
        return !inside || row[px] >= kDarkBelow;
    };
    auto strictlyInside = [this](std::int32_t px, std::int32_t py) {
        return xMin_ < px && px < xMax_ && yMin_ < py && py < yMax_;
    };
    auto push = [&](std::int32_t px, std::int32_t py) {
        if (strictlyInside(px, py)) seeds_.push_back({px, py});
    };
    std::uint8_t* const here = rowOf(y);
    if (here != nullptr && x >= 0 && x < w && here[x] == mark) return;
    while (x > xMin_) {
        if (!fillableAt(here, x)) break;
        --x;
    }
    const std::int32_t x0 = x + 1;
    if (kind != FillKind::Ring && (x0 <= xMin_ + 1 || y <= yMin_ + 1 || y >= yMax_ - 1)) blobReachedEdge_ = true;
    const std::int32_t rows[2] = {y - 1, y + 1};
    const std::uint8_t* const neighbour[2] = {rowOf(y - 1), rowOf(y + 1)};
    bool flag[2] = {true, true};
    for (int r = 0; r < 2; ++r) {
        if (fillableAt(neighbour[r], x0)) {
            flag[r] = false;
            push(x0, rows[r]);
        }
    }
    for (x = x0; x < xMax_; ++x) {
        if (!fillableAt(here, x)) return;
        if (here != nullptr && x >= 0 && x < w) here[x] = mark;
        sumX_ += x;
        sumY_ += y;
        count_ += 1;
        if (kind == FillKind::Ring) {
            ringMarked(x, x, y);
            ringCornerCandidate(x, y);
            if (count_ >= maxCount_) return;
        }
        for (int r = 0; r < 2; ++r) {
            if (fillableAt(neighbour[r], x)) {
                if (flag[r]) {
                    flag[r] = false;
                    push(x, rows[r]);
                }
            } else {
                flag[r] = true;
            }
        }
    }
    if (kind != FillKind::Ring) blobReachedEdge_ = true;  // ran to the window's right edge
}

void SymbolDetector::fillFrom(std::int32_t x, std::int32_t y, FillKind kind) {
    fillRun(x, y, kind);
    // First in, first out: the ring fill's corners depend on the order.
    while (seedHead_ < seeds_.size()) {
        if (kind == FillKind::Ring && count_ >= maxCount_) break;
        const PixelPoint s = seeds_[seedHead_];
        fillRun(s.x, s.y, kind);
        ++seedHead_;
    }
}

void SymbolDetector::touch(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    if (!work_) return;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, work_->width());
    y1 = std::min(y1, work_->height());
    if (x1 <= x0 || y1 <= y0) return;
    const bool empty = touchX1_ <= touchX0_;
    touchX0_ = empty ? x0 : std::min(touchX0_, x0);
    touchY0_ = empty ? y0 : std::min(touchY0_, y0);
    touchX1_ = empty ? x1 : std::max(touchX1_, x1);
    touchY1_ = empty ? y1 : std::max(touchY1_, y1);
}

std::int32_t SymbolDetector::seedRadius() const {
    return std::min((image_.width - 1) / kWindowDivisor, (image_.height - 1) / kWindowDivisor);
}

Point2d SymbolDetector::blobCentre(std::int32_t sx, std::int32_t sy) {
    return blobCentreIn(sx, sy, seedRadius());
}

// The blob fills with the seed strictly inside the window: the blob is then
// the 4-connected region of the seed's class inside the window's interior,
// whatever the order in which its runs are found, so it is filled run by
// run from a stack, with the sums of each run in closed form. (The ring
// fill stops after a number of pixels and tracks extremes, so its order
// matters; it keeps the queue of fillRun.)
//
// The interior is first turned into one bit per pixel, set where the pixel
// can still be filled: freshly quantised, a working pixel is light exactly
// when its top bit is set. A run then ends at the next clear bit (found a
// word at a time), filling it clears its bits, and the seeds for the
// neighbour rows are the starts of the stretches of set bits under it.
// Fine texture and flat ground thus cost per run, not per pixel.
namespace {
constexpr int kWordBits = 64;
// Runs filled one by one before the rest of a blob is grown a row at a
// time (bit_region.h), whose cost goes by the window's area. Noise makes
// blobs of ten thousand runs of two or three pixels, which grow three
// times faster by rows, and shows itself in the first hundred runs (handing
// over at 128 short runs rather than 512 made symbol-free noise 13 % and
// blurred symbols 8 % faster; 16 to 128 were alike); blobs of long runs
// (flat ground, photos) take a few hundred, and are handed over only when
// they grow very large.
constexpr std::int64_t kShortRunsOneByOne = 128;
constexpr std::int64_t kShortRun = 6;  // pixels, on average
constexpr std::int64_t kRunsOneByOne = 2048;

// Bits [lo, hi] of word w (the word holding bits w*64 .. w*64+63), others 0.
std::uint64_t spanMask(std::int32_t w, std::int32_t lo, std::int32_t hi) {
    const std::int32_t first = w * kWordBits;
    const std::int32_t a = std::max(lo - first, 0), b = std::min(hi - first, kWordBits - 1);
    if (a > b) return 0;
    const std::uint64_t upTo = b == kWordBits - 1 ? ~0ull : (1ull << (b + 1)) - 1;
    return upTo & (~0ull << a);
}
}  // namespace

void SymbolDetector::fillBlob(std::int32_t sx, std::int32_t sy) {
    const std::int32_t left = xMin_ + 1, right = xMax_ - 1, top = yMin_ + 1, bottom = yMax_ - 1;
    const std::int32_t width = right - left + 1, rows = bottom - top + 1;
    const std::int32_t words = (width + kWordBits - 1) / kWordBits;
    // The bits hold the seed's class (blobCentreIn).
    auto& bits = fillBits_;
    auto& stack = spanStack_;
    stack.clear();
    stack.push_back({sx, sy});
    std::int64_t sumX = 0, sumY = 0, count = 0, runs = 0;
    bool edge = false;
    while (!stack.empty()) {
        if ((runs >= kShortRunsOneByOne && count < kShortRun * runs) || runs == kRunsOneByOne) {
            // The blob so far is what was of its class (fillClass_) and is
            // filled no longer; its runs are whole, so it is ready to grow
            // through the rest of its class.
            auto& reached = fillReached_;
            reached.resize(bits.size());
            for (std::size_t k = 0; k < bits.size(); ++k) {
                reached[k] = fillClass_[k] & ~bits[k];
                bits[k] = fillClass_[k];
            }
            growRegion(bits.data(), reached.data(), rows, words, growScratch_);
            const RegionSums sums = regionSums(reached.data(), rows, words, width, left, top);
            sumX = sums.sumX;
            sumY = sums.sumY;
            count = sums.count;
            edge = sums.edge;
            break;
        }
        const PixelPoint p = stack.back();
        stack.pop_back();
        std::uint64_t* const row = bits.data() + static_cast<std::ptrdiff_t>(p.y - top) * words;
        const std::int32_t i = p.x - left;
        const std::int32_t wi = i / kWordBits, bi = i % kWordBits;
        if (((row[wi] >> bi) & 1u) == 0) continue;
        // The run: up to the nearest clear bits on either side (the bits
        // past the interior's width are clear, so the right end is found).
        std::int32_t i1 = -1;
        {
            std::uint64_t t = ~row[wi] & (~0ull << bi);
            std::int32_t w = wi;
            while (t == 0 && ++w < words) t = ~row[w];
            i1 = w < words ? w * kWordBits + __builtin_ctzll(t) - 1 : width - 1;
        }
        std::int32_t i0 = 0;
        {
            std::uint64_t t = bi == 0 ? 0 : ~row[wi] & ((1ull << bi) - 1);
            std::int32_t w = wi;
            while (t == 0 && --w >= 0) t = ~row[w];
            i0 = w >= 0 ? w * kWordBits + (kWordBits - 1 - __builtin_clzll(t)) + 1 : 0;
        }
        const std::int32_t w0 = i0 / kWordBits, w1 = i1 / kWordBits;
        // Most runs lie in one word; their mask is formed directly.
        const std::uint64_t oneWord =
            w0 == w1 ? (i1 - i0 == kWordBits - 1 ? ~0ull : ((1ull << (i1 - i0 + 1)) - 1) << (i0 % kWordBits)) : 0;
        ++runs;
        // A run over several words: partial at both ends, whole in between.
        const std::uint64_t firstWord = ~0ull << (i0 % kWordBits);
        const std::uint64_t lastWord = i1 % kWordBits == kWordBits - 1 ? ~0ull : (1ull << (i1 % kWordBits + 1)) - 1;
        if (w0 == w1) {
            row[w0] &= ~oneWord;
        } else {
            row[w0] &= ~firstWord;
            for (std::int32_t w = w0 + 1; w < w1; ++w) row[w] = 0;
            row[w1] &= ~lastWord;
        }
        const std::int32_t x0 = left + i0, x1 = left + i1;
        const std::int64_t n = x1 - x0 + 1;
        count += n;
        sumX += (static_cast<std::int64_t>(x0) + x1) * n / 2;
        sumY += static_cast<std::int64_t>(p.y) * n;
        if (x0 == left || x1 == right || p.y == top || p.y == bottom) edge = true;
        for (const std::int32_t ny : {p.y - 1, p.y + 1}) {
            if (ny < top || ny > bottom) continue;
            const std::uint64_t* const nrow = bits.data() + static_cast<std::ptrdiff_t>(ny - top) * words;
            // One seed at the start of every stretch of set bits under the run.
            if (w0 == w1) {
                const std::uint64_t m = nrow[w0] & oneWord;
                for (std::uint64_t starts = m & ~(m << 1); starts != 0; starts &= starts - 1)
                    stack.push_back({left + w0 * kWordBits + __builtin_ctzll(starts), ny});
                continue;
            }
            std::uint64_t carry = 0;
            for (std::int32_t w = w0; w <= w1; ++w) {
                // (Selected, not branched on: the pattern of first, middle
                // and last words defeats the branch predictor.)
                const std::uint64_t m = nrow[w] & (w == w0 ? firstWord : ~0ull) & (w == w1 ? lastWord : ~0ull);
                std::uint64_t starts = m & ~((m << 1) | carry);
                carry = m >> (kWordBits - 1);
                while (starts != 0) {
                    stack.push_back({left + w * kWordBits + __builtin_ctzll(starts), ny});
                    starts &= starts - 1;
                }
            }
        }
    }
    sumX_ = sumX;
    sumY_ = sumY;
    count_ = static_cast<std::int32_t>(count);
    if (edge) blobReachedEdge_ = true;
}

Point2d SymbolDetector::blobCentreIn(std::int32_t sx, std::int32_t sy, std::int32_t r) {
    const std::int32_t w = image_.width;
    const std::int32_t h = image_.height;
    if (image_.empty()) return {0.0, 0.0};
    count_ = 0;
    sumX_ = sumY_ = 0;
    xMin_ = std::clamp(sx - r, 0, w - 1);
    xMax_ = std::clamp(sx + r, 0, w - 1);
    yMin_ = std::clamp(sy - r, 0, h - 1);
    yMax_ = std::clamp(sy + r, 0, h - 1);
    clearSeeds();
    ringFillRan_ = false;
    blobReachedEdge_ = false;
    quantX0_ = xMin_;
    quantX1_ = xMax_;
    quantY0_ = yMin_;
    quantY1_ = yMax_;
    seedFlat_ = false;

    // Thresholds from the extremes of a small square round the seed.
    std::uint32_t middle = 128;
    const std::int32_t q = r / kThresholdDivisor;
    {
        const std::int32_t x0 = std::clamp(sx - q, 0, w - 1), x1 = std::clamp(sx + q, 0, w - 1);
        const std::int32_t y0 = std::clamp(sy - q, 0, h - 1), y1 = std::clamp(sy + q, 0, h - 1);
        if (x1 >= x0 && y1 >= y0) {
            std::uint8_t lo = image_.row(y0)[x0], hi = lo;
            [[maybe_unused]] const std::int32_t span = x1 - x0 + 1;  // used by the SIMD path
#if defined(__SSE2__)
            if (span >= 16) {
                // Sixteen columns at a time, the last load overlapping.
                __m128i vlo = _mm_set1_epi8(static_cast<char>(lo)), vhi = vlo;
                for (std::int32_t y = y0; y <= y1; ++y) {
                    const std::uint8_t* row = image_.row(y) + x0;
                    for (std::int32_t at = 0;; at += 16) {
                        const std::int32_t from = std::min(at, span - 16);
                        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + from));
                        vlo = _mm_min_epu8(vlo, v);
                        vhi = _mm_max_epu8(vhi, v);
                        if (from == span - 16) break;
                    }
                }
                alignas(16) std::uint8_t los[16], his[16];
                _mm_store_si128(reinterpret_cast<__m128i*>(los), vlo);
                _mm_store_si128(reinterpret_cast<__m128i*>(his), vhi);
                lo = *std::min_element(los, los + 16);
                hi = *std::max_element(his, his + 16);
            } else
#endif
            {
                for (std::int32_t y = y0; y <= y1; ++y) {
                    const std::uint8_t* row = image_.row(y);
                    for (std::int32_t x = x0; x <= x1; ++x) {
                        lo = std::min(lo, row[x]);
                        hi = std::max(hi, row[x]);
                    }
                }
            }
            middle = (static_cast<std::uint32_t>(lo) + hi) >> 1;
            // Bare background (setFlatSeedSpan): nothing quantised or filled.
            if (hi - lo < flatSeedSpan_) {
                seedFlat_ = true;
                blobCentre_ = {-1.0, -1.0};
                return blobCentre_;
            }
        }
    }

    // Quantise the half-open window [xMin, xMax) x [yMin, yMax). Three
    // thresholds, low = (lo + middle) / 2 <= middle <= high = (hi + low) / 2,
    // would give levels 0, 85, 170 and 255, but every later stage reads a
    // level only as dark (below 128) or light, and a level is light exactly
    // when the pixel reaches the middle threshold. So the window is
    // quantised to that class alone: 0 or 255.
    if (!work_) work_ = takeWorkImage();
    if (work_->width() != w || work_->height() != h) work_->resize(w, h);
    touch(xMin_, yMin_, xMax_ + 1, yMax_ + 1);
    const auto midB = static_cast<std::uint8_t>(middle);
    const auto workStride = static_cast<std::ptrdiff_t>(work_->plane.stride);
#if defined(__SSE2__)
    // v >= t exactly when max(v, t) == v (unsigned bytes).
    const __m128i tMid = _mm_set1_epi8(static_cast<char>(midB));
#endif
    // With the seed strictly inside the window, the blob fill works on one
    // bit per interior pixel, taken here as the rows are quantised: bit i of
    // an interior row is column xMin + 1 + i: fillClass_ holds the pixels
    // of the seed's class (a pixel is light exactly when it reaches the
    // middle), and fillBits_, the pixels the fill may still take, starts
    // as a copy of it.
    const bool bitFill = xMin_ < sx && sx < xMax_ && yMin_ < sy && sy < yMax_;
    const std::int32_t length = xMax_ - xMin_;
    const std::int32_t inner = length - 1;  // interior columns
    const std::int32_t interiorWords = (inner + kWordBits - 1) / kWordBits;
    const bool seedDark = bitFill && image_.row(sy)[sx] < midB;
    const std::uint64_t lastMask = bitFill ? spanMask(interiorWords - 1, 0, inner - 1) : 0;
    if (bitFill) {
        fillBits_.resize(static_cast<std::size_t>(interiorWords) * static_cast<std::size_t>(yMax_ - yMin_ - 1));
        fillClass_.resize(fillBits_.size());
    }
    for (std::int32_t y = yMin_; y < yMax_ && xMin_ < xMax_; ++y) {
        const std::uint8_t* in = image_.row(y) + xMin_;
        std::uint8_t* out = work_->plane.pixels.data() + workStride * y + xMin_;
        out[0] = in[0] >= midB ? 255 : 0;
        if (!bitFill || y == yMin_) {
            for (std::int32_t i = 1; i < length; ++i) out[i] = in[i] >= midB ? 255 : 0;
            continue;
        }
        const auto at = static_cast<std::ptrdiff_t>(y - yMin_ - 1) * interiorWords;
        // The row's light bits, turned into the seed's class below.
        std::uint64_t* const light = fillClass_.data() + at;
        // The interior from here on: column xMin + 1 + i is in[i], out[i].
        ++in;
        ++out;
        std::int32_t i = 0;
#if defined(__SSE2__)
        // Sixteen pixels' levels stored, and their light bits.
        auto levels16 = [&](std::int32_t from) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + from));
            const __m128i levels = _mm_cmpeq_epi8(_mm_max_epu8(v, tMid), v);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + from), levels);
            return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(levels)));
        };
        // Whole words first: four loads of sixteen make a word's bits.
        for (; i + kWordBits <= inner; i += kWordBits)
            light[i / kWordBits] = levels16(i) | levels16(i + 16) << 16 | levels16(i + 32) << 32 | levels16(i + 48) << 48;
        if (i < inner) light[i / kWordBits] = 0;
        if (inner >= 16) {
            auto add16 = [&](std::int32_t from) {
                const std::uint64_t m = levels16(from);
                const std::int32_t bit = from % kWordBits;
                light[from / kWordBits] |= m << bit;
                if (bit > kWordBits - 16) light[from / kWordBits + 1] |= m >> (kWordBits - bit);
            };
            for (; i + 16 <= inner; i += 16) add16(i);
            // The last few pixels with one more load that overlaps the
            // previous one; the overlap gets the same levels and bits again.
            if (i < inner) {
                add16(inner - 16);
                i = inner;
            }
        }
#endif
        for (; i < inner; ++i) {
            if (i % kWordBits == 0) light[i / kWordBits] = 0;
            out[i] = in[i] >= midB ? 255 : 0;
            light[i / kWordBits] |= static_cast<std::uint64_t>(out[i] >> 7) << (i % kWordBits);
        }
        std::uint64_t* const bits = fillBits_.data() + at;
        for (std::int32_t k = 0; k < interiorWords; ++k) {
            const std::uint64_t cls = (seedDark ? ~light[k] : light[k]) & (k == interiorWords - 1 ? lastMask : ~0ull);
            light[k] = cls;
            bits[k] = cls;
        }
    }

    const bool seedInside = sx >= 0 && sy >= 0 && sx < w && sy < h;
    const bool dark = seedInside && workDark(sx, sy);
    if (bitFill) {
        fillBlob(sx, sy);
    } else {
        try {
            fillFrom(sx, sy, dark ? FillKind::Dark : FillKind::Light);
        } catch (const std::exception&) {
            count_ = 0;
        }
    }
    blobCount_ = count_;
    blobSumX_ = sumX_;
    blobSumY_ = sumY_;
    blobCentre_ = count_ == 0 ? Point2d{-1.0, -1.0}
                              : Point2d{static_cast<double>(sumX_) / count_, static_cast<double>(sumY_) / count_};
    return blobCentre_;
}

// Quantising and filling the seed's window afresh would give every pixel
// the class it had before the ring fill and no ring marks, and the blob the
// same sums. Later tests read only a pixel's class and the ring marks, so
// taking back the marks inside the seed's window is the same, at the cost
// of the ring's window. Marks outside the seed's window stay, as a fresh
// quantisation would leave them. The quantisation cleared the seed's
// window of older marks, so the marks to take back lie in the box of what
// the ring fill marked.
Point2d SymbolDetector::undoRingFill() {
    if (work_) {
        const std::int32_t x0 = std::max({xMin_, quantX0_, markedX0_}), x1 = std::min({xMax_ + 1, quantX1_, markedX1_});
        const std::int32_t y0 = std::max({yMin_, quantY0_, markedY0_}), y1 = std::min({yMax_ + 1, quantY1_, markedY1_});
        const auto stride = static_cast<std::ptrdiff_t>(work_->plane.stride);
        for (std::int32_t y = y0; y < y1; ++y) {
            std::uint8_t* row = work_->plane.pixels.data() + stride * y;
            for (std::int32_t x = x0; x < x1; ++x)
                if (row[x] == kMarkRing) row[x] = kMarkLight;
        }
    }
    // The seed's window and blob, as the ring test found them.
    std::tie(xMin_, xMax_, yMin_, yMax_) = std::tie(quantX0_, quantX1_, quantY0_, quantY1_);
    std::tie(count_, sumX_, sumY_) = std::tie(blobCount_, blobSumX_, blobSumY_);
    clearSeeds();
    ringFillRan_ = false;
    return blobCentre_;
}

}  // namespace AztecCore
