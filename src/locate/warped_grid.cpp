#include "locate/warped_grid.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace AztecCore::Locate {

namespace {

using Aztec::Math::Homography;

// Mesh nodes every kNodeStep modules: a sheet's waves span a few
// centimetres, twenty modules and more, and three modules follow them
// closely enough that each node's prediction from its inner neighbours
// lies within the half module its search reaches. (Tracked in two passes,
// of 200 frames warped by 0.4-0.7 module in waves of 24-40 modules, nodes
// every 4 modules read 185, every 3 187, every 2 187 at twice the cost.)
constexpr int kNodeStep = 3;
// A node's sharpness is summed over the modules within kWindow of it
// (two: 136 of 200 frames warped by 0.7-1 module read, against 149).
constexpr int kWindow = 3;
// Displacements are searched in quarters of a module, up to kReachSteps
// quarters either way of the prediction, and the peak placed between
// quarters by a parabola. Half a module either way: sharpness repeats
// every module, so a wider search could land a whole module off.
constexpr int kQuarters = 4;
constexpr int kReachSteps = 2;
// A node whose window holds fewer symbol modules than this, or whose best
// displacement is sharper than the mean of those searched by less than
// kMinContrast of it (a window of one colour, or a flat one), keeps the
// prediction.
constexpr int kMinModules = 12;
constexpr double kMinContrast = 0.04;
// Tracked once outwards, then again in further passes, each node searched
// round the mean of its neighbours as the pass before found them: a node
// that locked onto the wrong module comes back when its neighbours did
// not. Five passes read 190 of 200 frames warped by 0.4-0.7 module, three
// 189, two 188.
constexpr int kPasses = 5;
// After the first pass a mesh whose nodes moved less than this (modules,
// on average) found no warp: the flat transform was right and the symbol
// fails for other reasons (damage), which more passes would not mend.
// Damaged symbols' meshes move 0.02-0.14 on average (a few nodes lock
// onto noise), warps of 0.4 module or more 0.36 and more.
constexpr double kMinMeanWarp = 0.15;
// Symbols larger than this are not warped: their mesh would cost more
// than the whole search of most frames, and they are seldom held so close
// that a fold spans few of their modules.
constexpr int kMaxSize = 75;

// Displacements at the mesh nodes, node (i, j) at grid (i, j) * kNodeStep
// for i, j in [-reach, reach].
struct Mesh {
    int reach = 0;
    std::vector<double> du, dv;
    int side() const { return 2 * reach + 1; }
    std::size_t index(int i, int j) const {
        return static_cast<std::size_t>(i + reach) * static_cast<std::size_t>(side()) + static_cast<std::size_t>(j + reach);
    }
    // The displacement at grid (u, v), bilinear between the nodes round it
    // (the outermost nodes' beyond them).
    Point2d at(double u, double v) const {
        const double fu = std::clamp(u / kNodeStep + reach, 0.0, static_cast<double>(side() - 1));
        const double fv = std::clamp(v / kNodeStep + reach, 0.0, static_cast<double>(side() - 1));
        const int i0 = std::min(static_cast<int>(fu), side() - 2), j0 = std::min(static_cast<int>(fv), side() - 2);
        const double a = fu - i0, b = fv - j0;
        auto blend = [&](const std::vector<double>& d) {
            const auto at = [&](int i, int j) { return d[static_cast<std::size_t>(i * side() + j)]; };
            return (1 - a) * ((1 - b) * at(i0, j0) + b * at(i0, j0 + 1)) + a * ((1 - b) * at(i0 + 1, j0) + b * at(i0 + 1, j0 + 1));
        };
        return {blend(du), blend(dv)};
    }
};

Point2d warpedPoint(const Homography& h, const Mesh& mesh, double u, double v) {
    const Point2d d = mesh.at(u, v);
    return Aztec::Math::mapPoint(h, u + d.x, v + d.y);
}

// Module levels laid out for decodeModuleLevels, one displacement for
// each module's five points (it changes little over a module).
std::vector<double> sampleModules(const Sampler& s, const Homography& h, const Mesh& mesh, int m) {
    return symbolLevels(s, m, [&](double u, double v) {
        const Point2d d = mesh.at(u, v);
        return crossLevel(s, [&](double du, double dv) { return Aztec::Math::mapPoint(h, u + d.x + du, v + d.y + dv); });
    });
}

// Finds node (i, j)'s displacement within kReachSteps quarters of
// `predicted`; false (nothing found) where its window cannot tell.
// `lattice` is scratch: the window's levels at every quarter module.
bool trackNode(const Sampler& s, const Homography& h, int half, int i, int j, Point2d predicted, Point2d& found,
               std::vector<double>& lattice) {
    const int cu = i * kNodeStep, cv = j * kNodeStep;
    // The window's modules inside the symbol: too few, and the window is
    // not sampled at all.
    const int k0 = std::max(-kWindow, -half - cu), k1 = std::min(kWindow, half - cu);
    const int l0 = std::max(-kWindow, -half - cv), l1 = std::min(kWindow, half - cv);
    if (k1 < k0 || l1 < l0 || (k1 - k0 + 1) * (l1 - l0 + 1) < kMinModules) return false;
    // Module centres k in [-kWindow - 1, kWindow + 1] of the node (the
    // window and its neighbours), each moved by -kReachSteps .. kReachSteps
    // quarters: lattice index t = (k + kWindow + 1) * kQuarters + kReachSteps + a.
    constexpr int kModulesAcross = 2 * kWindow + 3;
    constexpr int kSide = (kModulesAcross - 1) * kQuarters + 2 * kReachSteps + 1;
    lattice.resize(static_cast<std::size_t>(kSide) * kSide);
    const double u0 = cu + predicted.x - (kWindow + 1) - static_cast<double>(kReachSteps) / kQuarters;
    const double v0 = cv + predicted.y - (kWindow + 1) - static_cast<double>(kReachSteps) / kQuarters;
    s.charge(static_cast<std::int64_t>(kSide) * kSide);
    for (int t = 0; t < kSide; ++t)
        for (int r = 0; r < kSide; ++r) {
            const Point2d p = Aztec::Math::mapPoint(h, u0 + static_cast<double>(t) / kQuarters, v0 + static_cast<double>(r) / kQuarters);
            lattice[static_cast<std::size_t>(t * kSide + r)] = s.at(p.x, p.y);
        }
    constexpr int kShifts = 2 * kReachSteps + 1;
    double score[kShifts][kShifts] = {};
    for (int a = 0; a < kShifts; ++a)
        for (int b = 0; b < kShifts; ++b) {
            double sum = 0.0;
            for (int k = k0; k <= k1; ++k)
                for (int l = l0; l <= l1; ++l) {
                    const int t = (k + kWindow + 1) * kQuarters + a, r = (l + kWindow + 1) * kQuarters + b;
                    const auto at = [&](int dt, int dr) {
                        return lattice[static_cast<std::size_t>((t + dt) * kSide + r + dr)];
                    };
                    sum += std::fabs(at(0, 0) - 0.25 * (at(-kQuarters, 0) + at(kQuarters, 0) + at(0, -kQuarters) + at(0, kQuarters)));
                }
            score[a][b] = sum;
        }
    int ba = kReachSteps, bb = kReachSteps;
    double mean = 0.0;
    for (int a = 0; a < kShifts; ++a)
        for (int b = 0; b < kShifts; ++b) {
            mean += score[a][b];
            if (score[a][b] > score[ba][bb]) ba = a, bb = b;
        }
    mean /= kShifts * kShifts;
    const double best = score[ba][bb];
    if (!(best > 0.0) || best - mean < kMinContrast * best) return false;
    // Between quarters: the vertex of the parabola through the peak and its
    // neighbours, where both lie in the search.
    auto vertex = [](double before, double peak, double after) {
        const double curve = before - 2.0 * peak + after;
        return curve < 0.0 ? std::clamp(0.5 * (before - after) / curve, -0.5, 0.5) : 0.0;
    };
    double fa = ba, fb = bb;
    if (ba > 0 && ba + 1 < kShifts) fa += vertex(score[ba - 1][bb], best, score[ba + 1][bb]);
    if (bb > 0 && bb + 1 < kShifts) fb += vertex(score[ba][bb - 1], best, score[ba][bb + 1]);
    found = {predicted.x + (fa - kReachSteps) / kQuarters, predicted.y + (fb - kReachSteps) / kQuarters};
    return true;
}

// One pass of tracking: node by node outwards, ring by ring round the
// centre node (which the bull's-eye fixes and keeps at no displacement).
// With `fromMesh` each node is searched round the mean of its neighbours
// there; without, round its inner neighbour's displacement carried on by
// that neighbour's change from its own inner neighbour (a fold's slope
// continues).
Mesh track(const Sampler& s, const Homography& h, int m, const Mesh* fromMesh) {
    const int half = (m - 1) / 2;
    Mesh mesh;
    mesh.reach = (half + 1 + kNodeStep - 1) / kNodeStep;
    const auto nodes = static_cast<std::size_t>(mesh.side()) * static_cast<std::size_t>(mesh.side());
    mesh.du.assign(nodes, 0.0);
    mesh.dv.assign(nodes, 0.0);
    std::vector<double> lattice;
    const auto sign = [](int x) { return (x > 0) - (x < 0); };
    for (int ring = 1; ring <= mesh.reach; ++ring) {
        for (int i = -ring; i <= ring; ++i)
            for (int j = -ring; j <= ring; ++j) {
                if (std::max(std::abs(i), std::abs(j)) != ring) continue;
                const std::size_t at = mesh.index(i, j);
                Point2d predicted;
                if (fromMesh) {
                    double su = 0.0, sv = 0.0;
                    int count = 0;
                    for (int a = -1; a <= 1; ++a)
                        for (int b = -1; b <= 1; ++b) {
                            if ((a == 0 && b == 0) || std::abs(i + a) > mesh.reach || std::abs(j + b) > mesh.reach) continue;
                            const std::size_t q = mesh.index(i + a, j + b);
                            su += fromMesh->du[q];
                            sv += fromMesh->dv[q];
                            ++count;
                        }
                    predicted = {su / count, sv / count};
                } else {
                    // Carried on from the inner neighbour by its change
                    // from its own inner neighbour (carrying half of it
                    // read 185 rather than 187 of 200 warped frames).
                    const int pi = i - sign(i), pj = j - sign(j);
                    const std::size_t p = mesh.index(pi, pj), g = mesh.index(pi - sign(pi), pj - sign(pj));
                    predicted = {2.0 * mesh.du[p] - mesh.du[g], 2.0 * mesh.dv[p] - mesh.dv[g]};
                }
                Point2d found = predicted;
                trackNode(s, h, half, i, j, predicted, found, lattice);
                mesh.du[at] = found.x;
                mesh.dv[at] = found.y;
            }
        if (s.budgetSpent()) break;
    }
    return mesh;
}

}  // namespace

std::optional<SymbolRead> readWarpedSymbol(const Sampler& sampler, const Homography& plane, const ModuleModel& model,
                                           const SymbolCandidate& cand) {
    const int m = cand.size;
    if (m < 2 * kNodeStep + 1 || m > kMaxSize || sampler.budgetSpent()) return std::nullopt;
    if (!sampler.claim(plane, WorkBudget::Fallback::Warped)) return std::nullopt;
    const double mid = 0.5 * (model.dark + model.light);
    Mesh mesh;
    for (int pass = 0; pass < kPasses && !sampler.budgetSpent(); ++pass) {
        mesh = track(sampler, plane, m, pass == 0 ? nullptr : &mesh);
        if (sampler.budgetSpent()) break;
        if (pass == 0) {
            double moved = 0.0;
            for (std::size_t k = 0; k < mesh.du.size(); ++k) moved += std::hypot(mesh.du[k], mesh.dv[k]);
            if (moved < kMinMeanWarp * static_cast<double>(mesh.du.size())) return std::nullopt;
        }
        const std::vector<double> levels = sampleModules(sampler, plane, mesh, m);
        if (auto decoded = decodeModuleLevels(sampler, cand, levels, model, mid, kFallbackMaxLog10Chance))
            return fallbackRead(cand, std::move(*decoded), plane, [&](double u, double v) { return warpedPoint(plane, mesh, u, v); });
    }
    return std::nullopt;
}

}  // namespace AztecCore::Locate
