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
// module with its first ring, and the finder sees modules about twice
// their size.
constexpr double kModuleShares[] = {0.45, 0.55, 0.7, 0.85, 1.0};
// Below this many pixels a module leaves the template's taps too coarse.
constexpr double kMinTemplateModule = 1.8;
// Places within this many of the hit's modules of it.
constexpr double kReachModules = 1.5;
// The template: 18 x 18 taps half a module apart, at the centres of the
// half-module cells of rings 0 .. 4 (a tap never falls on a ring's edge).
constexpr int kTapsPerSide = 18;
constexpr double kFirstTap = -4.25, kTapStep = 0.5;
constexpr int kTaps = kTapsPerSide * kTapsPerSide;

struct Template {
    std::array<std::ptrdiff_t, kTaps> offsets{};  // pixel offsets from the centre
    std::array<double, kTaps> weights{};         // zero mean, unit norm
    int reach = 0;                               // farthest tap, pixels each way
};

// Rings turned by `angle` at `module` pixels; taps at the nearest pixel.
Template makeTemplate(double module, double angle, std::ptrdiff_t stride) {
    Template t;
    const double c = std::cos(angle), s = std::sin(angle);
    double mean = 0.0;
    for (int i = 0; i < kTapsPerSide; ++i) {
        for (int j = 0; j < kTapsPerSide; ++j) {
            const double u = kFirstTap + kTapStep * i, v = kFirstTap + kTapStep * j;
            const int ring = static_cast<int>(std::floor(std::max(std::fabs(u), std::fabs(v)) + 0.5));
            const auto dx = static_cast<int>(std::lround(module * (c * u - s * v)));
            const auto dy = static_cast<int>(std::lround(module * (s * u + c * v)));
            t.reach = std::max({t.reach, std::abs(dx), std::abs(dy)});
            const auto k = static_cast<std::size_t>(i * kTapsPerSide + j);
            t.offsets[k] = static_cast<std::ptrdiff_t>(dy) * stride + dx;
            t.weights[k] = ring % 2 == 0 ? -1.0 : 1.0;  // dark rings count down
            mean += t.weights[k];
        }
    }
    mean /= kTaps;
    double norm = 0.0;
    for (double& w : t.weights) {
        w -= mean;
        norm += w * w;
    }
    norm = std::sqrt(norm);
    for (double& w : t.weights) w /= norm;
    return t;
}

// The template's normalised correlation with the frame centred on (x, y):
// positive for a dark centre. Places whose taps leave the frame, and flat
// ones, give NaN, which no comparison takes.
double correlation(const GreyView& v, const Template& t, int x, int y) {
    constexpr double kNothing = std::numeric_limits<double>::quiet_NaN();
    if (x - t.reach < 0 || y - t.reach < 0 || x + t.reach >= v.width || y + t.reach >= v.height) return kNothing;
    const std::uint8_t* centre = v.pixels + static_cast<std::ptrdiff_t>(y) * v.stride + x;
    double dot = 0.0, sum = 0.0, sumSq = 0.0;
    for (std::size_t k = 0; k < kTaps; ++k) {
        const double p = centre[t.offsets[k]];
        dot += t.weights[k] * p;
        sum += p;
        sumSq += p * p;
    }
    const double spread = sumSq - sum * sum / kTaps;
    if (!(spread > 1e-9)) return kNothing;
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
