#include "locate/bullseye_model_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

#include "math/matrix.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace AztecCore::Locate {

namespace {

using Aztec::Math::Homography;

// The model is compared with the image on a grid of this spacing
// (modules), out to this far past the middle of the outermost dark ring:
// its outer edge and the blur round it.
constexpr double kStep = 1.0 / 3.0;
constexpr double kReachPast = 0.8;
// A whole symbol is compared at module centres and edges; the scales of
// a search on a coarser grid still.
constexpr double kSymbolStep = 0.5;
constexpr double kSearchStep = 2.0 / 3.0;
constexpr double kMinSigma = 0.1, kMaxSigma = 1.6;
// The scale of each term of the correction (its shift in modules, its
// linear and perspective terms): a fit stops once no step exceeds a tenth
// of it. The blur's Jacobian column is a difference over kSigmaDelta.
constexpr double kShiftDelta = 0.03;
constexpr double kLinearDelta = 0.005;
constexpr double kPerspectiveDelta = 0.001;
constexpr double kSigmaDelta = 0.01;
constexpr int kMaxIterations = 25;
// A bull's-eye explains most of the variance round it; noise, clutter and
// data patterns explain far less.
constexpr double kMinAgreement = 0.55;
// Scales tried round the finder's module size by searchBullseye, and the
// agreement a start needs before it is refined. Noise and clutter often
// reach a quarter, and each refinement costs about twenty evaluations of
// the model; bull's-eyes that end up read start above a third nearly
// always (from 0.25 to 0.35 a symbol-free 720p frame of noise 8 took
// 15 % less time; 1,800 blurred, camera and dotted frames read one fewer,
// and the 2,200 golden frames as many, five gained and five lost).
constexpr double kScales[] = {0.35, 0.42, 0.5, 0.55, 0.65, 0.75, 0.85, 0.95, 1.05, 1.15, 1.3, 1.45, 1.6};
constexpr double kMinStartAgreement = 0.35;
// Where the ring template has already found rings (searchBullseye's
// `roundRings`), a start needs less: heavy blur and noise keep even a
// start near the truth under a third. Measured over 600 camera-mix and
// blur-0.9 frames of each of three seeds, with the start's moves below:
// camera 1682 -> 1686, blur 0.9 1461 -> 1488.
constexpr double kMinRingsStartAgreement = 0.3;
constexpr double kStartScaleSteps[] = {0.95, 1.05};
constexpr double kStartTurnSteps[] = {-4.0, 4.0};
// symbolAngle looks this many modules round the centre, but no farther
// than kMaxSymbolAngleReach pixels, in up to kSymbolAngleSteps steps each
// way. Over the bull's-eye's reach alone the start's turn was off by up to
// 40 degrees on blurred camera frames that missed, where 18 modules put
// most within 4. From that start, 3,000 frames blurred by 0.9 module read
// 2,793 rather than 2,728, and 3,000 camera frames 2,833 rather than 2,832
// (five seeds); the whole-frame reads of the benchmark frames cost as many
// instructions as before.
constexpr double kSymbolAngleReach = 18.0;
constexpr double kMaxSymbolAngleReach = 160.0;
constexpr int kSymbolAngleSteps = 40;
constexpr double kMinContrast = 6.0;
constexpr int kParams = 9;  // the correction's eight terms and the blur
// The terms fitted with and without the perspective ones (6 and 7).
constexpr std::array<std::size_t, kParams> kAllTerms = {0, 1, 2, 3, 4, 5, 6, 7, 8};
constexpr std::array<std::size_t, kParams - 2> kAffineTerms = {0, 1, 2, 3, 4, 5, 8};
// The outermost dark ring: rings 0 .. 4 make the compact bull's-eye, 0 .. 6
// the full-range one.
constexpr int kCompactRings = 4, kFullRangeRings = 6;

// The transform is the start's, after a correction in the grid:
// (u, v) -> ((1 + c1) u + c2 v + c0, c4 u + (1 + c5) v + c3) / (c6 u + c7 v + 1).
struct Params {
    Homography base{};
    std::array<double, 8> c{};
    double sigma = 0.6;
};

Homography compose(const Params& p) {
    const auto& b = p.base;
    const auto& c = p.c;
    const std::array<double, 9> m = {b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], 1.0};
    const std::array<double, 9> a = {1.0 + c[1], c[2], c[0], c[4], 1.0 + c[5], c[3], c[6], c[7], 1.0};
    std::array<double, 9> r{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            for (std::size_t k = 0; k < 3; ++k) r[i * 3 + j] += m[i * 3 + k] * a[k * 3 + j];
    return {r[0] / r[8], r[1] / r[8], r[2] / r[8], r[3] / r[8], r[4] / r[8], r[5] / r[8], r[6] / r[8], r[7] / r[8]};
}

// Levels a + b model + c u + d v that match the samples best.
struct Levels {
    double a = 0.0, b = 0.0, c = 0.0, d = 0.0;
};

// Known module values of the core (1 dark, 0 light), `half` modules each
// way from the centre; everything beyond counts as a mean level of one half.
struct Core {
    int half = 0;
    std::vector<double> values;  // (2 half + 1)^2, entry (u + half) * side + (v + half)
    double outside = 0.5;        // the level taken beyond the core
    bool outsideKnown = false;   // a symbol's light quiet zone: every sample counts fully
    double step = kStep;         // sample spacing, modules
};

Core bullseyeCore(int rings) {
    Core core;
    core.half = rings;
    const int side = 2 * rings + 1;
    core.values.resize(static_cast<std::size_t>(side * side));
    for (int u = -rings; u <= rings; ++u)
        for (int v = -rings; v <= rings; ++v)
            core.values[static_cast<std::size_t>((u + rings) * side + v + rings)] = std::max(std::abs(u), std::abs(v)) % 2 == 0;
    return core;
}

// The model under one blur, with the normal equations' matrix of its
// levels and the total weight under the problem's current weights.
struct BlurredModel {
    bool made = false;
    double sigma = 0.0;
    std::vector<double> values;
    bool normalKnown = false;
    std::array<double, 16> normal{};
    double weight = 0.0;
};

class Problem {
public:
    Problem(const Sampler& sampler, int rings, Core core)
        : sampler_(sampler), rings_(rings), core_(std::move(core)) {
        const int n = static_cast<int>((core_.half + kReachPast) / core_.step);
        for (int i = -n; i <= n; ++i) axis_.push_back(i * core_.step);
        side_ = axis_.size();
        samples_.resize(side_ * side_);
        weights_.assign(side_ * side_, 1.0);
        roots_.assign(side_ * side_, 1.0);
        const auto modules = static_cast<std::size_t>(2 * core_.half + 1);
        table_.resize(modules * side_);
        edges_.resize((modules + 1) * side_);
        partial_.resize(modules * side_);
        outside_.resize(side_);
        rowX_.resize(side_);
        rowY_.resize(side_);
        slopeX_.resize(side_);
        slopeY_.resize(side_);
    }

    int rings() const { return rings_; }

    Homography transform(const Params& p) const { return compose(p); }

    // Residuals of the best levels for `p` into `res`; their sum of
    // squares. `total` receives the samples' sum of squares about their mean.
    double evaluate(const Params& p, std::vector<double>& res, Levels* levels = nullptr, double* total = nullptr) {
        sample(transform(p));
        if (p.sigma != modelSigma_) useModel(p.sigma);
        return residuals(res, levels, total);
    }

    // Beyond the core lie modules unknown here; blur carries them inwards.
    // Each sample counts by how little of them reaches it (the blurred
    // share of the core's square, to the eighth power), under the blur
    // `sigma`, fixed while a fit runs so that the blur cannot lower the
    // cost by discounting samples. The unknown modules are taken at their
    // mean, but the few round a bull's-eye are seldom half dark, and under
    // heavy blur they pull the fit: from the exact transform of compact
    // symbols blurred by 0.9 of a module (no noise), the fit settled with
    // the scale 2-9 % small under the fourth power, 0-5 % under the eighth.
    // Stronger still gained nothing in reads (200 blurred and camera
    // frames each; the eighth power read 26 more at blur 0.9).
    void weigh(double sigma) {
        if (core_.outsideKnown) return;
        for (BlurredModel& m : models_) m.normalKnown = false;
        std::vector<double> square(side_);
        blurredSquare(sigma, core_.half + 0.5, square);
        for (std::size_t i = 0; i < side_; ++i)
            for (std::size_t j = 0; j < side_; ++j) {
                const double known = square[i] * square[j];
                const double known2 = known * known, known4 = known2 * known2;
                weights_[i * side_ + j] = known4 * known4;
                roots_[i * side_ + j] = std::sqrt(weights_[i * side_ + j]);
            }
    }

    bool budgetSpent() const { return sampler_.budgetSpent(); }

    void sample(const Homography& h) {
        sampler_.atGrid(h, axis_.data(), side_, rowX_.data(), rowY_.data(), samples_.data());
    }

    // The model for the blur `sigma`: one of the last few made (a fit
    // returns to its current blur after each trial of another), or made now.
    void useModel(double sigma) {
        modelSigma_ = sigma;
        for (std::size_t k = 0; k < models_.size(); ++k)
            if (models_[k].made && models_[k].sigma == sigma) {
                current_ = k;
                return;
            }
        current_ = nextModel_;
        nextModel_ = (nextModel_ + 1) % models_.size();
        model(sigma, models_[current_]);
    }

    // The blurred core: each module a square of blurred edges, separable
    // along u and v, and the unknown rest at a mean of one half.
    void model(double sigma, BlurredModel& out) {
        out.made = true;
        out.sigma = sigma;
        out.normalKnown = false;
        out.values.resize(side_ * side_);
        // Worth about as much as sampling the grid once per module.
        sampler_.charge(static_cast<std::int64_t>(side_ * side_) * (2 * core_.half + 1));
        const double k = 1.0 / (sigma * std::numbers::sqrt2);
        const int half = core_.half;
        const auto modules = static_cast<std::size_t>(2 * half + 1);
        // Neighbouring modules share an edge: each edge's error function is
        // taken once (edge e lies at e - half - 0.5).
        for (std::size_t e = 0; e <= modules; ++e) {
            const double at = static_cast<double>(e) - half - 0.5;
            for (std::size_t i = 0; i < side_; ++i) edges_[e * side_ + i] = std::erf((at - axis_[i]) * k);
        }
        for (std::size_t c = 0; c < modules; ++c)
            for (std::size_t i = 0; i < side_; ++i)
                table_[c * side_ + i] = 0.5 * (edges_[(c + 1) * side_ + i] - edges_[c * side_ + i]);
        // partial[c][j]: column c of the core, blurred along v at sample j,
        // summed over the column's modules in order, a row of samples at a
        // time. Light modules add nothing and are left out.
        for (std::size_t c = 0; c < modules; ++c) {
            double* out = partial_.data() + c * side_;
            std::fill(out, out + side_, 0.0);
            for (std::size_t r = 0; r < modules; ++r) {
                const double value = core_.values[c * modules + r];
                if (value == 0.0) continue;
                const double* t = table_.data() + r * side_;
                for (std::size_t j = 0; j < side_; ++j) out[j] += value * t[j];
            }
        }
        blurredSquare(sigma, half + 0.5, outside_);
        // Each value is the outside's share plus the columns' in order of
        // c, summed a row of samples at a time so that the sums vectorise.
        for (std::size_t i = 0; i < side_; ++i) {
            double* row = out.values.data() + i * side_;
            for (std::size_t j = 0; j < side_; ++j) row[j] = core_.outside * (1.0 - outside_[i] * outside_[j]);
            for (std::size_t c = 0; c < modules; ++c) {
                const double t = table_[c * side_ + i];
                if (t == 0.0) continue;
                const double* column = partial_.data() + c * side_;
                for (std::size_t j = 0; j < side_; ++j) row[j] += t * column[j];
            }
        }
    }

    // The current model, with the normal equations' matrix of its levels and
    // the total weight: those depend on the model and the weights alone, not
    // on the samples, and are summed once per model and weights.
    BlurredModel& currentModel() {
        BlurredModel& cur = models_[current_];
        const std::vector<double>& model_ = cur.values;
        if (!cur.normalKnown) {
            // The ten distinct sums of the symmetric matrix over the levels'
            // terms (1, model, u, v).
            double w1 = 0.0, wm = 0.0, wu = 0.0, wv = 0.0, wmm = 0.0, wmu = 0.0, wmv = 0.0, wuu = 0.0, wuv = 0.0, wvv = 0.0;
            for (std::size_t i = 0; i < side_; ++i) {
                const double u = axis_[i];
                for (std::size_t j = 0; j < side_; ++j) {
                    const double v = axis_[j], w = weights_[i * side_ + j], m = model_[i * side_ + j];
                    const double mw = m * w;
                    w1 += w;
                    wm += mw;
                    wu += w * u;
                    wv += w * v;
                    wmm += mw * m;
                    wmu += mw * u;
                    wmv += mw * v;
                    wuu += w * u * u;
                    wuv += w * u * v;
                    wvv += w * v * v;
                }
            }
            cur.normal = {w1, wm, wu, wv, wm, wmm, wmu, wmv, wu, wmu, wuu, wuv, wv, wmv, wuv, wvv};
            cur.weight = w1;
            cur.normalKnown = true;
        }
        return cur;
    }

    // The Jacobian of evaluate()'s residuals at `p`, whose residuals are
    // `res`: a column of res.size() per term into `jac` (column k at
    // k res.size()); the perspective terms' columns only with
    // `perspective`. The samples at `p` are taken again on the way, in the
    // same pass as their slopes.
    // The residuals are the weighted samples less the best levels, and
    // the levels are linear in the samples: a term's column is the
    // samples' derivative (the image's slope along the point's path as
    // the term changes) less its own best fit by the levels, weighted.
    // That is exact where the differences of evaluate() it replaces took
    // seven more samplings per iteration. The blur changes the model, not
    // the samples: its column is a difference of residuals over the same
    // samples. `trial` is scratch.
    void jacobian(const Params& p, const std::vector<double>& res, bool perspective, std::vector<double>& jac,
                  std::vector<double>& trial) {
        const Homography h = transform(p);
        if (p.sigma != modelSigma_) useModel(p.sigma);
        const BlurredModel& cur = currentModel();
        const std::size_t n = samples_.size();
        const int geometric = perspective ? 8 : 6;
        // Charged as a sampling and its slopes.
        sampler_.charge(2 * static_cast<std::int64_t>(n));
        const auto& b = p.base;
        const auto& c = p.c;
        // A row of the grid at a time: where its points lie (as sample()
        // places them), then their levels and the image's slopes there, two
        // at a time, then the terms' columns, in plain loops that vectorise
        // (each element gets the same operations either way).
        for (std::size_t i = 0; i < side_; ++i) {
            const double u = axis_[i];
            Sampler::placeRow(h, u, axis_.data(), side_, rowX_.data(), rowY_.data());
            sampler_.levelAndSlopeEach(rowX_.data(), rowY_.data(), side_, samples_.data() + i * side_, slopeX_.data(),
                                       slopeY_.data());
            double* const j0 = jac.data() + i * side_;
            if (perspective)
                slopeColumns<true>(u, b, c, j0, n);
            else
                slopeColumns<false>(u, b, c, j0, n);
        }
        // Less each column's best fit by the levels (1, model, u, v).
        const std::vector<double>& m = cur.values;
        for (int k = 0; k < geometric; ++k) {
            double* column = jac.data() + static_cast<std::size_t>(k) * n;
            std::array<double, 4> rhs{};
            for (std::size_t i = 0; i < side_; ++i)
                for (std::size_t j = 0; j < side_; ++j) {
                    const std::size_t at = i * side_ + j;
                    const double wg = weights_[at] * column[at];
                    rhs[0] += wg;
                    rhs[1] += wg * m[at];
                    rhs[2] += wg * axis_[i];
                    rhs[3] += wg * axis_[j];
                }
            std::array<double, 4> z{};
            if (!Aztec::Math::solvePivoted<4>(cur.normal, rhs, z)) z = {rhs[0] / cur.weight, 0.0, 0.0, 0.0};
            for (std::size_t i = 0; i < side_; ++i)
                for (std::size_t j = 0; j < side_; ++j) {
                    const std::size_t at = i * side_ + j;
                    column[at] = roots_[at] * (column[at] - (z[0] + z[1] * m[at] + z[2] * axis_[i] + z[3] * axis_[j]));
                }
        }
        useModel(p.sigma + kSigmaDelta);
        residuals(trial, nullptr, nullptr);
        double* column = jac.data() + 8 * n;
        for (std::size_t i = 0; i < n; ++i) column[i] = (trial[i] - res[i]) / kSigmaDelta;
    }

    // The terms' columns of grid row u at j0 (columns n apart), from the
    // row's points and slopes: the corrected grid point (u', v') = (nu,
    // nv) / d, then the slope carried back through the start's transform
    // to it.
    template <bool Perspective>
    void slopeColumns(double u, const Homography& b, const std::array<double, 8>& c, double* __restrict j0,
                      std::size_t n) const {
        const double* __restrict xs = rowX_.data();
        const double* __restrict ys = rowY_.data();
        const double* __restrict gxs = slopeX_.data();
        const double* __restrict gys = slopeY_.data();
        const double* __restrict axis = axis_.data();
        for (std::size_t j = 0; j < side_; ++j) {
            const double v = axis[j], x = xs[j], y = ys[j], gx = gxs[j], gy = gys[j];
            const double d = c[6] * u + c[7] * v + 1.0;
            const double cu = ((1.0 + c[1]) * u + c[2] * v + c[0]) / d;
            const double cv = (c[4] * u + (1.0 + c[5]) * v + c[3]) / d;
            const double bw = b[6] * cu + b[7] * cv + 1.0;
            const double gu = (gx * (b[0] - x * b[6]) + gy * (b[3] - y * b[6])) / bw;  // d level / d u'
            const double gv = (gx * (b[1] - x * b[7]) + gy * (b[4] - y * b[7])) / bw;  // d level / d v'
            const double su = gu / d, sv = gv / d;
            j0[0 * n + j] = su;
            j0[1 * n + j] = su * u;
            j0[2 * n + j] = su * v;
            j0[3 * n + j] = sv;
            j0[4 * n + j] = sv * u;
            j0[5 * n + j] = sv * v;
            if constexpr (Perspective) {
                const double back = -(su * cu + sv * cv);
                j0[6 * n + j] = back * u;
                j0[7 * n + j] = back * v;
            }
        }
    }

    double residuals(std::vector<double>& res, Levels* levels, double* total) {
        BlurredModel& cur = currentModel();
        const std::vector<double>& model_ = cur.values;
        const std::array<double, 16>& ne = cur.normal;
        const double weight = cur.weight;
        std::array<double, 4> rhs{};
        double sum = 0.0, sumSq = 0.0;
        for (std::size_t i = 0; i < side_; ++i)
            for (std::size_t j = 0; j < side_; ++j) {
                const std::array<double, 4> f = {1.0, model_[i * side_ + j], axis_[i], axis_[j]};
                const double y = samples_[i * side_ + j], w = weights_[i * side_ + j];
                for (std::size_t r = 0; r < 4; ++r) rhs[r] += w * f[r] * y;
                sum += w * y;
                sumSq += w * y * y;
            }
        std::array<double, 4> x{};
        if (!Aztec::Math::solvePivoted<4>(ne, rhs, x)) x = {sum / weight, 0.0, 0.0, 0.0};
        res.resize(samples_.size());
        double cost = 0.0;
        for (std::size_t i = 0; i < side_; ++i)
            for (std::size_t j = 0; j < side_; ++j) {
                const double e = roots_[i * side_ + j] *
                                 (samples_[i * side_ + j] - (x[0] + x[1] * model_[i * side_ + j] + x[2] * axis_[i] + x[3] * axis_[j]));
                res[i * side_ + j] = e;
                cost += e * e;
            }
        if (levels) *levels = {x[0], x[1], x[2], x[3]};
        if (total) *total = sumSq - sum * sum / weight;
        return cost;
    }

private:
    // A square of half-size `half` blurred by `sigma`, along one axis.
    void blurredSquare(double sigma, double half, std::vector<double>& out) const {
        const double k = 1.0 / (sigma * std::numbers::sqrt2);
        for (std::size_t i = 0; i < side_; ++i) out[i] = 0.5 * (std::erf((half - axis_[i]) * k) - std::erf((-half - axis_[i]) * k));
    }

    const Sampler& sampler_;
    int rings_;
    Core core_;
    std::vector<double> axis_;
    std::size_t side_ = 0;
    std::vector<double> samples_, table_, edges_, partial_, outside_, weights_;
    std::vector<double> roots_;  // square roots of the weights
    std::vector<double> rowX_, rowY_;  // a row's points in the image
    std::vector<double> slopeX_, slopeY_;  // and the image's slopes there
    double modelSigma_ = -1.0;
    // The last few models made.
    std::array<BlurredModel, 4> models_{};
    std::size_t current_ = 0, nextModel_ = 0;
};

// The sum of a[i] b[i]: four running sums (two pairs of lanes with SSE2),
// added at the end.
double dot(const double* a, const double* b, std::size_t n) {
    std::size_t i = 0;
    double sum = 0.0;
#if defined(__SSE2__)
    __m128d s0 = _mm_setzero_pd(), s1 = _mm_setzero_pd();
    for (; i + 4 <= n; i += 4) {
        s0 = _mm_add_pd(s0, _mm_mul_pd(_mm_loadu_pd(a + i), _mm_loadu_pd(b + i)));
        s1 = _mm_add_pd(s1, _mm_mul_pd(_mm_loadu_pd(a + i + 2), _mm_loadu_pd(b + i + 2)));
    }
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, _mm_add_pd(s0, s1));
    sum = lanes[0] + lanes[1];
#else
    double s[4] = {};
    for (; i + 4 <= n; i += 4)
        for (std::size_t k = 0; k < 4; ++k) s[k] += a[i + k] * b[i + k];
    sum = (s[0] + s[2]) + (s[1] + s[3]);
#endif
    for (; i < n; ++i) sum += a[i] * b[i];
    return sum;
}

double& param(Params& p, int k) { return k == 8 ? p.sigma : p.c[static_cast<std::size_t>(k)]; }

// The scale of the correction's term k (0 .. 7).
double delta(int k) {
    switch (k) {
        case 0: case 3: return kShiftDelta;
        case 6: case 7: return kPerspectiveDelta;
        default: return kLinearDelta;
    }
}

// Levenberg-Marquardt over the correction of the transform and the blur;
// the levels are solved exactly for every trial (variable projection).
// With `orient` the result is turned into the orientation the rest of the
// stage expects; otherwise it keeps the start's.
// With `perspective` the correction's perspective terms are fitted too;
// without, the start's perspective is kept (a bull's-eye under heavy blur
// says little about it).
std::optional<ModelFit> levenbergMarquardt(Problem& problem, Params p, bool compact, bool orient = true,
                                           bool perspective = false, bool* otherPolarity = nullptr) {
    std::vector<double> res, trial, jac;
    double cost = 0.0;
    // The samples' weights follow the blur; a second round runs when the
    // fit has moved the blur far from where it started.
    for (int round = 0; round < 2; ++round) {
    const double startSigma = p.sigma;
    problem.weigh(p.sigma);
    cost = problem.evaluate(p, res);
    const std::size_t n = res.size();
    jac.resize(n * kParams);
    double lambda = 1e-3;
    for (int iter = 0; iter < kMaxIterations; ++iter) {
        if (problem.budgetSpent()) return std::nullopt;
        // The Jacobian is kept a column per term. Terms left out have no
        // column: their sums stay zero and are not summed.
        problem.jacobian(p, res, perspective, jac, trial);
        std::array<double, kParams * kParams> jtj{};
        std::array<double, kParams> jtr{};
        // The upper triangle of J^T J and J^T r, a column pair at a time.
        const auto accumulate = [&](const auto& terms) {
            for (std::size_t ai = 0; ai < terms.size(); ++ai) {
                const std::size_t a = terms[ai];
                const double* column = jac.data() + a * n;
                jtr[a] = -dot(column, res.data(), n);
                for (std::size_t bi = ai; bi < terms.size(); ++bi)
                    jtj[a * kParams + terms[bi]] = dot(column, jac.data() + terms[bi] * n, n);
            }
        };
        if (perspective)
            accumulate(kAllTerms);
        else
            accumulate(kAffineTerms);
        for (std::size_t a = 0; a < kParams; ++a)
            for (std::size_t b = 0; b < a; ++b) jtj[a * kParams + b] = jtj[b * kParams + a];
        // Terms left out stay put.
        for (std::size_t a = 0; a < kParams; ++a)
            if (jtj[a * kParams + a] == 0.0) jtj[a * kParams + a] = 1.0;
        double largest = 0.0;
        const auto improved = Aztec::Math::dampedStep<kParams>(jtj, jtr, lambda, [&](const std::array<double, kParams>& step) {
            Params q = p;
            largest = 0.0;
            for (int k = 0; k < kParams; ++k) {
                param(q, k) += step[static_cast<std::size_t>(k)];
                if (k < 8) largest = std::max(largest, std::fabs(step[static_cast<std::size_t>(k)]) / delta(k));
            }
            q.sigma = std::clamp(q.sigma, kMinSigma, kMaxSigma);
            const double c = problem.evaluate(q, trial);
            if (!(c < cost)) return false;
            p = q;
            cost = c;
            res.swap(trial);
            return true;
        });
        if (!improved) return std::nullopt;
        if (!*improved || largest < 0.1) break;
    }
    if (std::fabs(p.sigma - startSigma) < 0.15) break;
    }
    Levels levels;
    double total = 0.0;
    problem.weigh(p.sigma);
    cost = problem.evaluate(p, res, &levels, &total);
    if (!(total > 0.0)) return std::nullopt;
    ModelFit out;
    out.agreement = 1.0 - cost / total;
    out.sigma = p.sigma;
    // The model counts a dark module as 1: a dark centre makes b negative.
    if (!(out.agreement >= kMinAgreement)) return std::nullopt;
    if (!(-levels.b >= kMinContrast)) {
        // Rings that fit with a light centre: under heavy blur the finder
        // can take a bull's-eye for one of the other polarity.
        if (otherPolarity && levels.b >= kMinContrast) *otherPolarity = true;
        return std::nullopt;
    }
    const Homography h = problem.transform(p);
    for (double coef : h)
        if (!std::isfinite(coef)) return std::nullopt;

    // The orientation the rest of the stage expects: clockwise as seen in
    // the frame, grid (-1, -1) towards the frame's top left.
    const Point2d o = Aztec::Math::mapPoint(h, 0.0, 0.0);
    double bestScore = -1e18;
    Homography best = h;
    for (int d = 0; d < (orient ? 8 : 0); ++d) {
        auto turn = [d](double u, double v) {
            if (d & 4) std::swap(u, v);
            for (int q = 0; q < (d & 3); ++q) {
                const double w = u;
                u = -v;
                v = w;
            }
            return Point2d{u, v};
        };
        const Point2d pu = Aztec::Math::mapPoint(h, turn(1.0, 0.0).x, turn(1.0, 0.0).y);
        const Point2d pv = Aztec::Math::mapPoint(h, turn(0.0, 1.0).x, turn(0.0, 1.0).y);
        const double det = (pu.x - o.x) * (pv.y - o.y) - (pu.y - o.y) * (pv.x - o.x);
        if (det <= 0.0) continue;
        const Point2d c = Aztec::Math::mapPoint(h, turn(-1.0, -1.0).x, turn(-1.0, -1.0).y);
        const double score = -(c.x - o.x) - (c.y - o.y);
        if (score > bestScore) {
            bestScore = score;
            const double r = problem.rings();
            best = Aztec::Math::fitHomography({-r, -r}, {r, -r}, {r, r}, {-r, r},
                                              Aztec::Math::mapPoint(h, turn(-r, -r).x, turn(-r, -r).y),
                                              Aztec::Math::mapPoint(h, turn(r, -r).x, turn(r, -r).y),
                                              Aztec::Math::mapPoint(h, turn(r, r).x, turn(r, r).y),
                                              Aztec::Math::mapPoint(h, turn(-r, r).x, turn(-r, r).y));
        }
    }
    out.fit.toImage = best;
    out.fit.compact = compact;
    out.fit.dark = levels.a + levels.b;
    out.fit.light = levels.a;
    out.fit.residual = std::sqrt(cost / total);
    return out;
}

Params paramsOf(const Homography& h) {
    Params p;
    p.base = h;
    return p;
}

}  // namespace

std::optional<ModelFit> refineBullseye(const Sampler& sampler, const Homography& start, bool compact, double sigma,
                                       bool* otherPolarity) {
    const int rings = compact ? kCompactRings : kFullRangeRings;
    Problem problem(sampler, rings, bullseyeCore(rings));
    Params p = paramsOf(start);
    p.sigma = std::clamp(sigma, kMinSigma, kMaxSigma);
    return levenbergMarquardt(problem, p, compact, /*orient=*/true, /*perspective=*/false, otherPolarity);
}

namespace {

// Edges that run along two perpendicular directions: the fourth power of
// their gradients, each weighted by its strength, sums to a direction
// along them (four times its angle, whatever the levels' sign).
void addEdge(std::complex<double>& sum, double gx, double gy) {
    const double mag = gx * gx + gy * gy;
    if (mag <= 0.0) return;
    const std::complex<double> g(gx, gy);
    sum += (g * g) * (g * g) / mag;
}

}  // namespace

double ringAngle(const Sampler& sampler, double x, double y, double reach, double step) {
    std::complex<double> sum;
    const double d = step;
    for (double dy = -reach; dy <= reach; dy += d) {
        for (double dx = -reach; dx <= reach; dx += d) {
            if (dx * dx + dy * dy > reach * reach) continue;
            const double gx = sampler.at(x + dx + d, y + dy) - sampler.at(x + dx - d, y + dy);
            const double gy = sampler.at(x + dx, y + dy + d) - sampler.at(x + dx, y + dy - d);
            addEdge(sum, gx, gy);
        }
    }
    return std::arg(sum) / 4.0;
}

double symbolAngle(const Sampler& sampler, double x, double y, double module) {
    if (!(std::fabs(x) < 1e6 && std::fabs(y) < 1e6)) return 0.0;
    const GreyView& v = sampler.view();
    const double reach = std::min(kSymbolAngleReach * module, kMaxSymbolAngleReach);
    const int step = std::max(1, static_cast<int>(std::lround(reach / kSymbolAngleSteps)));
    const int steps = static_cast<int>(reach / step);
    const int cx = static_cast<int>(std::lround(x)), cy = static_cast<int>(std::lround(y));
    // Points whose differences would reach past the image are left out:
    // point i of a line lies at c + i step, and needs step pixels either side.
    const auto floorDiv = [](int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    const int firstX = std::max(-steps, -floorDiv(cx - step, step)), lastX = std::min(steps, floorDiv(v.width - 1 - step - cx, step));
    const int firstY = std::max(-steps, -floorDiv(cy - step, step)), lastY = std::min(steps, floorDiv(v.height - 1 - step - cy, step));
    std::complex<double> sum;
    std::int64_t points = 0;
    for (int j = firstY; j <= lastY; ++j) {
        const int py = cy + j * step;
        const std::uint8_t* row = v.pixels + static_cast<std::ptrdiff_t>(py) * v.stride;
        const std::uint8_t* above = row - static_cast<std::ptrdiff_t>(step) * v.stride;
        const std::uint8_t* below = row + static_cast<std::ptrdiff_t>(step) * v.stride;
        for (int i = firstX; i <= lastX; ++i) {
            if (i * i + j * j > steps * steps) continue;
            const int px = cx + i * step;
            const double gx = row[px + step] - row[px - step];
            addEdge(sum, gx, below[px] - above[px]);
            ++points;
        }
    }
    sampler.charge(points);
    return std::arg(sum) / 4.0;
}

std::optional<ModelFit> searchBullseye(const Sampler& sampler, double x, double y, double module, bool compact,
                                       bool roundRings, bool* otherPolarity) {
    if (!(module > 0.5)) return std::nullopt;
    const int rings = compact ? kCompactRings : kFullRangeRings;
    // Scales are tried on a coarse grid of samples; the fit refines on the
    // ordinary one.
    Core coarse = bullseyeCore(rings);
    coarse.step = kSearchStep;
    Problem problem(sampler, rings, std::move(coarse));
    const double estimated = symbolAngle(sampler, x, y, module);
    std::vector<double> res;
    problem.weigh(Params{}.sigma);
    double bestAgreement = roundRings ? kMinRingsStartAgreement : kMinStartAgreement;
    Params best;
    bool found = false;
    const auto consider = [&](const Params& p) {
        double total = 0.0;
        const double cost = problem.evaluate(p, res, nullptr, &total);
        if (!(total > 0.0)) return;
        const double agreement = 1.0 - cost / total;
        if (agreement > bestAgreement) {
            bestAgreement = agreement;
            best = p;
            found = true;
        }
    };
    const double angles[] = {estimated, estimated + kDiagonalTurn};
    for (int a = 0; a < (roundRings ? 2 : 1) && !found; ++a) {
        const double ca = std::cos(angles[a]), sa = std::sin(angles[a]);
        for (double scale : kScales) {
            const double s = scale * module;
            Params p;
            p.base = {s * ca, -s * sa, x, s * sa, s * ca, y, 0.0, 0.0};
            consider(p);
        }
    }
    if (!found) return std::nullopt;
    if (roundRings) {
        // The grid's scales lie a tenth apart, and a full-range bull's-eye's
        // outer ring is 6.5 modules out: a start 5 % off in scale or a few
        // degrees off in turn puts it a third of a module away, where under
        // heavy blur the fit no longer finds it. The best start is moved
        // half a step each way, in scale and then in turn.
        for (double f : kStartScaleSteps) {
            Params p = best;
            p.base = turned(best.base, 0.0, f);
            consider(p);
        }
        const Params scaled = best;
        for (double degrees : kStartTurnSteps) {
            Params p = scaled;
            p.base = turned(scaled.base, degrees, 1.0);
            consider(p);
        }
    }
    Problem fine(sampler, rings, bullseyeCore(rings));
    return levenbergMarquardt(fine, best, compact, /*orient=*/true, /*perspective=*/false, otherPolarity);
}

std::optional<ModelFit> refineWithModeRing(const Sampler& sampler, const BullseyeFit& fit, const Aztec::BitList& ring,
                                           double sigma) {
    const int rings = fit.compact ? kCompactRings : kFullRangeRings;
    const int h = rings + 1, len = 2 * h;
    if (ring.size() != static_cast<std::size_t>(4 * len)) return std::nullopt;
    Core core = bullseyeCore(rings);
    const int side = 2 * h + 1;
    std::vector<double> values(static_cast<std::size_t>(side * side));
    for (int u = -rings; u <= rings; ++u)
        for (int v = -rings; v <= rings; ++v)
            values[static_cast<std::size_t>((u + h) * side + v + h)] =
                core.values[static_cast<std::size_t>((u + rings) * (2 * rings + 1) + v + rings)];
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < len; ++i) {
            const auto [u, v] = modeRingOffset(k, i, h);
            values[static_cast<std::size_t>((u + h) * side + v + h)] = ring.get(k * len + i) ? 1.0 : 0.0;
        }
    }
    core.half = h;
    core.values = std::move(values);
    Problem problem(sampler, rings, std::move(core));
    Params p = paramsOf(fit.toImage);
    p.sigma = std::clamp(sigma, kMinSigma, kMaxSigma);
    return levenbergMarquardt(problem, p, fit.compact, /*orient=*/false);
}

std::optional<ModelFit> refineWithSymbol(const Sampler& sampler, const Homography& start, int size,
                                         const std::vector<double>& values, double sigma, int part) {
    if (size < 2 * kCompactRings + 3 || values.size() != static_cast<std::size_t>(size) * static_cast<std::size_t>(size))
        return std::nullopt;
    Core core;
    core.step = kSymbolStep;
    if (part > 0 && part < size) {
        if (part % 2 == 0 || part < 2 * kCompactRings + 3) return std::nullopt;
        const int skip = (size - part) / 2;
        core.half = (part - 1) / 2;
        core.values.resize(static_cast<std::size_t>(part) * static_cast<std::size_t>(part));
        for (int x = 0; x < part; ++x)
            for (int y = 0; y < part; ++y)
                core.values[static_cast<std::size_t>(x * part + y)] =
                    values[static_cast<std::size_t>((x + skip) * size + y + skip)];
    } else {
        core.half = (size - 1) / 2;
        core.values = values;
        core.outside = 0.0;
        core.outsideKnown = true;
    }
    Problem problem(sampler, kCompactRings, std::move(core));
    Params p = paramsOf(start);
    p.sigma = std::clamp(sigma, kMinSigma, kMaxSigma);
    return levenbergMarquardt(problem, p, false, /*orient=*/false, /*perspective=*/true);
}

}  // namespace AztecCore::Locate
