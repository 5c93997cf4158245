// A read-only view of 8-bit grey pixels and the sub-pixel sampler that the
// whole-frame stages measure with. Light-on-dark symbols are read through
// an inverting sampler, so every later stage sees a dark bull's-eye centre.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "locate/work_budget.h"

namespace AztecCore::Locate {

struct GreyView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;

    std::uint8_t at(int x, int y) const {
        return pixels[static_cast<std::ptrdiff_t>(y) * stride + x];
    }
};

class Sampler {
public:
    // Samples taken through `budget` (when given) are charged to it by the
    // stages that take many.
    Sampler(const GreyView& view, bool invert, WorkBudget* budget = nullptr)
        : view_(view), invert_(invert), budget_(budget) {}

    // Bilinear grey level at (x, y), pixel centres at integer coordinates.
    // Points off the image take the nearest edge pixel, so a symbol whose
    // quiet zone is cut by the frame edge still samples sensibly.
    double at(double x, double y) const {
        // Inside the last row and column (most samples) the clamps below
        // change nothing, and the same arithmetic is done without them.
        if (x >= 0.0 && y >= 0.0 && x < view_.width - 1 && y < view_.height - 1) {
            const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
            const std::uint8_t* p = view_.pixels + static_cast<std::ptrdiff_t>(y0) * view_.stride + x0;
            const std::uint8_t* q = p + view_.stride;
            const double fx = x - x0, fy = y - y0;
            const double top = p[0] + fx * (p[1] - p[0]);
            const double bottom = q[0] + fx * (q[1] - q[0]);
            const double v = top + fy * (bottom - top);
            return invert_ ? 255.0 - v : v;
        }
        const double cx = std::clamp(x, 0.0, static_cast<double>(view_.width - 1));
        const double cy = std::clamp(y, 0.0, static_cast<double>(view_.height - 1));
        const int x0 = std::min(static_cast<int>(cx), view_.width - 2 < 0 ? 0 : view_.width - 2);
        const int y0 = std::min(static_cast<int>(cy), view_.height - 2 < 0 ? 0 : view_.height - 2);
        const int x1 = std::min(x0 + 1, view_.width - 1);
        const int y1 = std::min(y0 + 1, view_.height - 1);
        const double fx = cx - x0, fy = cy - y0;
        const double top = view_.at(x0, y0) + fx * (view_.at(x1, y0) - view_.at(x0, y0));
        const double bottom = view_.at(x0, y1) + fx * (view_.at(x1, y1) - view_.at(x0, y1));
        const double v = top + fy * (bottom - top);
        return invert_ ? 255.0 - v : v;
    }
    bool inverted() const { return invert_; }
    void charge(std::int64_t samples) const {
        if (budget_) budget_->charge(samples);
    }
    bool budgetSpent() const { return budget_ && budget_->spent(); }
    // WorkBudget::claim; always true without a budget.
    bool claim(double x, double y, double reach) const { return !budget_ || budget_->claim(x, y, reach); }
    const GreyView& view() const { return view_; }

private:
    GreyView view_;
    bool invert_;
    WorkBudget* budget_;
};

}  // namespace AztecCore::Locate
