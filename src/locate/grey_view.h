// A read-only view of 8-bit grey pixels and the sub-pixel sampler that the
// whole-frame stages measure with. Light-on-dark symbols are read through
// an inverting sampler, so every later stage sees a dark bull's-eye centre.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "locate/work_budget.h"
#include "math/homography.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
        if (inside(x, y)) {
            const Cell c = cellAt(x, y);
            const double v = c.level();
            return invert_ ? 255.0 - v : v;
        }
        // fmax and fmin, not clamp: a point a degenerate transform maps to
        // NaN (its horizon crossing the points sampled) must still land on
        // the image, here at its left or top edge.
        const double cx = std::fmin(std::fmax(x, 0.0), static_cast<double>(view_.width - 1));
        const double cy = std::fmin(std::fmax(y, 0.0), static_cast<double>(view_.height - 1));
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
    // at() for each of n points (xs[k], ys[k]) into out[k]: the same
    // levels, two points at a time with SSE2 where both lie inside.
    void atEach(const double* xs, const double* ys, std::size_t n, double* out) const {
        std::size_t k = 0;
#if defined(__SSE2__)
        for (; k + 2 <= n; k += 2) {
            CellPair c;
            if (!cellPairAt(xs + k, ys + k, c)) {
                out[k] = at(xs[k], ys[k]);
                out[k + 1] = at(xs[k + 1], ys[k + 1]);
                continue;
            }
            _mm_storeu_pd(out + k, c.level(invert_));
        }
#endif
        for (; k < n; ++k) out[k] = at(xs[k], ys[k]);
    }
    // at() over the square grid of points (axis[i], axis[j]) mapped through
    // h (grid to image, as Aztec::Math::mapPoint maps them), row i into
    // out + i * n; xs and ys (n each) are scratch. A row at a time: first
    // where its points lie (arithmetic alone, which vectorises), then their
    // levels. Charged as n * n samples.
    void atGrid(const Aztec::Math::Homography& h, const double* axis, std::size_t n, double* xs, double* ys,
                double* out) const {
        charge(static_cast<std::int64_t>(n * n));
        for (std::size_t i = 0; i < n; ++i) {
            placeRow(h, axis[i], axis, n, xs, ys);
            atEach(xs, ys, n, out + i * n);
        }
    }
    // Where the grid points (u, axis[j]) lie through h, into xs and ys (n
    // each): atGrid()'s points, for callers that sample them otherwise.
    static void placeRow(const Aztec::Math::Homography& h, double u, const double* axis, std::size_t n, double* xs,
                         double* ys) {
        for (std::size_t j = 0; j < n; ++j) {
            const double v = axis[j];
            const double w = h[6] * u + h[7] * v + 1.0;
            xs[j] = (h[0] * u + h[1] * v + h[2]) / w;
            ys[j] = (h[3] * u + h[4] * v + h[5]) / w;
        }
    }
    // at(x, y), with its gradient per pixel into (gx, gy), from the same
    // four pixels: inside a pixel cell the bilinear surface's slope (along
    // x it varies with y and the other way round); off the image's last
    // row and column, where at() is clamped, a central difference a tenth
    // of a pixel wide.
    double levelAndSlopeAt(double x, double y, double& gx, double& gy) const {
        if (inside(x, y)) {
            const Cell c = cellAt(x, y);
            const double v = c.level();  // as at() takes it, to the last bit
            const std::uint8_t *p = c.top, *q = c.bottom;
            const double alongTop = p[1] - p[0], alongBottom = q[1] - q[0];
            gx = alongTop + c.fy * (alongBottom - alongTop);
            gy = (q[0] - p[0]) + c.fx * ((q[1] - p[1]) - (q[0] - p[0]));
            if (invert_) {
                gx = -gx;
                gy = -gy;
                return 255.0 - v;
            }
            return v;
        }
        constexpr double e = 0.05;
        gx = (at(x + e, y) - at(x - e, y)) / (2 * e);
        gy = (at(x, y + e) - at(x, y - e)) / (2 * e);
        return at(x, y);
    }
    // levelAndSlopeAt() for each of n points (xs[k], ys[k]) into levels[k],
    // gxs[k] and gys[k]: the same values, two points at a time with SSE2
    // where both lie inside.
    void levelAndSlopeEach(const double* xs, const double* ys, std::size_t n, double* levels, double* gxs,
                           double* gys) const {
        std::size_t k = 0;
#if defined(__SSE2__)
        for (; k + 2 <= n; k += 2) {
            CellPair c;
            if (!cellPairAt(xs + k, ys + k, c)) {
                levels[k] = levelAndSlopeAt(xs[k], ys[k], gxs[k], gys[k]);
                levels[k + 1] = levelAndSlopeAt(xs[k + 1], ys[k + 1], gxs[k + 1], gys[k + 1]);
                continue;
            }
            // The differences of whole levels are exact in doubles, so these
            // are levelAndSlopeAt's integer differences to the last bit.
            const __m128d alongTop = _mm_sub_pd(c.b, c.a), alongBottom = _mm_sub_pd(c.d, c.c);
            const __m128d down = _mm_sub_pd(c.c, c.a);
            __m128d gx = _mm_add_pd(alongTop, _mm_mul_pd(c.fy, _mm_sub_pd(alongBottom, alongTop)));
            __m128d gy = _mm_add_pd(down, _mm_mul_pd(c.fx, _mm_sub_pd(_mm_sub_pd(c.d, c.b), down)));
            if (invert_) {
                // Negated as levelAndSlopeAt negates them: the sign bit
                // flipped, so that a zero slope turns -0 there too.
                const __m128d sign = _mm_set1_pd(-0.0);
                gx = _mm_xor_pd(gx, sign);
                gy = _mm_xor_pd(gy, sign);
            }
            _mm_storeu_pd(levels + k, c.level(invert_));
            _mm_storeu_pd(gxs + k, gx);
            _mm_storeu_pd(gys + k, gy);
        }
#endif
        for (; k < n; ++k) levels[k] = levelAndSlopeAt(xs[k], ys[k], gxs[k], gys[k]);
    }
    bool inverted() const { return invert_; }
    void charge(std::int64_t samples) const {
        if (budget_) budget_->charge(samples);
    }
    bool budgetSpent() const { return budget_ && budget_->spent(); }
    // WorkBudget::claim for the place of the fit `plane` (grid to image),
    // at its centre and of its module; always true without a budget.
    bool claim(const Aztec::Math::Homography& plane, WorkBudget::Fallback which) const {
        if (!budget_) return true;
        const Point2d centre = Aztec::Math::mapPoint(plane, 0.0, 0.0), across = Aztec::Math::mapPoint(plane, 1.0, 0.0);
        return budget_->claim(centre.x, centre.y, std::hypot(across.x - centre.x, across.y - centre.y), which);
    }
    const GreyView& view() const { return view_; }

private:
    // The pixel cell holding (x, y) inside the image's last row and column
    // (most samples): its top-left pixel, the one below, and where the point
    // lies in the cell. at() and levelAndSlopeAt() take its bilinear level
    // from here; CellPair does the same arithmetic two points at a time.
    struct Cell {
        const std::uint8_t* top;
        const std::uint8_t* bottom;
        double fx, fy;
        double level() const {
            const double upper = top[0] + fx * (top[1] - top[0]);
            const double lower = bottom[0] + fx * (bottom[1] - bottom[0]);
            return upper + fy * (lower - upper);
        }
    };
#if defined(__SSE2__)
    // Two points' cells, for atEach() and levelAndSlopeEach(): where in its
    // cell each lies, and each cell's four pixels (a b over c d), one point
    // a lane. level() is Cell::level() a lane each, to the last bit.
    struct CellPair {
        __m128d fx, fy, a, b, c, d;
        __m128d level(bool invert) const {
            const __m128d top = _mm_add_pd(a, _mm_mul_pd(fx, _mm_sub_pd(b, a)));
            const __m128d bottom = _mm_add_pd(c, _mm_mul_pd(fx, _mm_sub_pd(d, c)));
            const __m128d v = _mm_add_pd(top, _mm_mul_pd(fy, _mm_sub_pd(bottom, top)));
            return invert ? _mm_sub_pd(_mm_set1_pd(255.0), v) : v;
        }
    };
    // The cells of points (xs[0], ys[0]) and (xs[1], ys[1]); false, and
    // nothing taken, unless both lie inside the image's last row and column.
    bool cellPairAt(const double* xs, const double* ys, CellPair& out) const {
        const __m128d zero = _mm_setzero_pd();
        const __m128d x = _mm_loadu_pd(xs), y = _mm_loadu_pd(ys);
        const __m128d inside = _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(x, zero), _mm_cmpge_pd(y, zero)),
                                          _mm_and_pd(_mm_cmplt_pd(x, _mm_set1_pd(view_.width - 1)),
                                                     _mm_cmplt_pd(y, _mm_set1_pd(view_.height - 1))));
        if (_mm_movemask_pd(inside) != 3) return false;
        const __m128i xi = _mm_cvttpd_epi32(x), yi = _mm_cvttpd_epi32(y);
        out.fx = _mm_sub_pd(x, _mm_cvtepi32_pd(xi));
        out.fy = _mm_sub_pd(y, _mm_cvtepi32_pd(yi));
        const std::uint8_t* p0 = view_.pixels + static_cast<std::ptrdiff_t>(_mm_cvtsi128_si32(yi)) * view_.stride +
                                 _mm_cvtsi128_si32(xi);
        const std::uint8_t* p1 = view_.pixels +
                                 static_cast<std::ptrdiff_t>(_mm_cvtsi128_si32(_mm_srli_si128(yi, 4))) * view_.stride +
                                 _mm_cvtsi128_si32(_mm_srli_si128(xi, 4));
        const std::ptrdiff_t s = view_.stride;
        out.a = _mm_set_pd(p1[0], p0[0]);
        out.b = _mm_set_pd(p1[1], p0[1]);
        out.c = _mm_set_pd(p1[s], p0[s]);
        out.d = _mm_set_pd(p1[s + 1], p0[s + 1]);
        return true;
    }
#endif
    bool inside(double x, double y) const { return x >= 0.0 && y >= 0.0 && x < view_.width - 1 && y < view_.height - 1; }
    Cell cellAt(double x, double y) const {
        const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
        const std::uint8_t* p = view_.pixels + static_cast<std::ptrdiff_t>(y0) * view_.stride + x0;
        return {p, p + view_.stride, x - x0, y - y0};
    }

    GreyView view_;
    bool invert_;
    WorkBudget* budget_;
};

}  // namespace AztecCore::Locate
