#include "locate/bullseye_geometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "locate/bullseye_model_fit.h"

namespace AztecCore::Locate {

namespace {

constexpr int kRays = 64;
// Edge k lies between ring k - 1 and ring k, k - 0.5 modules from the
// centre. The innermost edge, round the lone centre module, moves most
// under blur and is only used to count.
constexpr int kFirstFittedEdge = 2;
constexpr int kCompactEdges = 4;   // rings 0..4 are the compact bull's-eye
constexpr int kFullRangeEdges = 6;  // rings 0..6 the full-range one
constexpr double kSamplesPerModule = 8.0;
constexpr double kMinStep = 0.2;
// A ray counts when every edge lies within this share of a module of where
// evenly spaced rings put it.
constexpr double kRayTolerance = 0.3;
constexpr double kMinValidRays = 0.55;
// Points this close to a square's corner (in modules of |u| - |v|) could
// belong to either side and are left out of the fit. Blur rounds the
// rings' corners over about its own width, so the band grows with it.
constexpr double kCornerBand = 0.3;
constexpr double kBlurCornerBand = 1.5;
constexpr double kOutlier = 0.35;
constexpr double kMaxResidual = 0.2;
constexpr double kMinContrast = 6.0;
// The fit of the blurred model replaces the edges' fit when it stays
// within kModelMove modules of it; found without an edge fit, within
// kSearchMove of the finder's centre.
constexpr double kModelMove = 1.0;
constexpr double kSearchMove = 1.5;

using Mat3 = std::array<double, 9>;

Aztec::Math::Homography fromMat(const Mat3& m) {
    const double s = m[8];
    return {m[0] / s, m[1] / s, m[2] / s, m[3] / s, m[4] / s, m[5] / s, m[6] / s, m[7] / s};
}

Mat3 invert(const Mat3& a) {
    Mat3 r = {a[4] * a[8] - a[5] * a[7], a[2] * a[7] - a[1] * a[8], a[1] * a[5] - a[2] * a[4],
              a[5] * a[6] - a[3] * a[8], a[0] * a[8] - a[2] * a[6], a[2] * a[3] - a[0] * a[5],
              a[3] * a[7] - a[4] * a[6], a[1] * a[6] - a[0] * a[7], a[0] * a[4] - a[1] * a[3]};
    const double det = a[0] * r[0] + a[1] * r[3] + a[2] * r[6];
    for (double& x : r) x /= det;
    return r;
}

Mat3 multiply(const Mat3& a, const Mat3& b) {
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[static_cast<std::size_t>(i * 3 + j)] += a[static_cast<std::size_t>(i * 3 + k)] * b[static_cast<std::size_t>(k * 3 + j)];
    return r;
}

// Solves the 8 x 8 normal equations in place by Gaussian elimination with
// partial pivoting. False when they are singular.
bool solve8(std::array<std::array<double, 9>, 8>& a, std::array<double, 8>& x) {
    for (int c = 0; c < 8; ++c) {
        int p = c;
        for (int r = c + 1; r < 8; ++r)
            if (std::fabs(a[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]) > std::fabs(a[static_cast<std::size_t>(p)][static_cast<std::size_t>(c)])) p = r;
        if (std::fabs(a[static_cast<std::size_t>(p)][static_cast<std::size_t>(c)]) < 1e-12) return false;
        std::swap(a[static_cast<std::size_t>(c)], a[static_cast<std::size_t>(p)]);
        for (int r = c + 1; r < 8; ++r) {
            const double f = a[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] / a[static_cast<std::size_t>(c)][static_cast<std::size_t>(c)];
            for (int k = c; k < 9; ++k) a[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)] -= f * a[static_cast<std::size_t>(c)][static_cast<std::size_t>(k)];
        }
    }
    for (int r = 7; r >= 0; --r) {
        double s = a[static_cast<std::size_t>(r)][8];
        for (int k = r + 1; k < 8; ++k) s -= a[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)] * x[static_cast<std::size_t>(k)];
        x[static_cast<std::size_t>(r)] = s / a[static_cast<std::size_t>(r)][static_cast<std::size_t>(r)];
    }
    return true;
}

struct EdgePoint {
    double x, y;     // image, relative to the finder's centre, in finder modules
    double half;     // the square's half-size, modules
    double angle;    // direction from the centre
    bool used = true;
    bool onU = false;  // on a side u = +-half (else v = +-half)
    double target = 0.0;
};

// Threshold crossings along one ray: positions (in pixels from the centre)
// where the profile goes from dark to light or back, the first from dark.
void crossings(const std::vector<double>& p, double step, double threshold, double margin, int wanted,
               std::vector<double>& out) {
    out.clear();
    bool dark = true;
    const auto n = p.size();
    for (std::size_t i = 1; i < n && static_cast<int>(out.size()) < wanted; ++i) {
        const bool flips = dark ? p[i] > threshold + margin : p[i] < threshold - margin;
        if (!flips) continue;
        // The crossing of the threshold itself nearest before the flip.
        std::size_t j = i;
        while (j > 1 && (dark ? p[j - 1] > threshold : p[j - 1] < threshold)) --j;
        const double a = p[j - 1] - threshold, b = p[j] - threshold;
        const double f = (a == b) ? 0.5 : a / (a - b);
        out.push_back((static_cast<double>(j - 1) + std::clamp(f, 0.0, 1.0)) * step);
        dark = !dark;
    }
}

// The bull's-eye is point-symmetric about its centre at any angle (and
// nearly so under perspective), blurred or not; the finder's centre can be
// a module off when blur has merged the centre module with its ring. The
// centre is moved to where the image round it is most symmetric: half-
// module steps over +-1.5 modules, then finer steps round the best. Each
// sample is the mean over a quarter module each way, so that sharp edges
// at two pixels per module do not make the measure jump between the
// points of the coarse search.
Point2d symmetricCentre(const Sampler& s, double x, double y, double module, int edges) {
    constexpr int kRings = 6, kAngles = 8;
    std::array<Point2d, kRings * kAngles> offsets{};
    const double radius = (edges - 0.5) * module;
    for (int i = 0; i < kRings; ++i) {
        const double r = radius * (i + 1.0) / kRings;
        for (int j = 0; j < kAngles; ++j) {
            // Half a turn suffices: each offset is paired with its opposite.
            const double a = std::numbers::pi * (j + 0.5 * (i % 2)) / kAngles;
            offsets[static_cast<std::size_t>(i * kAngles + j)] = {r * std::cos(a), r * std::sin(a)};
        }
    }
    const double q = 0.25 * module;
    auto smooth = [&](double px, double py) {
        return s.at(px - q, py - q) + s.at(px + q, py - q) + s.at(px - q, py + q) + s.at(px + q, py + q);
    };
    auto asymmetry = [&](double cx, double cy) {
        double e = 0.0;
        for (const Point2d& o : offsets) {
            const double d = smooth(cx + o.x, cy + o.y) - smooth(cx - o.x, cy - o.y);
            e += d * d;
        }
        return e;
    };
    Point2d best{x, y};
    double bestScore = asymmetry(x, y);
    for (double share : {0.5, 0.25, 0.125}) {
        const double step = share * module;
        const int reach = share == 0.5 ? 3 : 1;
        const Point2d from = best;
        for (int j = -reach; j <= reach; ++j) {
            for (int i = -reach; i <= reach; ++i) {
                if (i == 0 && j == 0) continue;
                const double score = asymmetry(from.x + i * step, from.y + j * step);
                if (score < bestScore) {
                    bestScore = score;
                    best = {from.x + i * step, from.y + j * step};
                }
            }
        }
    }
    return best;
}

}  // namespace


namespace {

std::optional<BullseyeFit> fitAt(const Sampler& sampler, double cx, double cy, double module, bool compact, double blur) {
    const double cornerBand = std::max(kCornerBand, kBlurCornerBand * blur);
    const int edges = compact ? kCompactEdges : kFullRangeEdges;
    const double step = std::max(kMinStep, module / kSamplesPerModule);
    // Far enough for the last edge along a diagonal even when the finder
    // saw the module a little small.
    const double reach = (edges + 1.0) * module * 1.7;
    const auto n = static_cast<std::size_t>(reach / step) + 2;

    std::vector<std::vector<double>> profiles(kRays, std::vector<double>(n));
    std::vector<double> xs(n), ys(n);
    double sum = 0.0;
    std::size_t count = 0;
    const double inner = (edges - 0.5) * module;
    for (int r = 0; r < kRays; ++r) {
        const double a = 2.0 * std::numbers::pi * r / kRays;
        const double dx = std::cos(a) * step, dy = std::sin(a) * step;
        auto& prof = profiles[static_cast<std::size_t>(r)];
        for (std::size_t i = 0; i < n; ++i) {
            xs[i] = cx + dx * static_cast<double>(i);
            ys[i] = cy + dy * static_cast<double>(i);
        }
        sampler.atEach(xs.data(), ys.data(), n, prof.data());
        // [1 2 1] along the ray against sensor noise.
        double prev = prof[0];
        for (std::size_t i = 1; i + 1 < n; ++i) {
            const double cur = prof[i];
            prof[i] = 0.25 * (prev + 2.0 * cur + prof[i + 1]);
            prev = cur;
        }
        for (std::size_t i = 0; i < n && static_cast<double>(i) * step < inner; ++i) {
            sum += prof[i];
            ++count;
        }
    }
    if (count == 0) return std::nullopt;

    // Two rounds: the mean of the inner profiles first, then the middle of
    // the dark and light levels measured between the edges found.
    double threshold = sum / static_cast<double>(count);
    double margin = 1.0;
    std::vector<double> c;
    std::vector<std::array<double, kFullRangeEdges + 1>> rayEdges(kRays);
    std::vector<bool> valid(kRays);
    double darkLevel = 0.0, lightLevel = 0.0;
    int validRays = 0;
    for (int round = 0; round < 2; ++round) {
        double darkSum = 0.0, lightSum = 0.0;
        int darkN = 0, lightN = 0;
        validRays = 0;
        for (int r = 0; r < kRays; ++r) {
            const auto& prof = profiles[static_cast<std::size_t>(r)];
            crossings(prof, step, threshold, margin, edges, c);
            valid[static_cast<std::size_t>(r)] = false;
            if (static_cast<int>(c.size()) < edges) continue;
            double num = 0.0, den = 0.0;
            for (int k = kFirstFittedEdge; k <= edges; ++k) {
                num += c[static_cast<std::size_t>(k - 1)] * (k - 0.5);
                den += (k - 0.5) * (k - 0.5);
            }
            const double a = num / den;  // pixels per module along this ray
            if (a < 0.4 * module || a > 2.5 * module) continue;
            bool regular = c[0] < 1.2 * a;
            for (int k = kFirstFittedEdge; k <= edges && regular; ++k)
                regular = std::fabs(c[static_cast<std::size_t>(k - 1)] - a * (k - 0.5)) <= kRayTolerance * a;
            if (!regular) continue;
            valid[static_cast<std::size_t>(r)] = true;
            ++validRays;
            for (int k = 1; k <= edges; ++k) rayEdges[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)] = c[static_cast<std::size_t>(k - 1)];
            // Ring k's middle lies k modules out; the centre module is left
            // out, blur lightens it most.
            for (int k = 1; k < edges; ++k) {
                const double t = a * k;
                const auto i = static_cast<std::size_t>(t / step);
                if (i >= prof.size()) break;
                if (k % 2 == 0) {
                    darkSum += prof[i];
                    ++darkN;
                } else {
                    lightSum += prof[i];
                    ++lightN;
                }
            }
        }
        if (validRays < kMinValidRays * kRays || darkN == 0 || lightN == 0) return std::nullopt;
        darkLevel = darkSum / darkN;
        lightLevel = lightSum / lightN;
        if (lightLevel - darkLevel < kMinContrast) return std::nullopt;
        threshold = 0.5 * (darkLevel + lightLevel);
        margin = std::max(1.0, 0.08 * (lightLevel - darkLevel));
    }

    // Edge points, in finder modules round the finder's centre so that the
    // normal equations stay well conditioned.
    std::vector<EdgePoint> pts;
    double sx = 0.0, sy = 0.0;
    for (int r = 0; r < kRays; ++r) {
        if (!valid[static_cast<std::size_t>(r)]) continue;
        const double a = 2.0 * std::numbers::pi * r / kRays;
        const double ce = std::cos(a), se = std::sin(a);
        // Corners lie where the rings reach farthest: the fourth harmonic
        // of the edge distance points at them.
        const double d = rayEdges[static_cast<std::size_t>(r)][static_cast<std::size_t>(edges)];
        sx += d * std::cos(4.0 * a);
        sy += d * std::sin(4.0 * a);
        for (int k = kFirstFittedEdge; k <= edges; ++k) {
            const double t = rayEdges[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)] / module;
            pts.push_back({t * ce, t * se, k - 0.5, a});
        }
    }
    // The corner direction nearest the frame's top left, in [-pi, -pi/2).
    double phi = std::atan2(sy, sx) / 4.0;
    while (phi >= -std::numbers::pi / 2) phi -= std::numbers::pi / 2;
    while (phi < -std::numbers::pi) phi += std::numbers::pi / 2;
    for (EdgePoint& p : pts) {
        double rel = p.angle - phi;
        while (rel < 0) rel += 2.0 * std::numbers::pi;
        while (rel >= 2.0 * std::numbers::pi) rel -= 2.0 * std::numbers::pi;
        const int side = std::min(3, static_cast<int>(rel / (std::numbers::pi / 2)));
        const double within = rel - side * std::numbers::pi / 2;
        p.used = within > 0.2 && within < std::numbers::pi / 2 - 0.2;
        // Sides clockwise from the top-left corner: v = -h, u = +h, v = +h, u = -h.
        p.onU = side % 2 == 1;
        p.target = (side == 0 || side == 3) ? -p.half : p.half;
    }

    Mat3 g{};
    double residual = 0.0;
    for (int iter = 0; iter < 4; ++iter) {
        std::array<std::array<double, 9>, 8> ne{};
        int used = 0;
        for (const EdgePoint& p : pts) {
            if (!p.used) continue;
            ++used;
            // u-equation: a X + b Y + c - U g X - U h Y = U (v alike with d, e, f).
            std::array<double, 8> row{};
            const double t = p.target;
            const std::size_t o = p.onU ? 0 : 3;
            row[o] = p.x;
            row[o + 1] = p.y;
            row[o + 2] = 1.0;
            row[6] = -t * p.x;
            row[7] = -t * p.y;
            for (std::size_t i = 0; i < 8; ++i) {
                for (std::size_t j = 0; j < 8; ++j) ne[i][j] += row[i] * row[j];
                ne[i][8] += row[i] * t;
            }
        }
        if (used < 24) return std::nullopt;
        std::array<double, 8> sol{};
        if (!solve8(ne, sol)) return std::nullopt;
        g = {sol[0], sol[1], sol[2], sol[3], sol[4], sol[5], sol[6], sol[7], 1.0};
        // Reassign each point to the side the fit puts it on; drop points
        // near corners and far from their square.
        double sq = 0.0;
        int m = 0;
        for (EdgePoint& p : pts) {
            const double w = g[6] * p.x + g[7] * p.y + 1.0;
            const double u = (g[0] * p.x + g[1] * p.y + g[2]) / w;
            const double v = (g[3] * p.x + g[4] * p.y + g[5]) / w;
            if (iter < 3) {
                p.onU = std::fabs(u) > std::fabs(v);
                const double along = p.onU ? u : v;
                p.target = along < 0 ? -p.half : p.half;
                p.used = std::fabs(std::fabs(u) - std::fabs(v)) > cornerBand &&
                         std::fabs(std::fabs(along) - p.half) < kOutlier;
            }
            if (p.used) {
                const double e = (p.onU ? u : v) - p.target;
                sq += e * e;
                ++m;
            }
        }
        residual = m > 0 ? std::sqrt(sq / m) : 1e9;
    }
    if (!(residual < kMaxResidual)) return std::nullopt;

    // Grid -> normalised image -> image.
    const Mat3 scale = {module, 0.0, cx, 0.0, module, cy, 0.0, 0.0, 1.0};
    const Mat3 h = multiply(scale, invert(g));
    BullseyeFit fit;
    fit.toImage = fromMat(h);
    for (double coef : fit.toImage)
        if (!std::isfinite(coef)) return std::nullopt;
    fit.compact = compact;
    fit.dark = darkLevel;
    fit.light = lightLevel;
    fit.residual = residual;
    // The centre must lie where the finder saw it.
    const Point2d o = Aztec::Math::mapPoint(fit.toImage, 0.0, 0.0);
    if (std::hypot(o.x - cx, o.y - cy) > 1.5 * module) return std::nullopt;
    return fit;
}

}  // namespace

std::optional<BullseyeFit> fitBullseye(const Sampler& sampler, double cx, double cy, double module, bool compact,
                                       double blur, bool* otherPolarity) {
    if (!(module > 0.5)) return std::nullopt;
    auto edges = fitAt(sampler, cx, cy, module, compact, blur);
    // The second fit asked for under known blur is the edges' alone.
    if (blur > 0.0) return edges;
    return fitBullseyeFrom(sampler, edges, cx, cy, module, compact, /*roundRings=*/false, otherPolarity);
}

std::optional<BullseyeFit> fitBullseyeEdges(const Sampler& sampler, double cx, double cy, double module, bool compact) {
    if (!(module > 0.5)) return std::nullopt;
    return fitAt(sampler, cx, cy, module, compact, 0.0);
}

std::optional<BullseyeFit> fitBullseyeFrom(const Sampler& sampler, const std::optional<BullseyeFit>& edges, double cx,
                                           double cy, double module, bool compact, bool roundRings,
                                           bool* otherPolarity) {
    if (!(module > 0.5)) return std::nullopt;
    if (edges) {
        const Point2d o = Aztec::Math::mapPoint(edges->toImage, 0.0, 0.0);
        if (auto model = refineBullseye(sampler, edges->toImage, compact, kStartBlur, otherPolarity)) {
            const Point2d m = Aztec::Math::mapPoint(model->fit.toImage, 0.0, 0.0);
            if (std::hypot(m.x - o.x, m.y - o.y) < kModelMove * module) return model->fit;
        }
        return edges;
    }
    if (auto model = searchBullseye(sampler, cx, cy, module, compact, roundRings, otherPolarity)) {
        const Point2d m = Aztec::Math::mapPoint(model->fit.toImage, 0.0, 0.0);
        if (std::hypot(m.x - cx, m.y - cy) < kSearchMove * module) return model->fit;
    }
    return std::nullopt;
}

std::optional<Point2d> moreSymmetricCentre(const Sampler& sampler, double cx, double cy, double module) {
    if (!(module > 0.5)) return std::nullopt;
    const Point2d centre = symmetricCentre(sampler, cx, cy, module, kCompactEdges);
    if (std::hypot(centre.x - cx, centre.y - cy) < 0.3 * module) return std::nullopt;
    return centre;
}

namespace {

// `h` with grid point p where `move(p)` was: refitted through the corners
// of a square four modules out.
template <class Move>
Aztec::Math::Homography throughCorners(const Aztec::Math::Homography& h, Move&& move) {
    constexpr double d = 4.0;
    const Point2d src[4] = {{-d, -d}, {d, -d}, {d, d}, {-d, d}};
    Point2d dst[4];
    for (int k = 0; k < 4; ++k) {
        const Point2d m = move(src[k]);
        dst[k] = Aztec::Math::mapPoint(h, m.x, m.y);
    }
    return Aztec::Math::fitHomography(src[0], src[1], src[2], src[3], dst[0], dst[1], dst[2], dst[3]);
}

}  // namespace

Aztec::Math::Homography turned(const Aztec::Math::Homography& h, double degrees, double scale) {
    const double a = degrees * std::numbers::pi / 180.0;
    const double c = scale * std::cos(a), s = scale * std::sin(a);
    return throughCorners(h, [&](Point2d p) { return Point2d{c * p.x - s * p.y, s * p.x + c * p.y}; });
}

Aztec::Math::Homography shifted(const Aztec::Math::Homography& h, double du, double dv, double scale) {
    return throughCorners(h, [&](Point2d p) { return Point2d{p.x * scale + du, p.y * scale + dv}; });
}

}  // namespace AztecCore::Locate
