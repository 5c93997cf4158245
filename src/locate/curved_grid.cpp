#include "locate/curved_grid.h"

#include <algorithm>
#include <cmath>
#include <array>
#include <numbers>
#include <vector>

#include "math/matrix.h"

namespace AztecCore::Locate {

namespace {

using Aztec::Math::Homography;

// Focal length as a share of the frame's longer side: a phone camera's
// field of view of about 65 degrees. Only the depth of the bend depends on
// it, a second-order part of where its modules land.
constexpr double kFocalShare = 0.8;
// The coarse search: wrap directions every 15 degrees, wrap angles across
// the symbol of up to kMaxWrap radians (about 100 degrees) either way, in
// kWrapSteps steps each way.
constexpr int kPhiSteps = 12;
constexpr double kMaxWrap = 1.75;
constexpr int kWrapSteps = 7;
// The best few coarse bends are refined, each parameter in turn, the
// steps halved every round, and then decoded.
constexpr int kCandidates = 3;
constexpr int kRefineRounds = 5;
constexpr double kStretchStep = 0.01;
// Refits of the grid to the symbol as classified, each reaching this share
// of the way from the centre to the ring round the symbol.
constexpr int kFitPasses = 7;
constexpr double kFitReach[kFitPasses] = {0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.0};

// Wrap angles (squared, radians) up to which CurvedGrid::map sums series.
constexpr double kSeriesReach = 1.0;

double levelAt(const Sampler& s, const CurvedGrid& g, double u, double v) {
    const Point2d p = g.map(u, v);
    return s.at(p.x, p.y);
}

// How sharply the grid's module centres show their modules: the sum of
// each one's difference from the mean of its four neighbours. Where the
// grid is off by half a module its samples straddle module edges and the
// differences fade.
double sharpness(const Sampler& s, const CurvedGrid& g, int m, std::vector<double>& levels) {
    const int half = (m - 1) / 2;
    levels.resize(static_cast<std::size_t>(m) * static_cast<std::size_t>(m));
    s.charge(static_cast<std::int64_t>(m) * m);
    for (int x = 0; x < m; ++x)
        for (int y = 0; y < m; ++y) levels[static_cast<std::size_t>(x * m + y)] = levelAt(s, g, x - half, y - half);
    double score = 0.0;
    for (int x = 1; x + 1 < m; ++x)
        for (int y = 1; y + 1 < m; ++y) {
            const auto at = [&](int a, int b) { return levels[static_cast<std::size_t>(a * m + b)]; };
            score += std::fabs(at(x, y) - 0.25 * (at(x - 1, y) + at(x + 1, y) + at(x, y - 1) + at(x, y + 1)));
        }
    return score;
}

struct Bend {
    double phi = 0.0, curvature = 0.0, stretch = 1.0;
    double axis = 0.0;  // the optical axis: 0 through the frame's centre, 1 through the symbol's
    double score = -1.0;
};

// The tangent grids of the two optical axes, between which a bend's depth
// direction is taken.
struct Tangents {
    CurvedGrid frameAxis, symbolAxis;
};

CurvedGrid bent(const Tangents& t, const Bend& b) {
    CurvedGrid g = t.frameAxis;
    for (std::size_t i = 0; i < 3; ++i) g.depth[i] += b.axis * (t.symbolAxis.depth[i] - g.depth[i]);
    g.cosPhi = std::cos(b.phi);
    g.sinPhi = std::sin(b.phi);
    g.curvature = b.curvature;
    g.stretch = b.stretch;
    return g;
}

// Module levels laid out for decodeModuleLevels.
std::vector<double> sampleModules(const Sampler& s, const CurvedGrid& g, int m) {
    return symbolLevels(s, m, [&](double u, double v) {
        return crossLevel(s, [&](double du, double dv) { return g.map(u + du, v + dv); });
    });
}

// The grid refitted to the symbol as classified: each module dark (1) or
// light (0), the ring round the symbol light, blurred by the measured blur
// and compared with the image at the midpoints of the module edges (where
// a grid that is off shows most) out to `reach` modules from the centre. The tangent plane's correction, the wrap direction and
// the curvature are fitted by Levenberg-Marquardt; the grey levels of the
// model are solved for each trial (the best a + b model).
class ModuleFit {
public:
    static constexpr int kTerms = 10;  // correction c0..c7, phi, curvature

    ModuleFit(const Sampler& s, const Aztec::ModuleMatrix& dark, int m, double sigma, double reach) : s_(s) {
        const int half = (m - 1) / 2;
        // The symbol, two light rings round it, and the model's values at
        // every half module within reach, the blur separable along u and v.
        const int ext = m + 4, off = half + 2;
        const int steps = static_cast<int>(2.0 * reach);
        const int side = 2 * steps + 1;
        const double k = 1.0 / (std::max(sigma, kMinSigma) * std::numbers::sqrt2);
        std::vector<double> table(static_cast<std::size_t>(side) * ext);
        for (int i = 0; i < side; ++i)
            for (int c = 0; c < ext; ++c) {
                const double d = 0.5 * (i - steps) - (c - off);
                table[static_cast<std::size_t>(i * ext + c)] = 0.5 * (std::erf((d + 0.5) * k) - std::erf((d - 0.5) * k));
            }
        auto value = [&](int c, int r) {
            const int x = c - 2, y = r - 2;
            return x >= 0 && x < m && y >= 0 && y < m && dark[static_cast<std::size_t>(x)].get(y) ? 1.0 : 0.0;
        };
        std::vector<double> partial(static_cast<std::size_t>(ext) * side);
        for (int c = 0; c < ext; ++c)
            for (int j = 0; j < side; ++j) {
                double sum = 0.0;
                for (int r = 0; r < ext; ++r) sum += value(c, r) * table[static_cast<std::size_t>(j * ext + r)];
                partial[static_cast<std::size_t>(c * side + j)] = sum;
            }
        for (int i = 0; i < side; ++i)
            for (int j = (i + 1) % 2; j < side; j += 2) {
                double v = 0.0;
                for (int c = 0; c < ext; ++c) v += table[static_cast<std::size_t>(i * ext + c)] * partial[static_cast<std::size_t>(c * side + j)];
                points_.push_back({0.5 * (i - steps), 0.5 * (j - steps)});
                model_.push_back(v);
            }
        double mean = 0.0;
        for (double v : model_) mean += v;
        mean /= static_cast<double>(model_.size());
        double var = 0.0;
        for (double v : model_) var += (v - mean) * (v - mean);
        modelMean_ = mean;
        modelVar_ = var;
    }

    // Refines `g` in place; false when the fit failed or the budget ran out.
    bool refine(CurvedGrid& g, double& phi) {
        std::array<double, kTerms> p{};
        for (std::size_t i = 0; i < 8; ++i) p[i] = g.correction[i];
        p[8] = phi;
        p[9] = g.curvature;
        std::vector<double> res, trial;
        double cost = residuals(g, p, res);
        std::vector<double> jac(res.size() * kTerms);
        double lambda = 1e-3;
        for (int iter = 0; iter < kMaxIterations; ++iter) {
            if (s_.budgetSpent()) return false;
            for (int t = 0; t < kTerms; ++t) {
                auto q = p;
                q[static_cast<std::size_t>(t)] += delta(t);
                residuals(g, q, trial);
                for (std::size_t i = 0; i < res.size(); ++i) jac[i * kTerms + static_cast<std::size_t>(t)] = (trial[i] - res[i]) / delta(t);
            }
            std::array<double, kTerms * kTerms> jtj{};
            std::array<double, kTerms> jtr{};
            for (std::size_t i = 0; i < res.size(); ++i) {
                const double* row = &jac[i * kTerms];
                for (std::size_t a = 0; a < kTerms; ++a) {
                    jtr[a] -= row[a] * res[i];
                    for (std::size_t b = a; b < kTerms; ++b) jtj[a * kTerms + b] += row[a] * row[b];
                }
            }
            for (std::size_t a = 0; a < kTerms; ++a)
                for (std::size_t b = 0; b < a; ++b) jtj[a * kTerms + b] = jtj[b * kTerms + a];
            double largest = 0.0;
            const auto improved = Aztec::Math::dampedStep<kTerms>(jtj, jtr, lambda, [&](const std::array<double, kTerms>& step) {
                auto q = p;
                largest = 0.0;
                for (int t = 0; t < kTerms; ++t) {
                    q[static_cast<std::size_t>(t)] += step[static_cast<std::size_t>(t)];
                    largest = std::max(largest, std::fabs(step[static_cast<std::size_t>(t)]) / delta(t));
                }
                const double c = residuals(g, q, trial);
                if (!(c < cost)) return false;
                p = q;
                cost = c;
                res.swap(trial);
                return true;
            });
            if (!improved) return false;
            if (!*improved || largest < 0.1) break;
        }
        apply(g, p);
        phi = p[8];
        for (double c : g.correction)
            if (!std::isfinite(c)) return false;
        return std::isfinite(g.curvature);
    }

private:
    static constexpr double kMinSigma = 0.2;
    static constexpr int kMaxIterations = 6;

    static double delta(int t) {
        switch (t) {
            case 0: case 3: return 0.03;   // shift, modules
            case 6: case 7: return 3e-4;   // perspective, per module
            case 8: return 0.005;          // wrap direction, radians
            case 9: return 5e-4;           // curvature, per module
            default: return 0.003;         // linear terms
        }
    }

    static void apply(CurvedGrid& g, const std::array<double, kTerms>& p) {
        for (std::size_t i = 0; i < 8; ++i) g.correction[i] = p[i];
        g.cosPhi = std::cos(p[8]);
        g.sinPhi = std::sin(p[8]);
        g.curvature = p[9];
    }

    double residuals(CurvedGrid g, const std::array<double, kTerms>& p, std::vector<double>& res) const {
        apply(g, p);
        const std::size_t n = points_.size();
        res.resize(n);
        s_.charge(static_cast<std::int64_t>(n));
        double mean = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            res[i] = levelAt(s_, g, points_[i].x, points_[i].y);
            mean += res[i];
        }
        mean /= static_cast<double>(n);
        double cov = 0.0;
        for (std::size_t i = 0; i < n; ++i) cov += (res[i] - mean) * (model_[i] - modelMean_);
        const double b = modelVar_ > 0.0 ? cov / modelVar_ : 0.0;
        double cost = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            res[i] -= mean + b * (model_[i] - modelMean_);
            cost += res[i] * res[i];
        }
        return cost;
    }

    const Sampler& s_;
    std::vector<Point2d> points_;
    std::vector<double> model_;
    double modelMean_ = 0.0, modelVar_ = 0.0;
};

// Each module dark or light against the mean of the levels in the 5 x 5
// modules round it (levels laid out as sampleModules lays them).
Aztec::ModuleMatrix classifyLevels(const std::vector<double>& levels, int m) {
    const int n = m + 2;
    Aztec::ModuleMatrix matrix(static_cast<std::size_t>(m), Aztec::BitList(static_cast<std::size_t>(m)));
    for (int x = 0; x < m; ++x)
        for (int y = 0; y < m; ++y) {
            double sum = 0.0;
            int count = 0;
            for (int a = std::max(0, x - 1); a <= std::min(n - 1, x + 3); ++a)
                for (int b = std::max(0, y - 1); b <= std::min(n - 1, y + 3); ++b) {
                    sum += levels[static_cast<std::size_t>(a * n + b)];
                    ++count;
                }
            matrix[static_cast<std::size_t>(x)].set(y, levels[static_cast<std::size_t>((x + 1) * n + (y + 1))] < sum / count);
        }
    return matrix;
}

}  // namespace

Point2d CurvedGrid::map(double u, double v) const {
    const double a = u * cosPhi + v * sinPhi, b = -u * sinPhi + v * cosPhi;
    const double ka = curvature * a;
    const double t = ka * ka;
    double x = 0.0, z = 0.0;
    if (t < kSeriesReach) {
        // sin(ka) / k and (1 - cos(ka)) / k by their series, which need no
        // care as k goes to 0 and cost far less than sin and cos; up to
        // kSeriesReach the first term left out is below 3e-8 of the sum.
        x = a * (1.0 - t / 6.0 * (1.0 - t / 20.0 * (1.0 - t / 42.0 * (1.0 - t / 72.0))));
        z = 0.5 * ka * a * (1.0 - t / 12.0 * (1.0 - t / 30.0 * (1.0 - t / 56.0 * (1.0 - t / 90.0))));
    } else {
        x = std::sin(ka) / curvature;
        z = (1.0 - std::cos(ka)) / curvature;
    }
    x *= stretch;
    const double pu = x * cosPhi - b * sinPhi, pv = x * sinPhi + b * cosPhi;
    const auto& c = correction;
    const double cu = (1.0 + c[1]) * pu + c[2] * pv + c[0], cv = c[4] * pu + (1.0 + c[5]) * pv + c[3];
    const double cw = c[6] * pu + c[7] * pv + 1.0;
    const auto& h = plane;
    const double w = h[6] * cu + h[7] * cv + cw + z * depth[2];
    return {(h[0] * cu + h[1] * cv + h[2] * cw + z * depth[0]) / w, (h[3] * cu + h[4] * cv + h[5] * cw + z * depth[1]) / w};
}

CurvedGrid tangentGrid(const Homography& plane, int frameSide, Point2d principal) {
    CurvedGrid g;
    g.plane = plane;
    // With the camera K (focal f, principal point at the frame's centre),
    // K^-1 H = [e1 e2 p0] / lambda: the grid's axes and centre in camera
    // space, scaled so that p0 lies at depth 1. The plane's normal, one
    // module long in the same units and pointing away from the camera,
    // projects through K to the image terms of one module of depth.
    const double f = kFocalShare * frameSide;
    const double cx = principal.x, cy = principal.y;
    const auto& h = plane;
    const double e1[3] = {(h[0] - cx * h[6]) / f, (h[3] - cy * h[6]) / f, h[6]};
    const double e2[3] = {(h[1] - cx * h[7]) / f, (h[4] - cy * h[7]) / f, h[7]};
    double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const double module = std::sqrt(std::sqrt(e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2]) *
                                    std::sqrt(e2[0] * e2[0] + e2[1] * e2[1] + e2[2] * e2[2]));
    if (!(len > 0.0) || !std::isfinite(len)) return g;
    const double scale = (n[2] < 0.0 ? -module : module) / len;
    for (double& c : n) c *= scale;
    g.depth = {f * n[0] + cx * n[2], f * n[1] + cy * n[2], n[2]};
    return g;
}

std::optional<SymbolRead> readCurvedSymbol(const Sampler& sampler, const Homography& plane, const ModuleModel& model,
                                           const SymbolCandidate& cand) {
    const int m = cand.size;
    if (m < 2 * 5 + 3 || sampler.budgetSpent()) return std::nullopt;
    if (!sampler.claim(plane, WorkBudget::Fallback::Curved)) return std::nullopt;
    const GreyView& view = sampler.view();
    const int side = std::max(view.width, view.height);
    const Tangents flat{tangentGrid(plane, side, {(view.width - 1) / 2.0, (view.height - 1) / 2.0}),
                        tangentGrid(plane, side, Aztec::Math::mapPoint(plane, 0.0, 0.0))};
    std::vector<double> scratch;
    auto score = [&](Bend& b) { b.score = sharpness(sampler, bent(flat, b), m, scratch); };

    // Coarse: every direction and wrap, the optical axis half way between
    // the two (the refinement moves it), the flat grid once.
    const double wrapStep = kMaxWrap / kWrapSteps / m;
    std::vector<Bend> coarse;
    Bend straight;
    score(straight);
    coarse.push_back(straight);
    for (int i = 0; i < kPhiSteps; ++i)
        for (int j = -kWrapSteps; j <= kWrapSteps; ++j) {
            if (j == 0) continue;
            Bend b{i * std::numbers::pi / kPhiSteps, j * wrapStep, 1.0, 0.5};
            score(b);
            coarse.push_back(b);
        }
    if (sampler.budgetSpent()) return std::nullopt;
    std::stable_sort(coarse.begin(), coarse.end(), [](const Bend& a, const Bend& b) { return a.score > b.score; });

    const double mid = 0.5 * (model.dark + model.light);
    for (int c = 0; c < kCandidates && c < static_cast<int>(coarse.size()); ++c) {
        Bend best = coarse[static_cast<std::size_t>(c)];
        double steps[4] = {0.5 * std::numbers::pi / kPhiSteps, 0.5 * wrapStep, kStretchStep, 0.5};
        for (int round = 0; round < kRefineRounds; ++round) {
            for (int p = 0; p < 4; ++p) {
                for (double sign : {-1.0, 1.0}) {
                    Bend t = best;
                    (p == 0 ? t.phi : p == 1 ? t.curvature : p == 2 ? t.stretch : t.axis) += sign * steps[p];
                    t.axis = std::clamp(t.axis, 0.0, 1.0);
                    score(t);
                    if (t.score > best.score) best = t;
                }
            }
            for (double& s : steps) s *= 0.5;
        }
        if (sampler.budgetSpent()) return std::nullopt;
        CurvedGrid grid = bent(flat, best);
        double phi = best.phi;
        std::vector<double> levels = sampleModules(sampler, grid, m);
        const double half = (m - 1) / 2;
        // Only the sharpest bend is refitted: the others seldom read where it
        // did not, and a symbol that no bend reads (damage) pays for one.
        for (int pass = 0; pass <= (c == 0 ? kFitPasses : 0); ++pass) {
            if (pass > 0) {
                // Outwards a little more each pass: the modules nearer the
                // centre are the likelier to be classified right.
                const double reach = (half + 1.5) * kFitReach[pass - 1];
                ModuleFit fit(sampler, classifyLevels(levels, m), m, model.sigma, reach);
                if (!fit.refine(grid, phi)) break;
                levels = sampleModules(sampler, grid, m);
            }
            if (auto decoded = decodeModuleLevels(sampler, cand, levels, model, mid, kFallbackMaxLog10Chance))
                return fallbackRead(cand, std::move(*decoded), plane, [&](double u, double v) { return grid.map(u, v); });
        }
    }
    return std::nullopt;
}

}  // namespace AztecCore::Locate
