#include "locate/symbol_sampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>
#include <string>
#include <vector>

#include "decode/codeword_layout.h"
#include "decode/erasure_decoder.h"
#include "decode/reed_solomon.h"
#include "decode/mode_message.h"
#include "locate/bullseye_model_fit.h"
#include "locate/curved_grid.h"
#include "locate/warped_grid.h"
#include "locate/module_solver.h"

namespace AztecCore::Locate {

namespace {

using Aztec::Math::Homography;

// Heavily blurred modules are also read from wider samples: the mean of a
// 3 x 3 patch of points this far apart (modules), which averages more of
// the noise and JPEG's errors that survive the cross, deblurred for
// kWideExtraBlur more than the blur measured. The patch itself adds about
// 0.05 module of blur, and on camera frames the blur measured on the
// bull's-eye falls short by about as much again: through the exact
// transform of 23 camera-mix frames this misread 43 % fewer modules.
constexpr double kWideSpread = 0.33;
constexpr double kWideExtraBlur = 0.1;
constexpr int kCompactModeRing = 5, kFullRangeModeRing = 7;
constexpr double kRingFractions[] = {0.5, 0.4, 0.6, 0.3, 0.7};
// Mode rings are read against the bull's-eye's rings inside them up to
// this blur (modules).
constexpr double kCoreReferenceBlur = 0.5;
constexpr int kCell = 16;  // reference grid spacing
// Classification window: the module and two on each side.
constexpr int kWindowHalf = 2;
// Sharpening strengths tried when plain samples fail: blur mixes each
// module with its four neighbours, and subtracting that mix back restores
// contrast.
constexpr double kSharpen[] = {0.0, 1.0, 2.5};
// Sub-module moves of the transform tried after that: shifts along u and v
// and a slightly larger and smaller scale.
struct Move {
    double du, dv, scale;
};
constexpr Move kMoves[] = {{0.2, 0.0, 1.0},  {-0.2, 0.0, 1.0}, {0.0, 0.2, 1.0},
                           {0.0, -0.2, 1.0}, {0.0, 0.0, 1.012}, {0.0, 0.0, 0.988}};
// Reference-grid search: offsets up to this many modules, in quarter steps.
constexpr int kSearchSteps = 4;
constexpr int kStepsPerModule = 4;
constexpr double kSearchStep = 1.0 / kStepsPerModule;
constexpr int kLineReach = 6;
// The refit against the known core starts from at least this blur
// (modules), and is taken when it moves the centre less than this much.
constexpr double kMinModelSigma = 0.3;
constexpr double kMaxRefineMove = 0.5;
// The mode ring is read again through a transform refitted with the ring
// as first seen from this blur (modules) on.
constexpr double kModeRefitBlur = 0.45;
// Turns (degrees) and scales of the fit through which such a ring is
// looked for when neither reads it, nearest first.
constexpr std::pair<double, double> kTurns[] = {
    {3.0, 1.0},   {-3.0, 1.0},  {0.0, 1.03},  {0.0, 0.97},  {6.0, 1.0},   {-6.0, 1.0},  {3.0, 1.03},
    {-3.0, 1.03}, {3.0, 0.97},  {-3.0, 0.97}, {9.0, 1.0},   {-9.0, 1.0},  {6.0, 1.03},  {-6.0, 1.03},
    {6.0, 0.97},  {-6.0, 0.97}, {0.0, 1.06},  {0.0, 0.94},
};
// Turns (degrees) and scales of the transform through which a heavily
// blurred symbol's data is read last, when no refit reads it. Fits of
// blurred rings are often 1 % off in scale: a sixth of a module at the
// edge of a 31-module symbol.
constexpr std::pair<double, double> kDataTurns[] = {
    {0.0, 1.01}, {0.0, 0.99}, {1.5, 1.0}, {-1.5, 1.0}, {0.0, 1.02}, {0.0, 0.98}, {3.0, 1.0},
    {-3.0, 1.0}, {1.5, 1.02}, {-1.5, 1.02}, {1.5, 0.98}, {-1.5, 0.98},
};
// Module levels are solved from every pixel (module_solver.h) where the
// bull's-eye's modules spread about their model by at least this share of
// the contrast: sensor noise and JPEG's errors, where the few samples
// round each module's centre fall short. Blurred frames of little noise
// spread under 0.008, camera frames 0.012-0.027 (10th to 90th
// percentile); those gain, the others would only spend the budget.
constexpr double kSolveNoise = 0.01;
// A solve costs about as much as ten samplings over the modules' patches:
// a symbol's first few transforms are solved (the levels as sampled, the
// refits, the first turns), the rest would spend the budget that later
// candidates and looks need. Symbols larger than kMaxSymbolRefit are not
// solved: one of 151 modules takes 12 ms.
constexpr int kMaxSolves = 6;
// Symbols up to this size are refitted whole when the first samplings fail
// (larger ones would cost too much), in this many passes.
constexpr int kMaxSymbolRefit = 57;
constexpr int kSymbolRefitPasses = 2;
// The growing refit adds this many modules a side at each step.
constexpr int kGrowStep = 4;
// Errors-and-erasures decoding: tried on the first few samplings only,
// with up to these shares of the check words (less the spare ones) erased.
constexpr int kSpareCheckWords = 2;
constexpr int kMaxErasureAttempts = 6;
constexpr double kErasureShares[] = {0.25, 0.5, 0.75, 1.0};
// Shares whose miscorrection chance (see log10Miscorrection) exceeds this
// are not tried.
constexpr double kMaxLog10Miscorrection = -10.0;
// A plain correction is taken only when a block of random words would
// decode with as many corrections at most this often. The search makes a
// few hundred decoding attempts on a symbol damaged beyond repair (200 on
// average on the soak's, 380 blurred, up to about 1,200), so a symbol comes
// back wrong about once in 100,000, as from the centre search's one
// decoding at 10^-5. Spare check words alone let through two corrections
// of a one-layer compact symbol's 6 check words, at 10^-5.1 an attempt: a
// blurred soak frame read wrong so. A single correction there (10^-7.8)
// stays.
constexpr double kMaxLog10PlainCorrection = -7.5;

// A refit is taken when it moves the grid's centre by at most
// kMaxRefineMove of a module: one that moves it further has lost its way.
bool movedLittle(const Homography& from, const Homography& to) {
    const Point2d a = Aztec::Math::mapPoint(from, 0.0, 0.0);
    const Point2d b = Aztec::Math::mapPoint(to, 0.0, 0.0);
    const Point2d a1 = Aztec::Math::mapPoint(from, 1.0, 0.0);
    return std::hypot(b.x - a.x, b.y - a.y) <= kMaxRefineMove * std::hypot(a1.x - a.x, a1.y - a.y);
}

double moduleLevel(const Sampler& s, const Homography& h, double u, double v) {
    return crossLevel(s, [&](double du, double dv) { return Aztec::Math::mapPoint(h, u + du, v + dv); });
}

// Module levels of the symbol and one module round it: entry (x + 1) *
// (m + 2) + (y + 1) holds grid u = x - (m - 1) / 2, v = y - (m - 1) / 2.
// `wide` samples each module over its 3 x 3 patch of points kWideSpread
// apart rather than its cross. A line of modules at a time: first where
// all their samples lie, then their grey levels together (Sampler::atEach),
// then each module's mean; the plain levels are moduleLevel's to the last
// bit.
std::vector<double> sampleLevels(const Sampler& s, const Homography& h, int m, const Move& move, bool wide = false) {
    const int n = m + 2;
    const int half = (m - 1) / 2;
    const std::size_t per = wide ? 9 : std::size(kCrossMoves);
    std::vector<double> levels(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    std::vector<double> xs(per * static_cast<std::size_t>(n)), ys(xs.size()), seen(xs.size());
    s.charge(static_cast<std::int64_t>(per) * n * n);
    for (int x = -1; x <= m; ++x) {
        const double u = (x - half) * move.scale + move.du;
        std::size_t k = 0;
        const auto place = [&](double atU, double atV) {
            const Point2d p = Aztec::Math::mapPoint(h, atU, atV);
            xs[k] = p.x;
            ys[k] = p.y;
            ++k;
        };
        for (int y = -1; y <= m; ++y) {
            const double v = (y - half) * move.scale + move.dv;
            if (wide) {
                for (int i = -1; i <= 1; ++i)
                    for (int j = -1; j <= 1; ++j) place(u + i * kWideSpread, v + j * kWideSpread);
            } else {
                for (const auto& c : kCrossMoves) place(u + c[0], v + c[1]);
            }
        }
        s.atEach(xs.data(), ys.data(), k, seen.data());
        double* const line = levels.data() + static_cast<std::ptrdiff_t>(x + 1) * n;
        for (int y = 0; y < n; ++y) {
            const double* mine = seen.data() + static_cast<std::size_t>(y) * per;
            double sum = 0.0;
            for (std::size_t t = 0; t < per; ++t) sum += mine[t];
            line[y] = sum / static_cast<double>(per);
        }
    }
    return levels;
}

// Classifies each module against the mean of its window, after
// sharpening by `alpha`; with `fixedThreshold` >= 0 against that instead.
// `margin` (m x m, when given) receives how far each module's level lay
// from its threshold.
Aztec::ModuleMatrix classify(const std::vector<double>& levels, int m, double alpha, double fixedThreshold,
                             std::vector<double>* margin = nullptr) {
    const int n = m + 2;
    std::vector<double> sharp(levels);
    if (alpha > 0.0) {
        for (int x = 1; x <= m; ++x) {
            for (int y = 1; y <= m; ++y) {
                const auto at = [&](int a, int b) { return levels[static_cast<std::size_t>(a * n + b)]; };
                const double around = 0.25 * (at(x - 1, y) + at(x + 1, y) + at(x, y - 1) + at(x, y + 1));
                sharp[static_cast<std::size_t>(x * n + y)] = at(x, y) + alpha * (at(x, y) - around);
            }
        }
    }
    // Window means from a summed-area table of the padded levels.
    std::vector<double> sat(static_cast<std::size_t>(n + 1) * static_cast<std::size_t>(n + 1), 0.0);
    for (int x = 0; x < n; ++x)
        for (int y = 0; y < n; ++y)
            sat[static_cast<std::size_t>((x + 1) * (n + 1) + (y + 1))] = sharp[static_cast<std::size_t>(x * n + y)] +
                                                                         sat[static_cast<std::size_t>(x * (n + 1) + (y + 1))] +
                                                                         sat[static_cast<std::size_t>((x + 1) * (n + 1) + y)] -
                                                                         sat[static_cast<std::size_t>(x * (n + 1) + y)];
    Aztec::ModuleMatrix matrix(static_cast<std::size_t>(m), Aztec::BitList(static_cast<std::size_t>(m)));
    for (int x = 0; x < m; ++x) {
        const int x0 = std::max(0, x + 1 - kWindowHalf), x1 = std::min(n - 1, x + 1 + kWindowHalf);
        for (int y = 0; y < m; ++y) {
            const double value = sharp[static_cast<std::size_t>((x + 1) * n + (y + 1))];
            double threshold = fixedThreshold;
            if (threshold < 0.0) {
                const int y0 = std::max(0, y + 1 - kWindowHalf), y1 = std::min(n - 1, y + 1 + kWindowHalf);
                const double total = sat[static_cast<std::size_t>((x1 + 1) * (n + 1) + (y1 + 1))] -
                                     sat[static_cast<std::size_t>(x0 * (n + 1) + (y1 + 1))] -
                                     sat[static_cast<std::size_t>((x1 + 1) * (n + 1) + y0)] +
                                     sat[static_cast<std::size_t>(x0 * (n + 1) + y0)];
                threshold = total / ((x1 - x0 + 1) * (y1 - y0 + 1));
            }
            matrix[static_cast<std::size_t>(x)].set(y, value < threshold);
            if (margin) (*margin)[static_cast<std::size_t>(x * m + y)] = std::fabs(value - threshold);
        }
    }
    return matrix;
}

// The module levels round one crossing (u, v) of the reference grid, on
// the lattice of search steps: along(p, b) at grid (u + p / 4, v + b / 4),
// on the line v, and across(a, p) at (u + a / 4, v + p / 4), on the line u
// (in steps of kSearchStep). Offset a of line module k is the point of
// offset a - 4 of module k + 1, so the offsets tried share most points;
// each is sampled when first wanted, at exactly the coordinates the search
// names it by (multiples of a quarter are exact).
class CrossingLevels {
public:
    CrossingLevels(const Sampler& s, const Homography& h, int u, int v) : s_(s), h_(h), u_(u), v_(v) {
        along_.fill(kUnknown);
        across_.fill(kUnknown);
    }
    double along(int p, int b) {
        double& l = along_[index(p, b)];
        if (l == kUnknown) l = moduleLevel(s_, h_, u_ + p * kSearchStep, v_ + b * kSearchStep);
        return l;
    }
    double across(int a, int p) {
        double& l = across_[index(p, a)];
        if (l == kUnknown) l = moduleLevel(s_, h_, u_ + a * kSearchStep, v_ + p * kSearchStep);
        return l;
    }

private:
    static constexpr int kAlong = kStepsPerModule * kLineReach + kSearchSteps;  // reach of p
    static constexpr std::size_t kPoints = (2 * kAlong + 1) * (2 * kSearchSteps + 1);
    static constexpr double kUnknown = -1.0;  // levels lie in 0 .. 255
    static std::size_t index(int p, int offset) {
        return static_cast<std::size_t>((p + kAlong) * (2 * kSearchSteps + 1) + offset + kSearchSteps);
    }
    const Sampler& s_;
    const Homography& h_;
    int u_, v_;
    std::array<double, kPoints> along_, across_;
};

// How well the two reference lines through the crossing show their
// alternating modules when looked for a, b search steps off it: dark at
// even coordinates, light at odd ones.
double lineScore(CrossingLevels& levels, int u, int v, int a, int b, int half) {
    double score = 0.0;
    for (int k = -kLineReach; k <= kLineReach; ++k) {
        if (k == 0) continue;
        const double sign = (k % 2 == 0) ? -1.0 : 1.0;  // light levels count up, dark down
        if (std::abs(u + k) <= half) score += sign * levels.along(kStepsPerModule * k + a, b);
        if (std::abs(v + k) <= half) score += sign * levels.across(a, kStepsPerModule * k + b);
    }
    return score;
}

// A full-range symbol's transform corrected by its reference grid: each
// crossing of the lines every 16 modules is looked for near where the
// current transform puts it, ring by ring outwards, and the transform is
// refitted through all crossings found and the bull's-eye's corners.
Homography referenceGridFit(const Sampler& s, const Homography& start, int size) {
    const int half = (size - 1) / 2;
    const int rings = half / kCell;
    if (rings == 0) return start;
    Homography h = start;
    std::vector<Point2d> src, dst;
    for (double d : {-3.5, 3.5}) {
        for (double e : {-3.5, 3.5}) {
            src.push_back({d, e});
            dst.push_back(Aztec::Math::mapPoint(start, d, e));
        }
    }
    src.push_back({0.0, 0.0});
    dst.push_back(Aztec::Math::mapPoint(start, 0.0, 0.0));
    for (int ring = 1; ring <= rings; ++ring) {
        for (int j = -ring; j <= ring; ++j) {
            for (int i = -ring; i <= ring; ++i) {
                if (std::max(std::abs(i), std::abs(j)) != ring) continue;
                const int u = kCell * i, v = kCell * j;
                double best = -1e18, bu = 0.0, bv = 0.0;
                CrossingLevels levels(s, h, u, v);
                for (int a = -kSearchSteps; a <= kSearchSteps; ++a) {
                    for (int b = -kSearchSteps; b <= kSearchSteps; ++b) {
                        const double sc = lineScore(levels, u, v, a, b, half);
                        if (sc > best) {
                            best = sc;
                            bu = a * kSearchStep;
                            bv = b * kSearchStep;
                        }
                    }
                }
                if (best <= 0.0) continue;
                src.push_back({1.0 * u, 1.0 * v});
                dst.push_back(Aztec::Math::mapPoint(h, u + bu, v + bv));
            }
        }
        if (src.size() >= 5) h = Aztec::Math::fitHomographyLeastSquares(src, dst);
    }
    return h;
}


// Weights of a module and its neighbours 1 and 2 modules away in the level
// sampled at a module centre, for Gaussian blur of `sigma` modules (one
// axis; the blur is separable).
std::array<double, 3> blurWeights(double sigma) {
    if (sigma <= 0.05) return {1.0, 0.0, 0.0};
    const double k = 1.0 / (sigma * std::sqrt(2.0));
    const double e05 = std::erf(0.5 * k), e15 = std::erf(1.5 * k), e25 = std::erf(2.5 * k);
    return {e05, 0.5 * (e15 - e05), 0.5 * (e25 - e15)};
}

// The blur applied to an n x n grid of module values (edges repeated).
[[gnu::always_inline]] inline void blurGrid(const std::vector<double>& in, std::vector<double>& out,
                                            std::vector<double>& tmp, int n, const std::array<double, 3>& w) {
    tmp.resize(in.size());
    out.resize(in.size());
    const auto line = [n](const std::vector<double>& g, int x) {
        return g.data() + static_cast<std::ptrdiff_t>(std::clamp(x, 0, n - 1)) * n;
    };
    // Along x a whole line of y at a time, the neighbouring lines clamped.
    for (int x = 0; x < n; ++x) {
        const double *c = line(in, x), *l1 = line(in, x - 1), *r1 = line(in, x + 1), *l2 = line(in, x - 2),
                     *r2 = line(in, x + 2);
        double* t = tmp.data() + static_cast<std::ptrdiff_t>(x) * n;
        for (int y = 0; y < n; ++y) t[y] = w[0] * c[y] + w[1] * (l1[y] + r1[y]) + w[2] * (l2[y] + r2[y]);
    }
    // Along y: clamped within two of a line's ends, plain between them.
    for (int x = 0; x < n; ++x) {
        const double* t = tmp.data() + static_cast<std::ptrdiff_t>(x) * n;
        double* o = out.data() + static_cast<std::ptrdiff_t>(x) * n;
        const auto edge = [&](int y) {
            const auto at = [&](int k) { return t[std::clamp(k, 0, n - 1)]; };
            o[y] = w[0] * t[y] + w[1] * (at(y - 1) + at(y + 1)) + w[2] * (at(y - 2) + at(y + 2));
        };
        const int first = std::min(2, n), last = std::max(first, n - 2);
        for (int y = 0; y < first; ++y) edge(y);
        for (int y = first; y < last; ++y) o[y] = w[0] * t[y] + w[1] * (t[y - 1] + t[y + 1]) + w[2] * (t[y - 2] + t[y + 2]);
        for (int y = last; y < n; ++y) edge(y);
    }
}

// Whether a model's deblurring holds the known modules: where it deblurs
// at all, and has a range of levels to hold them at.
bool holdsKnown(const ModuleModel& model) { return model.sigma > kSharpBlur && model.light > model.dark; }

// The known modules are the bull's-eye; the mode ring's message modules,
// when `ring` (its modules as corrected, clockwise from (-h, -h) as
// readModeRing gives them) is given; and, on a full-range symbol, the
// reference grid out to `gridReach` modules from the centre (dark at even
// coordinates along its lines). None where the model does not hold them.
KnownLevels knownModules(int n, bool compact, int gridReach, const Aztec::BitList* ring, const ModuleModel& model) {
    KnownLevels levels;
    levels.dark = model.dark;
    levels.light = model.light;
    const int c = (n - 1) / 2;
    const int outer = compact ? kCompactModeRing - 1 : kFullRangeModeRing - 1;
    // (No symbol is smaller than its bull's-eye; the guard keeps `at` within the grid.)
    if (!holdsKnown(model) || outer > c) return levels;
    constexpr signed char kUnknown = -1, kLight = 0, kDark = 1;
    std::vector<signed char> known(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), kUnknown);
    const auto at = [&](int u, int v) -> signed char& { return known[static_cast<std::size_t>((u + c) * n + (v + c))]; };
    for (int u = -outer; u <= outer; ++u)
        for (int v = -outer; v <= outer; ++v) at(u, v) = std::max(std::abs(u), std::abs(v)) % 2 == 0 ? kDark : kLight;
    if (!compact) {
        const int reach = std::min(gridReach, c);
        for (int line = -(reach / kCell) * kCell; line <= reach; line += kCell) {
            for (int k = -reach; k <= reach; ++k) {
                const signed char colour = k % 2 == 0 ? kDark : kLight;
                at(line, k) = colour;
                at(k, line) = colour;
            }
        }
    }
    const int h = outer + 1;
    if (ring && h <= c) {
        const int len = 2 * h;
        for (int k = 0; k < 4; ++k) {
            // Modules 0 and 1 of a side and the last of the one before are
            // the corner's orientation marks; a full-range ring's middle
            // modules belong to the reference grid.
            for (int i = 2; i < len - 1; ++i) {
                const auto [u, v] = modeRingOffset(k, i, h);
                if (compact || (u != 0 && v != 0)) at(u, v) = ring->get(k * len + i) ? kDark : kLight;
            }
        }
    }
    for (std::size_t i = 0; i < known.size(); ++i) {
        if (known[i] == kDark) levels.darkAt.push_back(i);
        if (known[i] == kLight) levels.lightAt.push_back(i);
    }
    return levels;
}

// Undoes the blur of a grid of module levels by Van Cittert iteration:
// x <- x + (levels - blur(x)), each round's levels held within [lo, hi].
// Each round restores more of the finest detail (a checkerboard keeps only
// a few per cent of its contrast under heavy blur). Modules that `known`
// fixes are held at its levels: exact, they sharpen their neighbours far
// better than their own noisy estimates do (under blur of 0.9 module two
// in five of the symbols that failed to read now read).
[[gnu::always_inline]] inline void vanCittertRounds(const std::vector<double>& levels, int n,
                                                    const std::array<double, 3>& w, int rounds, double lo, double hi,
                                                    const KnownLevels* known, std::vector<double>& x) {
    std::vector<double> blurred, tmp;
    const auto pin = [&]() {
        if (!known) return;
        for (const std::size_t i : known->darkAt) x[i] = known->dark;
        for (const std::size_t i : known->lightAt) x[i] = known->light;
    };
    pin();
    for (int round = 0; round < rounds; ++round) {
        blurGrid(x, blurred, tmp, n, w);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::clamp(x[i] + (levels[i] - blurred[i]), lo, hi);
        pin();
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define QUARROW_AVX2_DEBLUR 1
// The same rounds compiled for AVX2, where the processor has it: the
// loops vectorise four lanes wide rather than two, with the same
// operations in the same order on each element (no fused multiply-add),
// so the same bits.
__attribute__((target("avx2"))) void vanCittertAvx2(const std::vector<double>& levels, int n,
                                                    const std::array<double, 3>& w, int rounds, double lo, double hi,
                                                    const KnownLevels* known, std::vector<double>& x) {
    vanCittertRounds(levels, n, w, rounds, lo, hi, known, x);
}
#endif

std::vector<double> vanCittert(const std::vector<double>& levels, int n, double sigma, int rounds, double lo,
                               double hi, const KnownLevels* known) {
    const auto w = blurWeights(sigma);
    std::vector<double> x(levels);
#if defined(QUARROW_AVX2_DEBLUR)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        vanCittertAvx2(levels, n, w, rounds, lo, hi, known, x);
        return x;
    }
#endif
    vanCittertRounds(levels, n, w, rounds, lo, hi, known, x);
    return x;
}

// Unbounded, a limited number of rounds keeps the noise in check that
// each round amplifies.
constexpr int kDeblurRounds = 30;
std::vector<double> deblur(const std::vector<double>& levels, int n, double sigma, const KnownLevels* known = nullptr) {
    if (sigma <= kSharpBlur) return levels;
    constexpr double kUnbounded = std::numeric_limits<double>::infinity();
    return vanCittert(levels, n, sigma, kDeblurRounds, -kUnbounded, kUnbounded, known);
}

// Held within the levels a module can have, [dark, light]. Modules are
// two-valued, and the bound stops the noise from swamping the finest
// detail, so the iteration can run longer and restore more of it: under
// blur of 0.9 module it misclassifies about a third as many modules as the
// free iteration, whose levels then want the fixed threshold half-way
// between dark and light rather than their neighbourhood's mean.
constexpr int kBoundedDeblurRounds = 60;
std::vector<double> deblurBounded(const std::vector<double>& levels, int n, double sigma, const KnownLevels& known) {
    return vanCittert(levels, n, sigma, kBoundedDeblurRounds, known.dark, known.light, &known);
}

}  // namespace

ModuleModel measureModules(const Sampler& sampler, const BullseyeFit& fit) {
    // The bull's-eye's modules out to its outermost dark ring are known
    // (dark at even ring distances); those whose neighbours two modules
    // away are known too are compared with the blur of the known pattern.
    const int outer = fit.compact ? 4 : 6;
    const int n = 2 * outer + 1;
    std::vector<double> known(static_cast<std::size_t>(n * n)), seen(known.size());
    for (int x = 0; x < n; ++x) {
        for (int y = 0; y < n; ++y) {
            const int u = x - outer, v = y - outer;
            known[static_cast<std::size_t>(x * n + y)] = std::max(std::abs(u), std::abs(v)) % 2 == 0 ? 0.0 : 1.0;
            seen[static_cast<std::size_t>(x * n + y)] = moduleLevel(sampler, fit.toImage, u, v);
        }
    }
    ModuleModel best;
    best.dark = fit.dark;
    best.light = fit.light;
    double bestError = -1.0;
    std::vector<double> blurred, tmp;
    for (int step = 0; step <= 11; ++step) {
        const double sigma = 0.1 * step;
        blurGrid(known, blurred, tmp, n, blurWeights(sigma));
        // Least squares of seen = dark + (light - dark) * blurred.
        double sb = 0, ss = 0, sbb = 0, sbs = 0;
        int count = 0;
        for (int x = 2; x < n - 2; ++x) {
            for (int y = 2; y < n - 2; ++y) {
                const double b = blurred[static_cast<std::size_t>(x * n + y)], v = seen[static_cast<std::size_t>(x * n + y)];
                sb += b;
                ss += v;
                sbb += b * b;
                sbs += b * v;
                ++count;
            }
        }
        const double det = count * sbb - sb * sb;
        if (std::fabs(det) < 1e-9) continue;
        const double gain = (count * sbs - sb * ss) / det;
        const double dark = (ss - gain * sb) / count;
        double error = 0.0;
        for (int x = 2; x < n - 2; ++x) {
            for (int y = 2; y < n - 2; ++y) {
                const double e = seen[static_cast<std::size_t>(x * n + y)] - (dark + gain * blurred[static_cast<std::size_t>(x * n + y)]);
                error += e * e;
            }
        }
        if (gain > 0.0 && (bestError < 0.0 || error < bestError)) {
            bestError = error;
            best.sigma = sigma;
            best.dark = dark;
            best.light = dark + gain;
            best.noise = std::sqrt(error / count);
        }
    }
    return best;
}

namespace {

// The mode ring read through the fit's transform. When no threshold
// corrects, `guess` receives the ring as the last threshold saw it.
//
// With `againstCore` each module is instead taken against the bull's-eye's
// rings just inside it. Light that changes across the ring (a highlight
// on glossy paper or a screen, the edge of a shadow) moves the ring's
// levels from place to place, and no one threshold parts them; the rings
// inside carry the same change. Each module's level is taken as a share
// of the way from the dark ring beside it (h - 1) to the light ring inside
// that (h - 2), at their nearest modules, and the shares are parted. When
// no share corrects, the words least sure of their modules (where the
// light washed the rings out, or a level lay near its threshold) are
// erased (decodeModeMessageWithErasures).
bool readModeRingAt(const Sampler& sampler, const BullseyeFit& fit, const ModuleModel& model, SymbolCandidate& cand,
                    Aztec::BitList* ring, Aztec::BitList& guess, bool againstCore = false) {
    cand.type = fit.compact ? SymbolType::Compact : SymbolType::FullRange;
    const int h = fit.compact ? kCompactModeRing : kFullRangeModeRing;
    const int len = 2 * h;
    // The core and one module round the ring, deblurred together.
    const int n = 2 * h + 3;
    const int o = h + 1;
    std::vector<double> patch(static_cast<std::size_t>(n * n));
    for (int x = 0; x < n; ++x)
        for (int y = 0; y < n; ++y) patch[static_cast<std::size_t>(x * n + y)] = moduleLevel(sampler, fit.toImage, x - o, y - o);
    // The bull's-eye's modules are held at the model's levels through the
    // deblurring.
    const KnownLevels known = knownModules(n, fit.compact, o, nullptr, model);
    Aztec::BitList bits(static_cast<std::size_t>(4 * len));
    std::vector<double> samples(static_cast<std::size_t>(4 * len));
    std::vector<double> certainty(againstCore ? samples.size() : 0);
    auto tryThreshold = [&](double t) {
        for (std::size_t i = 0; i < samples.size(); ++i) bits.set(static_cast<std::int64_t>(i), samples[i] < t);
        if (!Aztec::decodeModeMessage(cand, bits, /*extended=*/true)) return false;
        if (ring) *ring = bits;
        return true;
    };
    // As sampled, deblurred, and deblurred within the levels' bounds.
    for (int pass = 0; pass < 3; ++pass) {
        const double sigma = pass == 0 ? 0.0 : model.sigma;
        if (pass > 0 && sigma <= kSharpBlur) continue;
        if (pass == 2 && !(model.light > model.dark)) continue;
        const std::vector<double> sharp =
            pass == 2 ? deblurBounded(patch, n, sigma, known) : deblur(patch, n, sigma, &known);
        auto at = [&](int u, int v) { return sharp[static_cast<std::size_t>((u + o) * n + (v + o))]; };
        const double dark = sigma > 0.0 ? model.dark : fit.dark, light = sigma > 0.0 ? model.light : fit.light;
        if (againstCore) {
            const double contrast = std::max(light - dark, 1.0);
            // The ring at distance r from the centre, nearest (u, v).
            auto onRing = [&](int u, int v, int r) { return at(std::clamp(u, -r, r), std::clamp(v, -r, r)); };
            for (int extrapolate = 0; extrapolate < 2; ++extrapolate) {
                for (int k = 0; k < 4; ++k) {
                    for (int i = 0; i < len; ++i) {
                        const auto [u, v] = modeRingOffset(k, i, h);
                        double d = onRing(u, v, h - 1), l = onRing(u, v, h - 2);
                        if (extrapolate) {
                            // A highlight's levels climb steeply over a few
                            // modules: each level is carried on out to the
                            // ring along the line from the ring of its kind
                            // two further in. The dark ring lies a module
                            // in, the one before it three (half their
                            // difference a module); the light one two, the
                            // one before it four (all of theirs, two modules).
                            d += 0.5 * (d - onRing(u, v, h - 3));
                            l += l - onRing(u, v, h - 4);
                        }
                        const auto m = static_cast<std::size_t>(k * len + i);
                        samples[m] = l > d ? (at(u, v) - d) / (l - d) : 0.5;
                        certainty[m] = l > d ? std::fabs(at(u, v) - 0.5 * (d + l)) / contrast : 0.0;
                    }
                }
                for (double f : kRingFractions) {
                    if (tryThreshold(f)) return true;
                }
                for (std::size_t i = 0; i < samples.size(); ++i) bits.set(static_cast<std::int64_t>(i), samples[i] < 0.5);
                // The ring's modules are not handed back: its doubtful marks
                // may be wrong, and they are no known modules for the data.
                if (Aztec::decodeModeMessageWithErasures(cand, bits, certainty, /*extended=*/true)) {
                    if (ring) *ring = Aztec::BitList{};
                    return true;
                }
            }
            continue;
        }
        // Clockwise from the corner module (-h, -h), each side from its first corner.
        double sum = 0.0;
        for (int k = 0; k < 4; ++k) {
            for (int i = 0; i < len; ++i) {
                const auto [u, v] = modeRingOffset(k, i, h);
                const double level = at(u, v);
                samples[static_cast<std::size_t>(k * len + i)] = level;
                sum += level;
            }
        }
        for (double f : kRingFractions) {
            if (tryThreshold(dark + f * (light - dark))) return true;
        }
        // The ring's own mean: under blur its modules lean towards the dark
        // ring inside them.
        if (tryThreshold(sum / static_cast<double>(samples.size()))) return true;
        if (pass < 2) guess = bits;
    }
    return false;
}

}  // namespace

bool readModeRing(const Sampler& sampler, const BullseyeFit& fit, const ModuleModel& model, SymbolCandidate& cand,
                  Aztec::BitList* ring) {
    Aztec::BitList guess;
    if (readModeRingAt(sampler, fit, model, cand, ring, guess)) return true;
    // Under heavy blur the bull's-eye alone can leave the transform a
    // fifth of a module off, enough to lose the ring. Fitted again with the
    // ring as last seen (most of its modules right), the transform comes
    // nearer, and the ring is read once more.
    if (model.sigma > kModeRefitBlur && guess.size() != 0) {
        const auto refined = refineWithModeRing(sampler, fit, guess, model.sigma);
        if (refined && movedLittle(fit.toImage, refined->fit.toImage)) {
            BullseyeFit moved = fit;
            moved.toImage = refined->fit.toImage;
            if (readModeRingAt(sampler, moved, model, cand, ring, guess)) return true;
        }
    }
    // Last, each module against the rings inside it: where the light
    // changes across the ring. Under heavy blur those rings' levels say
    // little of the ring's.
    if (model.sigma > kCoreReferenceBlur) return false;
    if (readModeRingAt(sampler, fit, model, cand, ring, guess, /*againstCore=*/true)) return true;
    // A highlight over the bull's-eye also pulls its fit, a fifth of a
    // module or so: the ring is looked for through the fit moved that far.
    for (const Move& move : kMoves) {
        if (sampler.budgetSpent()) return false;
        BullseyeFit moved = fit;
        moved.toImage = shifted(fit.toImage, move.du, move.dv, move.scale);
        if (readModeRingAt(sampler, moved, model, cand, ring, guess, /*againstCore=*/true)) return true;
    }
    return false;
}

bool readTurnedModeRing(const Sampler& sampler, const BullseyeFit& fit, const ModuleModel& model, SymbolCandidate& cand,
                        Aztec::BitList& ring, Homography& through) {
    if (model.sigma <= kModeRefitBlur) return false;
    BullseyeFit moved = fit;
    Aztec::BitList guess;
    for (const auto& [degrees, scale] : kTurns) {
        if (sampler.budgetSpent()) return false;
        moved.toImage = turned(fit.toImage, degrees, scale);
        // A rune is its mode message alone, two words guarded by five that
        // correct two errors: one in a few hundred rings of clutter decodes
        // as some rune, and the turns give each fit hundreds of tries. Only
        // a symbol whose data must correct too is taken from a turn.
        if (readModeRingAt(sampler, moved, model, cand, &ring, guess) && cand.rune < 0) {
            through = moved.toImage;
            return true;
        }
    }
    return false;
}

namespace {

// A rune holds its value in the mode ring and nothing round it: only its
// quiet zone (ring 6, light all round) tells it from a larger symbol whose
// damaged mode message came near a rune's.
std::optional<SymbolRead> readRune(const Sampler& sampler, const BullseyeFit& fit, const SymbolCandidate& cand) {
    constexpr int kQuietRing = 6;
    const double mid = 0.5 * (fit.dark + fit.light);
    for (int i = -kQuietRing; i < kQuietRing; ++i) {
        const double ring[4][2] = {{1.0 * i, -kQuietRing}, {kQuietRing, 1.0 * i}, {-1.0 * i, kQuietRing}, {-kQuietRing, -1.0 * i}};
        for (const auto& p : ring)
            if (moduleLevel(sampler, fit.toImage, p[0], p[1]) <= mid) return std::nullopt;
    }
    SymbolRead read;
    read.candidate = cand;
    const std::string digits = std::to_string(cand.rune);
    read.data.text.bytes.assign(digits.begin(), digits.end());
    read.toImage = fit.toImage;
    return read;
}

}  // namespace

namespace {

Aztec::ReedSolomon::GenericGF& dataField(int wordBits) {
    switch (wordBits) {
        case 6: return Aztec::ReedSolomon::fieldData6();
        case 8: return Aztec::ReedSolomon::fieldData8();
        case 10: return Aztec::ReedSolomon::fieldData10();
        default: return Aztec::ReedSolomon::fieldData12();
    }
}

// The chance that a block of random words decodes with `erased` erasures
// and as many errors as the remaining check words allow (less the spare
// ones), as a power of ten. Erasures buy corrections at the price of this
// margin: erasing nearly every check word leaves a random block a chance
// of 1 in q^spare.
double log10Miscorrection(int n, int checkWords, int erased, int wordBits) {
    const int errors = (checkWords - erased - kSpareCheckWords) / 2;
    if (errors < 0) return 0.0;
    return Aztec::ReedSolomon::log10RandomBlockDecodes(n, checkWords, erased, errors, wordBits);
}

// Errors and erasures: the codewords whose modules lay nearest their
// thresholds are erased, a growing share of the check words at a time,
// always keeping kSpareCheckWords unused against miscorrection. A
// correction is written back into the matrix, which then goes through
// the ordinary checked decoding (finding nothing left to correct).
std::optional<Aztec::DecodedData> decodeWithErasures(const SymbolCandidate& cand, Aztec::ModuleMatrix matrix,
                                                     const std::vector<double>& margin) {
    const int checkWords = cand.totalWords - cand.dataWords;
    if (checkWords < Aztec::kMinCheckWords + kSpareCheckWords) return std::nullopt;
    const auto layout = Aztec::codewordModules(cand);
    if (layout.empty()) return std::nullopt;
    const int m = cand.size;
    const int bits = cand.wordBits;
    std::vector<std::int32_t> words(static_cast<std::size_t>(cand.totalWords));
    std::vector<std::pair<double, std::int32_t>> doubt(words.size());
    for (int k = 0; k < cand.totalWords; ++k) {
        std::int32_t w = 0;
        double least = 1e18;
        for (int b = 0; b < bits; ++b) {
            const auto& pos = layout[static_cast<std::size_t>(k * bits + b)];
            w = (w << 1) | (matrix[static_cast<std::size_t>(pos[0])].get(pos[1]) ? 1 : 0);
            least = std::min(least, margin[static_cast<std::size_t>(pos[0] * m + pos[1])]);
        }
        words[static_cast<std::size_t>(k)] = w;
        doubt[static_cast<std::size_t>(k)] = {least, k};
    }
    std::sort(doubt.begin(), doubt.end());
    auto& field = dataField(bits);
    for (double share : kErasureShares) {
        const int erased = static_cast<int>(share * (checkWords - kSpareCheckWords));
        if (erased <= 0 || log10Miscorrection(cand.totalWords, checkWords, erased, bits) > kMaxLog10Miscorrection) continue;
        std::vector<std::int32_t> erasures;
        for (int i = 0; i < erased; ++i) erasures.push_back(doubt[static_cast<std::size_t>(i)].second);
        std::vector<std::int32_t> corrected = words;
        const auto changed = Aztec::ReedSolomon::correctWithErasures(field, corrected, checkWords, erasures, kSpareCheckWords);
        if (!changed) continue;
        Aztec::ModuleMatrix fixed = matrix;
        for (int k = 0; k < cand.totalWords; ++k) {
            const std::int32_t w = corrected[static_cast<std::size_t>(k)];
            for (int b = 0; b < bits; ++b) {
                const auto& pos = layout[static_cast<std::size_t>(k * bits + b)];
                fixed[static_cast<std::size_t>(pos[0])].set(pos[1], ((w >> (bits - 1 - b)) & 1) != 0);
            }
        }
        auto decoded = Aztec::decodeDataChecked(cand, fixed);
        if (!decoded) continue;
        decoded->correctedWords = *changed;
        return decoded;
    }
    return std::nullopt;
}

// One classification of the levels, decoded: a correction that leaves
// fewer than kSpareCheckWords unused is refused. This search samples a
// symbol many ways, and with few check words a block of wrong modules lies
// within R/2 of some codeword often enough (about 2 % for R = 4 in
// GF(256)) to pass now and then. The first kMaxErasureAttempts failures
// try erasures too.
std::optional<Aztec::DecodedData> decodeAttempt(const SymbolCandidate& cand, const std::vector<double>& levels,
                                                double alpha, double fixed, std::vector<double>& margin,
                                                int& erasureAttempts) {
    const Aztec::ModuleMatrix matrix = classify(levels, cand.size, alpha, fixed, &margin);
    auto decoded = Aztec::decodeDataChecked(cand, matrix);
    const int checkWords = cand.totalWords - cand.dataWords;
    if (decoded && 2 * decoded->correctedWords > checkWords - kSpareCheckWords) decoded.reset();
    if (decoded && decoded->correctedWords > 0 &&
        Aztec::ReedSolomon::log10RandomBlockDecodes(cand.totalWords, checkWords, 0, decoded->correctedWords, cand.wordBits) >
            kMaxLog10PlainCorrection)
        decoded.reset();
    if (!decoded && erasureAttempts < kMaxErasureAttempts) {
        ++erasureAttempts;
        decoded = decodeWithErasures(cand, matrix, margin);
    }
    return decoded;
}

// readAsFitted, its deblurring holding the modules `pins` knows.
std::optional<SymbolRead> readThroughFit(const Sampler& sampler, const BullseyeFit& fit, const SymbolCandidate& cand,
                                         double blur, const KnownLevels* pins) {
    const int m = cand.size;
    if (cand.rune >= 0 || m <= 0) return std::nullopt;
    const auto readThrough = [&](const Homography& h) -> std::optional<SymbolRead> {
        if (sampler.budgetSpent()) return std::nullopt;
        const std::vector<double> levels = sampleLevels(sampler, h, m, {0.0, 0.0, 1.0});
        auto decoded = Aztec::decodeDataChecked(cand, classify(deblur(levels, m + 2, blur, pins), m, 0.0, -1.0));
        if (!decoded || decoded->correctedWords != 0) return std::nullopt;
        SymbolRead read;
        read.candidate = cand;
        read.data = std::move(*decoded);
        read.toImage = h;
        return read;
    };
    if (auto read = readThrough(fit.toImage)) return read;
    // A sharp full-range symbol's far modules may want its reference grid's
    // correction of the bull's-eye's transform. A blurred one that did not
    // read goes on to the refits, which the grid follows.
    if (cand.type != SymbolType::FullRange || blur > kSharpBlur) return std::nullopt;
    return readThrough(referenceGridFit(sampler, fit.toImage, m));
}

}  // namespace

std::optional<SymbolRead> readAsFitted(const Sampler& sampler, const BullseyeFit& fit, const SymbolCandidate& cand,
                                       double blur) {
    return readThroughFit(sampler, fit, cand, blur, nullptr);
}

std::optional<SymbolRead> readSymbolData(const Sampler& sampler, const BullseyeFit& fit, const ModuleModel& model,
                                         const SymbolCandidate& cand, const Aztec::BitList* ring, bool curved) {
    if (cand.rune >= 0) return readRune(sampler, fit, cand);
    const int m = cand.size;
    if (m <= 0) return std::nullopt;
    Homography h = fit.toImage;
    const bool blurred = model.sigma > kSharpBlur;
    // Deblurring within [dark, light] needs a range to hold the levels in.
    const bool bounded = holdsKnown(model);
    // What the symbol fixes, held through every deblurring: with the mode
    // ring's message as corrected. The quiet zone is not held: a symbol
    // need not have one, and holding it light gained nothing measurable.
    Aztec::BitList correctedRing;
    if (ring && bounded) correctedRing = *ring;
    const bool ringKnown = ring && bounded && Aztec::correctModeRing(cand, correctedRing);
    const KnownLevels known =
        knownModules(m + 2, cand.type == SymbolType::Compact, (m - 1) / 2, ringKnown ? &correctedRing : nullptr, model);
    // A symbol mostly reads through the bull's-eye's fit as it stands, and
    // the refit with its mode ring (a model fit: most of such a read's
    // cost) is spent only when that read fails or needs a correction.
    if (ring) {
        if (auto read = readThroughFit(sampler, fit, cand, model.sigma, &known)) return read;
        const auto refined = refineWithModeRing(sampler, fit, *ring, std::max(model.sigma, kMinModelSigma));
        if (refined && movedLittle(h, refined->fit.toImage)) h = refined->fit.toImage;
    }
    const double mid = 0.5 * (fit.dark + fit.light);
    const Homography local = h;  // before the reference grid's fit: the curved grids start here
    if (cand.type == SymbolType::FullRange) h = referenceGridFit(sampler, h, m);
    std::vector<double> margin(static_cast<std::size_t>(m) * static_cast<std::size_t>(m));
    int erasureAttempts = 0;
    auto attempt = [&](const std::vector<double>& levels, double alpha, double fixed) -> std::optional<SymbolRead> {
        if (sampler.budgetSpent()) return std::nullopt;
        auto decoded = decodeAttempt(cand, levels, alpha, fixed, margin, erasureAttempts);
        if (!decoded) return std::nullopt;
        SymbolRead read;
        read.candidate = cand;
        read.data = std::move(*decoded);
        read.toImage = h;
        return read;
    };
    const std::vector<double> levels = sampleLevels(sampler, h, m, {0.0, 0.0, 1.0});
    const double modelMid = 0.5 * (model.dark + model.light);
    if (blurred) {
        // Deblurred with the blur measured on the bull's-eye, and a little
        // less and more.
        for (double ds : {0.0, -0.1, 0.1}) {
            if (auto r = attempt(deblur(levels, m + 2, model.sigma + ds, &known), 0.0, -1.0)) return r;
        }
    }
    for (double alpha : kSharpen) {
        if (auto r = attempt(levels, alpha, -1.0)) return r;
    }
    if (auto r = attempt(levels, 0.0, mid)) return r;
    // The symbol's modules as classified for a refit (1 dark, 0 light):
    // deblurred freely, or within the levels' bounds.
    auto valuesOf = [m](const Aztec::ModuleMatrix& seen) {
        std::vector<double> values(static_cast<std::size_t>(m) * static_cast<std::size_t>(m));
        for (int x = 0; x < m; ++x)
            for (int y = 0; y < m; ++y)
                values[static_cast<std::size_t>(x * m + y)] = seen[static_cast<std::size_t>(x)].get(y) ? 1.0 : 0.0;
        return values;
    };
    auto classifiedValues = [&](const std::vector<double>& l, bool withinBounds) {
        return valuesOf(withinBounds
                            ? classify(deblurBounded(l, m + 2, model.sigma, known), m, 0.0, modelMid)
                            : classify(blurred ? deblur(l, m + 2, model.sigma, &known) : l, m, 0.0, -1.0));
    };
    const Homography start = h;
    // The levels through h sampled over each module's patch, deblurred
    // within their bounds (after each attempt that deblurs them so); on a
    // noisy frame then solved from every pixel, starting from those.
    const bool solvable = model.noise >= kSolveNoise * (model.light - model.dark) && m <= kMaxSymbolRefit;
    int solves = 0;
    auto attemptWide = [&](double sigma) -> std::optional<SymbolRead> {
        const std::vector<double> wide = sampleLevels(sampler, h, m, {0.0, 0.0, 1.0}, true);
        const std::vector<double> sharpened = deblurBounded(wide, m + 2, sigma + kWideExtraBlur, known);
        if (auto r = attempt(sharpened, 0.0, modelMid)) return r;
        if (!solvable || sampler.budgetSpent() || solves++ >= kMaxSolves) return std::nullopt;
        return attempt(solveModuleLevels(sampler, h, m, sigma, known, sharpened), 0.0, modelMid);
    };
    // Levels sampled through a refitted transform, classified every way
    // (with `withinBounds` also deblurred within the levels' bounds).
    auto attemptRefitted = [&](const std::vector<double>& l, double sigma, bool withinBounds) -> std::optional<SymbolRead> {
        if (sigma > kSharpBlur) {
            for (double ds : {0.0, -0.1, 0.1})
                if (auto r = attempt(deblur(l, m + 2, sigma + ds, &known), 0.0, -1.0)) return r;
        }
        for (double alpha : kSharpen)
            if (auto r = attempt(l, alpha, -1.0)) return r;
        if (withinBounds && sigma > kSharpBlur) {
            if (auto r = attempt(deblurBounded(l, m + 2, sigma, known), 0.0, modelMid)) return r;
            return attemptWide(sigma);
        }
        return std::nullopt;
    };
    // The transform refined against the whole symbol as classified, twice
    // (each pass classifies with the better transform of the one before),
    // from `first`, the levels as sampled classified that way.
    auto refitWhole = [&](bool withinBounds, const std::vector<double>& first) -> std::optional<SymbolRead> {
        std::vector<double> current;
        for (int pass = 0; pass < kSymbolRefitPasses; ++pass) {
            const auto refined = refineWithSymbol(sampler, h, m, pass == 0 ? first : classifiedValues(current, withinBounds),
                                                  std::max(model.sigma, kMinModelSigma));
            if (!refined || !movedLittle(start, refined->fit.toImage)) break;
            h = refined->fit.toImage;
            current = sampleLevels(sampler, h, m, {0.0, 0.0, 1.0});
            if (auto r = attemptRefitted(current, refined->sigma, withinBounds)) return r;
        }
        h = start;
        return std::nullopt;
    };
    if (m <= kMaxSymbolRefit) {
        if (auto r = refitWhole(false, classifiedValues(levels, false))) return r;
    }
    for (const Move& move : kMoves) {
        if (sampler.budgetSpent()) break;
        const std::vector<double> moved = sampleLevels(sampler, h, m, move);
        if (blurred) {
            if (auto r = attempt(deblur(moved, m + 2, model.sigma, &known), 0.0, -1.0)) return r;
        } else {
            for (double alpha : {0.0, 1.0}) {
                if (auto r = attempt(moved, alpha, -1.0)) return r;
            }
        }
    }
    // Heavy blur: the levels deblurred within their bounds, first as
    // sampled, then through the refits (with a fresh allowance of erasure
    // decodings, which the attempts above have used).
    auto heavyBlur = [&]() -> std::optional<SymbolRead> {
        erasureAttempts = 0;
        const std::vector<double> sharpened = deblurBounded(levels, m + 2, model.sigma, known);
        if (auto r = attempt(sharpened, 0.0, modelMid)) return r;
        if (auto r = attemptWide(model.sigma)) return r;
        if (m > kMaxSymbolRefit) return std::nullopt;
        // The levels as sampled, so classified: where both refits start.
        const std::vector<double> asSampled = valuesOf(classify(sharpened, m, 0.0, modelMid));
        if (auto r = refitWhole(true, asSampled)) return r;
        // A transform a few degrees off (the bull's-eye's blurred rings say
        // little about its turn) is right near the centre and a module off
        // at the edge, and a refit from the whole symbol locks onto the
        // modules it misclassified there. Refitted from a middle part that
        // grows outwards, each step's transform classifies the next step's
        // modules well.
        const int core = (cand.type == SymbolType::Compact ? kCompactModeRing : kFullRangeModeRing) + kGrowStep / 2;
        for (int half = core; !sampler.budgetSpent(); half += kGrowStep) {
            const int part = std::min(2 * half + 1, m);
            // The first step starts from the transform the levels were sampled through.
            const auto refined = refineWithSymbol(
                sampler, h, m,
                half == core ? asSampled : classifiedValues(sampleLevels(sampler, h, m, {0.0, 0.0, 1.0}), true),
                model.sigma, part);
            if (!refined || !movedLittle(start, refined->fit.toImage)) break;
            h = refined->fit.toImage;
            if (part == m) {
                if (auto r = attemptRefitted(sampleLevels(sampler, h, m, {0.0, 0.0, 1.0}), refined->sigma, true)) return r;
                break;
            }
        }
        // Last, the transform turned and scaled a little round the centre.
        // Under this much blur the rings fix the centre well but their turn
        // and scale only to a degree or two and a per cent or two, which at
        // the edge of a symbol of 20 and more modules is a third of a
        // module or more; a refit from modules misclassified there cannot
        // recover it.
        for (const auto& [degrees, scale] : kDataTurns) {
            if (sampler.budgetSpent()) break;
            h = turned(start, degrees, scale);
            const std::vector<double> l = sampleLevels(sampler, h, m, {0.0, 0.0, 1.0});
            if (auto r = attempt(deblurBounded(l, m + 2, model.sigma, known), 0.0, modelMid)) return r;
            if (auto r = attemptWide(model.sigma)) return r;
        }
        h = start;
        return std::nullopt;
    };
    if (bounded) {
        if (auto r = heavyBlur()) return r;
    }
    // No flat transform reads it: perhaps the symbol is curved, or on a
    // sheet that is not flat.
    if (!curved) return std::nullopt;
    if (auto r = readCurvedSymbol(sampler, local, model, cand)) return r;
    return readWarpedSymbol(sampler, local, model, cand);
}

std::optional<Aztec::DecodedData> decodeModuleLevels(const Sampler& sampler, const SymbolCandidate& cand,
                                                     const std::vector<double>& levels, const ModuleModel& model,
                                                     double mid, double maxLog10Chance) {
    const int m = cand.size;
    std::vector<double> margin(static_cast<std::size_t>(m) * static_cast<std::size_t>(m));
    int erasureAttempts = 0;
    const int checkWords = cand.totalWords - cand.dataWords;
    auto attempt = [&](const std::vector<double>& l, double alpha, double fixed) -> std::optional<Aztec::DecodedData> {
        if (sampler.budgetSpent()) return std::nullopt;
        auto decoded = decodeAttempt(cand, l, alpha, fixed, margin, erasureAttempts);
        if (decoded && Aztec::ReedSolomon::log10RandomBlockDecodes(cand.totalWords, checkWords, 0, decoded->correctedWords,
                                                                   cand.wordBits) > maxLog10Chance)
            decoded.reset();
        return decoded;
    };
    const KnownLevels known = knownModules(m + 2, cand.type == SymbolType::Compact, (m - 1) / 2, nullptr, model);
    if (model.sigma > kSharpBlur) {
        for (double ds : {0.0, -0.1, 0.1})
            if (auto r = attempt(deblur(levels, m + 2, model.sigma + ds, &known), 0.0, -1.0)) return r;
    }
    for (double alpha : kSharpen)
        if (auto r = attempt(levels, alpha, -1.0)) return r;
    return attempt(levels, 0.0, mid);
}


}  // namespace AztecCore::Locate
