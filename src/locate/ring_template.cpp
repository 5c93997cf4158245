#include "locate/ring_template.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "locate/bullseye_model_fit.h"

namespace AztecCore::Locate {

namespace {

// Module sizes tried, as shares of the hit's: heavy blur merges the centre
// module with its first rings, and the finder sees modules two to nearly
// three times their size. Smaller shares cost too much: below a third of
// the hit's module the template's taps repeat pixels, and noise fits it
// often enough to send many hits on to the fits.
constexpr double kModuleShares[] = {0.37, 0.45, 0.55, 0.7, 0.85, 1.0};
// Below this many pixels a module leaves the template's taps too coarse.
constexpr double kMinTemplateModule = 1.8;
// Places within this many of the hit's modules of it.
constexpr double kReachModules = 1.5;
// A best match from this score up (and short of kMinRingScore) is looked
// for again with the template turned to the diagonal: within this many of
// its modules of it, at module sizes within this factor of its own.
constexpr double kTurnedLookScore = 0.2;
constexpr double kTurnedReach = 1.5;
constexpr double kTurnedShareSpan = 1.3;
// The template: 18 x 18 taps half a module apart, at the centres of the
// half-module cells of rings 0 .. 4 (a tap never falls on a ring's edge).
constexpr int kTapsPerSide = 18;
constexpr double kFirstTap = -4.25, kTapStep = 0.5;
constexpr int kTaps = kTapsPerSide * kTapsPerSide;

// The ring under tap (i, j): dark at even distances from the centre
// module, light at odd ones. No tap lies on a ring's edge, so truncating
// rounds down.
constexpr int ringOf(int i, int j) {
    const double u = kFirstTap + kTapStep * i, v = kFirstTap + kTapStep * j;
    const double au = u < 0 ? -u : u, av = v < 0 ? -v : v;
    return static_cast<int>((au > av ? au : av) + 0.5);
}

// Taps on light rings. The count depends only on the grid of taps, not on
// the module or angle.
constexpr int kLightTaps = [] {
    int light = 0;
    for (int i = 0; i < kTapsPerSide; ++i)
        for (int j = 0; j < kTapsPerSide; ++j) light += ringOf(i, j) % 2;
    return light;
}();

// The template's weights are +1 on light taps and -1 on dark ones, less
// their mean and scaled to unit norm: a tap's weight is (s - mean) / norm
// with s = +-1, so the dot product with the samples is
// ((light sum - dark sum) - mean (light sum + dark sum)) / norm, from two
// integer sums.
constexpr double kWeightMean = static_cast<double>(2 * kLightTaps - kTaps) / kTaps;

struct Template {
    std::array<std::ptrdiff_t, kTaps> offsets{};  // pixel offsets from the centre: light taps first
    int reach = 0;                               // farthest tap, pixels each way
};

// Rings turned by `angle` at `module` pixels; taps at the nearest pixel.
Template makeTemplate(double module, double angle, std::ptrdiff_t stride) {
    Template t;
    const double c = std::cos(angle), s = std::sin(angle);
    std::size_t light = 0, dark = kTaps;
    for (int i = 0; i < kTapsPerSide; ++i) {
        for (int j = 0; j < kTapsPerSide; ++j) {
            const double u = kFirstTap + kTapStep * i, v = kFirstTap + kTapStep * j;
            const auto dx = static_cast<int>(std::lround(module * (c * u - s * v)));
            const auto dy = static_cast<int>(std::lround(module * (s * u + c * v)));
            t.reach = std::max({t.reach, std::abs(dx), std::abs(dy)});
            t.offsets[ringOf(i, j) % 2 == 1 ? light++ : --dark] = static_cast<std::ptrdiff_t>(dy) * stride + dx;
        }
    }
    return t;
}

// The template's normalised correlation with the frame centred on (x, y):
// positive for a dark centre. Places whose taps leave the frame, and flat
// ones, give NaN, which no comparison takes.
double correlation(const GreyView& v, const Template& t, int x, int y) {
    constexpr double kNothing = std::numeric_limits<double>::quiet_NaN();
    if (x - t.reach < 0 || y - t.reach < 0 || x + t.reach >= v.width || y + t.reach >= v.height) return kNothing;
    const std::uint8_t* centre = v.pixels + static_cast<std::ptrdiff_t>(y) * v.stride + x;
    // Whole numbers all: 324 samples of at most 255, squares included,
    // stay below 2^25.
    int light = 0, dark = 0, sumSq = 0;
    for (int k = 0; k < kLightTaps; ++k) {
        const int p = centre[t.offsets[static_cast<std::size_t>(k)]];
        light += p;
        sumSq += p * p;
    }
    for (int k = kLightTaps; k < kTaps; ++k) {
        const int p = centre[t.offsets[static_cast<std::size_t>(k)]];
        dark += p;
        sumSq += p * p;
    }
    const double sum = light + dark;
    const double spread = sumSq - sum * sum / kTaps;
    if (!(spread > 1e-9)) return kNothing;
    static const double norm = std::sqrt(kTaps * (1.0 - kWeightMean * kWeightMean));
    const double dot = ((light - dark) - kWeightMean * sum) / norm;
    return dot / std::sqrt(spread);
}

// The template at `module` pixels turned by `angle`, laid over places half
// a module apart within `reach` of (x, y), then over every pixel round the
// best of them; `best` takes the place when it fits better. The best keeps
// its signed correlation, whose sign is the polarity.
void lookFor(const GreyView& view, const FinderHit& hit, double module, double angle, double x, double y, double reach,
             WorkBudget& budget, std::optional<RingMatch>& best) {
    const Template t = makeTemplate(module, angle, view.stride);
    const double step = std::max(1.0, module / 2.0);
    double top = -1.0, signedTop = 0.0;
    int tx = 0, ty = 0;
    std::int64_t tried = 0;
    const auto consider = [&](int px, int py) {
        const double r = correlation(view, t, px, py);
        ++tried;
        if (std::fabs(r) > top) {
            top = std::fabs(r);
            signedTop = r;
            tx = px;
            ty = py;
        }
    };
    for (double py = y - reach; py <= y + reach; py += step)
        for (double px = x - reach; px <= x + reach; px += step)
            consider(static_cast<int>(std::lround(px)), static_cast<int>(std::lround(py)));
    if (top < 0.0) return;
    const int fine = static_cast<int>(std::ceil(step / 2.0));
    const int cx = tx, cy = ty;
    for (int dy = -fine; dy <= fine; ++dy)
        for (int dx = -fine; dx <= fine; ++dx) consider(cx + dx, cy + dy);
    budget.charge(tried * kTaps);
    if (!best || top > best->score) {
        RingMatch m;
        m.hit = hit;
        m.hit.x = tx;
        m.hit.y = ty;
        m.hit.module = module;
        m.hit.lightOnDark = signedTop < 0.0;
        m.score = top;
        best = m;
    }
}

}  // namespace

std::optional<RingMatch> matchRings(const GreyView& view, const FinderHit& hit, WorkBudget& budget) {
    if (!view.pixels || !(hit.module > 0.0)) return std::nullopt;
    const Sampler sampler(view, false);
    const double largest = hit.module * kModuleShares[std::size(kModuleShares) - 1];
    const double angle = ringAngle(sampler, hit.x, hit.y, 5.0 * largest, 0.5 * largest);
    std::optional<RingMatch> best;
    for (double share : kModuleShares) {
        const double module = share * hit.module;
        if (module >= kMinTemplateModule)
            lookFor(view, hit, module, angle, hit.x, hit.y, kReachModules * hit.module, budget, best);
    }
    // The angle may be off by as much as kDiagonalTurn, and a template
    // turned far from the rings' sides fits them less well. A match that
    // falls short but is not nothing is looked for again turned that far,
    // round its place and at its module and the neighbouring shares.
    if (!best || best->score >= kMinRingScore || best->score < kTurnedLookScore) return best;
    const double bestModule = best->hit.module;
    const double x = best->hit.x, y = best->hit.y;
    for (double share : kModuleShares) {
        const double module = share * hit.module;
        if (module >= kMinTemplateModule && module * kTurnedShareSpan > bestModule && module < kTurnedShareSpan * bestModule)
            lookFor(view, hit, module, angle + kDiagonalTurn, x, y, kTurnedReach * bestModule, budget, best);
    }
    return best;
}

}  // namespace AztecCore::Locate
