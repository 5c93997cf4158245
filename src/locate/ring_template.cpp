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
// three times their size. Smaller shares pay: below a third of the hit's
// module the template's taps repeat pixels, and noise fits it often
// enough to send many hits on to the fits.
constexpr double kModuleShares[] = {0.37, 0.45, 0.55, 0.7, 0.85, 1.0};
// Below this many pixels a module leaves the template's taps too coarse.
constexpr double kMinTemplateModule = 1.8;
// Places within this many of the hit's modules of it.
constexpr double kReachModules = 1.5;
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

}  // namespace

std::optional<RingMatch> matchRings(const GreyView& view, const FinderHit& hit, WorkBudget& budget) {
    if (!view.pixels || !(hit.module > 0.0)) return std::nullopt;
    const Sampler sampler(view, false);
    const double largest = hit.module * kModuleShares[std::size(kModuleShares) - 1];
    const double angle = ringAngle(sampler, hit.x, hit.y, 5.0 * largest, 0.5 * largest);
    const double reach = kReachModules * hit.module;
    std::optional<RingMatch> best;
    for (double share : kModuleShares) {
        const double module = share * hit.module;
        if (module < kMinTemplateModule) continue;
        const Template t = makeTemplate(module, angle, view.stride);
        // Places half a module apart, then every pixel round the best; the
        // best keeps its signed correlation, whose sign is the polarity.
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
        for (double y = hit.y - reach; y <= hit.y + reach; y += step)
            for (double x = hit.x - reach; x <= hit.x + reach; x += step)
                consider(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
        if (top < 0.0) continue;
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
    return best;
}

}  // namespace AztecCore::Locate
