#include "locate/candidate_check.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace AztecCore::Locate {

namespace {

constexpr int kRays = 16;
constexpr int kEdges = 4;             // round the centre module and rings 1..3
constexpr int kSamplesPerModule = 4;  // nearest pixels, every quarter module
// Samples reach the fourth edge along a diagonal (3.5 sqrt 2 modules) with
// room for a tilt or a module seen small.
constexpr double kReachModules = 6.5;
constexpr int kMaxSamples = static_cast<int>(kReachModules * kSamplesPerModule) + 1;
// A ray counts when each of edges 2..4 lies within this share of a module
// of where evenly spaced rings put it (a little looser than the fit).
constexpr double kRayTolerance = 0.35;
constexpr int kMinValidRays = 12;

// std::lround (halves away from zero) without the library call: the
// truncation's remainder is exact. Far values are held well inside int's
// range first; the callers clamp to the frame anyway.
int nearestInt(double v) {
    v = std::clamp(v, -1e9, 1e9);
    int r = static_cast<int>(v);
    const double rest = v - r;
    if (rest >= 0.5) ++r;
    else if (rest <= -0.5) --r;
    return r;
}

// The same for values well inside int's range, without branches.
int nearestIntNear(double v) {
    const int r = static_cast<int>(v);
    const double rest = v - r;
    return r + static_cast<int>(rest >= 0.5) - static_cast<int>(rest <= -0.5);
}

// The rays' directions, worked out once.
struct RayDirections {
    std::array<double, kRays> cos{}, sin{};
    RayDirections() {
        for (int r = 0; r < kRays; ++r) {
            const double a = 2.0 * std::numbers::pi * r / kRays;
            cos[static_cast<std::size_t>(r)] = std::cos(a);
            sin[static_cast<std::size_t>(r)] = std::sin(a);
        }
    }
};

}  // namespace

int regularRays(const GreyView& view, const FinderHit& hit) {
    if (!(hit.module > 0.5) || view.width < 2 || view.height < 2) return 0;
    static const RayDirections directions;
    const double step = hit.module / kSamplesPerModule;
    // Grey levels along every ray, [1 2 1] smoothed, dark-centred (inverted
    // for a light-on-dark hit).
    std::array<std::array<int, kMaxSamples>, kRays> rays{};
    long sum = 0;
    int count = 0;
    const int inner = static_cast<int>((kEdges - 0.5) * kSamplesPerModule);
    // Where every ray's samples round into the frame, neither the far-value
    // guard nor the clamps can change a sample's pixel.
    const double reach = step * (kMaxSamples - 1) + 1.0;
    const bool inside = hit.x - reach >= 0.0 && hit.y - reach >= 0.0 && hit.x + reach <= view.width - 1 &&
                        hit.y + reach <= view.height - 1;
    const int invert = hit.lightOnDark ? 255 : 0;
    for (int r = 0; r < kRays; ++r) {
        const double dx = directions.cos[static_cast<std::size_t>(r)] * step;
        const double dy = directions.sin[static_cast<std::size_t>(r)] * step;
        std::array<int, kMaxSamples> raw{};
        const auto sample = [&](auto pixelAt) {
            for (int i = 0; i < kMaxSamples; ++i)
                raw[static_cast<std::size_t>(i)] = std::abs(invert - pixelAt(hit.x + dx * i, hit.y + dy * i));
        };
        if (inside)
            sample([&](double x, double y) { return view.at(nearestIntNear(x), nearestIntNear(y)); });
        else
            sample([&](double x, double y) {
                return view.at(std::clamp(nearestInt(x), 0, view.width - 1), std::clamp(nearestInt(y), 0, view.height - 1));
            });
        auto& p = rays[static_cast<std::size_t>(r)];
        p[0] = 4 * raw[0];
        p[kMaxSamples - 1] = 4 * raw[kMaxSamples - 1];
        for (int i = 1; i + 1 < kMaxSamples; ++i)
            p[static_cast<std::size_t>(i)] = raw[static_cast<std::size_t>(i - 1)] + 2 * raw[static_cast<std::size_t>(i)] +
                                             raw[static_cast<std::size_t>(i + 1)];
        for (int i = 0; i < inner; ++i) sum += p[static_cast<std::size_t>(i)];
        count += inner;
    }
    const double threshold = static_cast<double>(sum) / count;
    int valid = 0;
    for (int r = 0; r < kRays; ++r) {
        const auto& p = rays[static_cast<std::size_t>(r)];
        // Threshold crossings, the first from dark, in samples.
        std::array<double, kEdges> c{};
        int found = 0;
        bool dark = true;
        for (int i = 1; i < kMaxSamples && found < kEdges; ++i) {
            const double v = p[static_cast<std::size_t>(i)];
            if (dark ? v <= threshold : v >= threshold) continue;
            const double u = p[static_cast<std::size_t>(i - 1)] - threshold, w = v - threshold;
            c[static_cast<std::size_t>(found++)] = i - 1 + (u == w ? 0.5 : std::clamp(u / (u - w), 0.0, 1.0));
            dark = !dark;
        }
        if (found < kEdges) continue;
        double num = 0.0, den = 0.0;
        for (int k = 2; k <= kEdges; ++k) {
            num += c[static_cast<std::size_t>(k - 1)] * (k - 0.5);
            den += (k - 0.5) * (k - 0.5);
        }
        const double a = num / den;  // samples per module along this ray
        if (a < 0.4 * kSamplesPerModule || a > 2.5 * kSamplesPerModule || c[0] >= 1.2 * a) continue;
        bool regular = true;
        for (int k = 2; k <= kEdges && regular; ++k)
            regular = std::fabs(c[static_cast<std::size_t>(k - 1)] - a * (k - 0.5)) <= kRayTolerance * a;
        if (regular) ++valid;
    }
    return valid;
}

bool looksLikeBullseye(const GreyView& view, const FinderHit& hit) { return regularRays(view, hit) >= kMinValidRays; }

}  // namespace AztecCore::Locate
