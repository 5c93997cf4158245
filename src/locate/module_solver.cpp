#include "locate/module_solver.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace AztecCore::Locate {

namespace {

// Fine samples a module along each axis: about one a pixel at the module
// sizes where noise decides (3.5-6 px); four read no more camera frames.
constexpr int kSamplesPerModule = 3;
// A module's share is left out this many sigmas past its edge.
constexpr double kShareReach = 4.0;
// H's entries below this share of its diagonal are left out of the
// rounds; with them the rounds cost twice as much and read the same.
constexpr double kBandTolerance = 1e-3;
// Rounds of the accelerated gradient from the first estimate: 30 read
// fewer camera frames, 100 no more.
constexpr int kRounds = 60;
// The budget is counted in samples; a bilinear sample through a
// homography costs about as much as this many of the rounds' multiply-adds.
constexpr std::int64_t kMultiplyAddsPerSample = 16;

}  // namespace

std::vector<double> solveModuleLevels(const Sampler& sampler, const Aztec::Math::Homography& h, int m, double sigma,
                                      const KnownLevels& known, const std::vector<double>& start) {
    if (m <= 0 || sigma <= 0.0 || known.light <= known.dark || start.size() != static_cast<std::size_t>((m + 2) * (m + 2)))
        return start;
    // The unknowns reach a module past the levels' grid: blur carries those
    // modules into its outer ring.
    const auto n = static_cast<std::size_t>(m + 2), side = n + 2;
    const auto fine = n * kSamplesPerModule;
    const auto half = static_cast<double>((m - 1) / 2);
    const double span = known.light - known.dark;
    std::vector<double> axis(fine);
    for (std::size_t i = 0; i < fine; ++i)
        axis[i] = -(half + 1.5) + (static_cast<double>(i) + 0.5) / kSamplesPerModule;

    // share[i * side + j]: module j's share at fine sample i along an axis,
    // non-zero only from first[i] to last[i].
    std::vector<double> share(fine * side, 0.0);
    std::vector<std::size_t> first(fine, side), last(fine, 0);
    const double k = 1.0 / (sigma * std::numbers::sqrt2);
    for (std::size_t i = 0; i < fine; ++i) {
        for (std::size_t j = 0; j < side; ++j) {
            const double t = axis[i] - (static_cast<double>(j) - half - 2.0);
            if (std::fabs(t) > 0.5 + kShareReach * sigma) continue;
            share[i * side + j] = 0.5 * (std::erf((t + 0.5) * k) - std::erf((t - 0.5) * k));
            first[i] = std::min(first[i], j);
            last[i] = j;
        }
    }

    // The samples' darkness.
    std::vector<double> dark(fine * fine), xs(fine), ys(fine);
    sampler.atGrid(h, axis.data(), fine, xs.data(), ys.data(), dark.data());
    for (double& d : dark) d = (known.light - d) / span;

    // b = T' D T, through D T; and H = T'T.
    std::vector<double> dt(fine * side, 0.0), b(side * side, 0.0), hh(side * side, 0.0);
    for (std::size_t i = 0; i < fine; ++i)
        for (std::size_t l = 0; l < fine; ++l) {
            const double d = dark[i * fine + l];
            for (std::size_t j = first[l]; j <= last[l]; ++j) dt[i * side + j] += d * share[l * side + j];
        }
    for (std::size_t i = 0; i < fine; ++i)
        for (std::size_t j = first[i]; j <= last[i]; ++j) {
            const double s = share[i * side + j];
            for (std::size_t c = 0; c < side; ++c) b[j * side + c] += s * dt[i * side + c];
            for (std::size_t c = first[i]; c <= last[i]; ++c) hh[j * side + c] += s * share[i * side + c];
        }
    std::size_t band = 0;
    double rowSum = 0.0;  // bounds H's largest eigenvalue
    for (std::size_t j = 0; j < side; ++j) {
        double sum = 0.0;
        for (std::size_t c = 0; c < side; ++c) {
            sum += std::fabs(hh[j * side + c]);
            if (hh[j * side + c] > kBandTolerance * hh[j * side + j]) band = std::max(band, j > c ? j - c : c - j);
        }
        rowSum = std::max(rowSum, sum);
    }
    // The gradient of the fit's cost is H V H - b, whose Lipschitz
    // constant is at most rowSum^2.
    const double step = 1.0 / (rowSum * rowSum);

    // Known modules held (-1: free), in the unknowns' grid.
    std::vector<signed char> held(side * side, -1);
    const auto unknownAt = [&](std::size_t levelIndex) { return (levelIndex / n + 1) * side + levelIndex % n + 1; };
    for (const std::size_t i : known.darkAt)
        if (i < n * n) held[unknownAt(i)] = 1;
    for (const std::size_t i : known.lightAt)
        if (i < n * n) held[unknownAt(i)] = 0;
    std::vector<double> values(side * side, 0.5);
    for (std::size_t i = 0; i < n * n; ++i) values[unknownAt(i)] = std::clamp((known.light - start[i]) / span, 0.0, 1.0);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (held[i] >= 0) values[i] = held[i];

    // FISTA: each round steps from `ahead`, the values carried on past the
    // last ones by the momentum. The gradient H V H - b is taken as
    // (H (H V)')' (H is symmetric), both products a row of multiply-adds
    // at a time, which vectorise.
    std::vector<double> ahead(values), hv(values.size()), hvT(values.size()), gT(values.size());
    // out = H in, a row at a time, each row's terms in the order of q.
    const auto multiply = [&](const std::vector<double>& in, std::vector<double>& out) {
        for (std::size_t j = 0; j < side; ++j) {
            double* const row = out.data() + j * side;
            std::fill(row, row + side, 0.0);
            const std::size_t lo = j > band ? j - band : 0, hi = std::min(side - 1, j + band);
            for (std::size_t q = lo; q <= hi; ++q) {
                const double w = hh[j * side + q];
                const double* const from = in.data() + q * side;
                for (std::size_t c = 0; c < side; ++c) row[c] += w * from[c];
            }
        }
    };
    double momentum = 1.0;
    for (int round = 0; round < kRounds; ++round) {
        multiply(ahead, hv);
        for (std::size_t j = 0; j < side; ++j)
            for (std::size_t c = 0; c < side; ++c) hvT[c * side + j] = hv[j * side + c];
        multiply(hvT, gT);
        const double next = 0.5 * (1.0 + std::sqrt(1.0 + 4.0 * momentum * momentum));
        const double carry = (momentum - 1.0) / next;
        for (std::size_t j = 0; j < side; ++j)
            for (std::size_t c = 0; c < side; ++c) {
                const std::size_t i = j * side + c;
                const double gradient = gT[c * side + j] - b[i];
                const double moved = held[i] >= 0 ? held[i] : std::clamp(ahead[i] - step * gradient, 0.0, 1.0);
                ahead[i] = moved + carry * (moved - values[i]);
                values[i] = moved;
            }
        momentum = next;
    }
    sampler.charge(static_cast<std::int64_t>(2 * kRounds * side * side * (2 * band + 1)) / kMultiplyAddsPerSample);

    std::vector<double> levels(n * n);
    for (std::size_t i = 0; i < n * n; ++i) levels[i] = known.light - span * values[unknownAt(i)];
    return levels;
}

}  // namespace AztecCore::Locate
