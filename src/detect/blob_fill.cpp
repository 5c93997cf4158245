// The blob under a seed pixel: a local three-threshold quantisation of the
// seed's neighbourhood into the working image, then a scanline flood fill
// of the dark or light region that holds the seed. The fill marks what it
// visits (dark 120, light 140, ring 150), which keeps each pixel's
// dark/light class and lets later stages find the pixels of one fill.
#include <algorithm>
#include <exception>

#include "detect/symbol_detector.h"

namespace AztecCore {

namespace {
constexpr std::uint8_t kQuantDarkest = 0;
constexpr std::uint8_t kQuantDark = 85;
constexpr std::uint8_t kQuantLight = 170;
constexpr std::uint8_t kQuantLightest = 255;
constexpr std::uint8_t kMarkDark = 120;
constexpr std::uint8_t kMarkLight = 140;
constexpr std::uint8_t kMarkRing = 150;
constexpr std::uint8_t kDarkBelow = 128;
// Window half-size r = min(W - 1, H - 1) / 6; thresholds from a square of r / 4.
constexpr std::int32_t kWindowDivisor = 6;
constexpr std::int32_t kThresholdDivisor = 4;

std::uint8_t markOf(int kind) {
    return kind == 0 ? kMarkDark : kind == 1 ? kMarkLight : kMarkRing;
}
}  // namespace

bool SymbolDetector::workDark(std::int32_t x, std::int32_t y) const {
    if (!work_ || x < 0 || y < 0 || x >= work_->width() || y >= work_->height()) return false;
    return work_->plane.get(x, y) < kDarkBelow;
}

void SymbolDetector::fillRun(std::int32_t x, std::int32_t y, FillKind kind) {
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
        if (strictlyInside(px, py)) {
            seedX_.push_back(px);
            seedY_.push_back(py);
        }
    };
    std::uint8_t* const here = rowOf(y);
    if (here != nullptr && x >= 0 && x < w && here[x] == mark) return;
    while (x > xMin_) {
        if (!fillableAt(here, x)) break;
        --x;
    }
    const std::int32_t x0 = x + 1;
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
            // Farthest filled pixel per quadrant round the ring centre: the
            // outer corners of the ring.
            const std::int32_t cx = ringCentre_.x, cy = ringCentre_.y;
            const int q = x > cx ? (y <= cy ? 0 : 1) : (y > cy ? 2 : 3);
            const std::int32_t d2 = (cy - y) * (cy - y) + (cx - x) * (cx - x);
            if (d2 > quadrantDist2_[q]) {
                quadrantDist2_[q] = d2;
                quadrantCorner_[q] = {x, y};
            }
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
}

void SymbolDetector::fillFrom(std::int32_t x, std::int32_t y, FillKind kind) {
    fillRun(x, y, kind);
    while (!seedX_.empty()) {
        if (kind == FillKind::Ring && count_ >= maxCount_) break;
        const std::int32_t sx = seedX_.front(), sy = seedY_.front();
        fillRun(sx, sy, kind);
        seedX_.pop_front();
        seedY_.pop_front();
    }
}

Point2d SymbolDetector::blobCentre(std::int32_t sx, std::int32_t sy) {
    const std::int32_t w = image_ ? image_->width() : 0;
    const std::int32_t h = image_ ? image_->height() : 0;
    if (w <= 0 || h <= 0) return {0.0, 0.0};
    const std::int32_t r = std::min((w - 1) / kWindowDivisor, (h - 1) / kWindowDivisor);
    count_ = sumX_ = sumY_ = 0;
    xMin_ = std::clamp(sx - r, 0, w - 1);
    xMax_ = std::clamp(sx + r, 0, w - 1);
    yMin_ = std::clamp(sy - r, 0, h - 1);
    yMax_ = std::clamp(sy + r, 0, h - 1);
    seedX_.clear();
    seedY_.clear();
    ringFillRan_ = false;

    // Thresholds from the extremes of a small square round the seed.
    std::uint32_t low = 0, middle = 128, high = 255;
    const std::int32_t q = r / kThresholdDivisor;
    {
        const std::int32_t x0 = std::clamp(sx - q, 0, w - 1), x1 = std::clamp(sx + q, 0, w - 1);
        const std::int32_t y0 = std::clamp(sy - q, 0, h - 1), y1 = std::clamp(sy + q, 0, h - 1);
        if (x1 >= x0 && y1 >= y0) {
            std::uint32_t lo = image_->plane.get(x0, y0), hi = lo;
            for (std::int32_t y = y0; y <= y1; ++y) {
                // The square is clamped inside the image, so whole rows are safe.
                const std::uint8_t* row =
                    &image_->plane.pixels.at(static_cast<std::size_t>(y) * static_cast<std::size_t>(image_->plane.stride) +
                                             static_cast<std::size_t>(x1)) - x1;
                for (std::int32_t x = x0; x <= x1; ++x) {
                    lo = std::min<std::uint32_t>(lo, row[x]);
                    hi = std::max<std::uint32_t>(hi, row[x]);
                }
            }
            middle = (lo + hi) >> 1;
            low = (lo + middle) >> 1;
            high = (hi + low) >> 1;
        }
    }

    // Quantise the half-open window [xMin, xMax) x [yMin, yMax).
    if (!work_) work_ = std::make_shared<Image::GrayBuf>();
    if (work_->width() != w || work_->height() != h) work_->resize(w, h);
    // The window is clamped inside both images (of the same size), so each
    // row's last pixel is checked once and the row is then walked directly.
    std::uint8_t lut[256];
    for (std::uint32_t p = 0; p < 256; ++p) {
        lut[p] = p >= high ? kQuantLightest : p >= middle ? kQuantLight : p >= low ? kQuantDark : kQuantDarkest;
    }
    for (std::int32_t y = yMin_; y < yMax_ && xMin_ < xMax_; ++y) {
        const auto length = static_cast<std::size_t>(xMax_ - xMin_);
        auto rowStart = [&](const Image::Plane& plane) {
            return static_cast<std::size_t>(y) * static_cast<std::size_t>(plane.stride) + static_cast<std::size_t>(xMin_);
        };
        const std::uint8_t* in = &image_->plane.pixels.at(rowStart(image_->plane) + length - 1) - (length - 1);
        std::uint8_t* out = &work_->plane.pixels.at(rowStart(work_->plane) + length - 1) - (length - 1);
        for (std::size_t i = 0; i < length; ++i) out[i] = lut[in[i]];
    }

    try {
        const bool seedInside = sx >= 0 && sy >= 0 && sx < w && sy < h;
        fillFrom(sx, sy, seedInside && workDark(sx, sy) ? FillKind::Dark : FillKind::Light);
    } catch (const std::exception&) {
        count_ = 0;
    }
    if (count_ == 0) return {-1.0, -1.0};
    return {static_cast<double>(sumX_) / count_, static_cast<double>(sumY_) / count_};
}

}  // namespace AztecCore
