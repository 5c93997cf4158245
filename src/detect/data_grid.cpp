// Samples the whole symbol into a module matrix. The symbol is cut into
// cells of 16 x 16 modules whose corners are points of the candidate's
// grid; each cell gets its own perspective transform, so a bent or tilted
// symbol is followed piecewise. Compact symbols map their grid from the
// bull's-eye transform. Full-range symbols carry a reference grid (lines of
// alternating modules every 16 modules through the centre); its crossings
// are found in the image by searching for the alternating pattern near
// their predicted position, and one ring of points beyond the outermost
// lines is extrapolated from the cells inside it.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "detect/symbol_detector.h"

namespace AztecCore {

namespace {
constexpr int kCell = 16;
constexpr int kOrigin = SymbolCandidate::kGridOrigin;
// Line search: 19 offsets of a fifth of a module, profiles of 81 points at
// a fifth of a module (+-8 modules).
constexpr int kSearchOffsets = 9;
constexpr int kProfileHalf = 40;
constexpr double kStep = 5.0;
constexpr std::int32_t kMinContrast = 16;
constexpr int kSamplesPerModule = 5;
constexpr std::int32_t kNoScore = 999999999;
constexpr int kWindowHalf = 2;
constexpr int kBorderWindow = SymbolDetector::kBorderWindow;
constexpr std::uint32_t kMaxGrey = 255;
constexpr std::uint32_t kSaturatedSample = 0xFFFF;
// A crossing farther than this from the fit of all crossings is an outlier.
constexpr double kOutlierModules = 0.6;
// A located line may lie at most this far from its predicted position.
constexpr double kMaxLineShift = 1.0;

int referenceLines(std::int32_t size) { return 2 * (((size - 1) / 2) / kCell) + 1; }

// A module's classification window along one index of n: i - 2 ... i + 2,
// or the first or last eight at the borders.
void classificationWindow(std::int32_t i, std::int32_t n, std::int32_t& i0, std::int32_t& i1) {
    i0 = i - kWindowHalf;
    i1 = i + kWindowHalf;
    if (i0 < 0) {
        i0 = 0;
        i1 = kBorderWindow - 1;
    }
    if (i1 >= n) {
        i1 = n - 1;
        i0 = n - kBorderWindow;
    }
}
}  // namespace

namespace {
std::int32_t alternationScoreOf(const std::int32_t* profile, int n) {
    std::int32_t lo = 255, hi = 0;
    for (int i = 0; i < n; ++i) {
        lo = std::min(lo, profile[i]);
        hi = std::max(hi, profile[i]);
    }
    const std::int32_t mid = (hi + lo) / 2;
    if (hi - mid < kMinContrast || mid - lo < kMinContrast) return -1;
    // A sample is dark when below the mid-level.
    std::int32_t best = kNoScore;
    for (int p = 0; p < kSamplesPerModule && p < n; ++p) {
        bool expected = profile[p] < mid;
        std::int32_t breaks = 0;
        for (int q = p + kSamplesPerModule; q < n; q += kSamplesPerModule) {
            expected = !expected;
            if ((profile[q] < mid) != expected) ++breaks;
        }
        best = std::min(best, breaks);
    }
    return best;
}

double bestRunCentreOf(const std::int32_t* scores, std::int32_t n);
}  // namespace

std::int32_t alternationScore(const std::vector<std::int32_t>& profile) {
    return alternationScoreOf(profile.data(), static_cast<int>(profile.size()));
}

double bestRunCentre(const std::vector<std::int32_t>& scores) {
    return bestRunCentreOf(scores.data(), static_cast<std::int32_t>(scores.size()));
}

namespace {
double bestRunCentreOf(const std::int32_t* scores, std::int32_t n) {
    if (n < 2) return 0;
    std::int32_t lo = 0, hi = 0;
    bool any = false;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t s = scores[i];
        if (s < 0) continue;
        if (!any) { lo = hi = s; any = true; }
        lo = std::min(lo, s);
        hi = std::max(hi, s);
    }
    if (!any) return 0;
    const std::int32_t limit = (hi - lo) / 5 + lo;
    float best = 0.0f;
    double result = 0.0;
    for (std::int32_t i = 0; i < n;) {
        auto good = [&](std::int32_t k) {
            const std::int32_t s = scores[k];
            return s >= 0 && s <= limit ? hi - s : -1;
        };
        if (good(i) < 0) { ++i; continue; }
        const std::int32_t start = i;
        std::int32_t sum = 0;
        while (i < n && good(i) >= 0) sum += good(i++);
        const std::int32_t length = i - start;
        // Runs about one module (five offsets) long are preferred.
        float f = static_cast<float>(length) / 5.0f;
        if (f > 1.0f) f = 1.0f / f;
        const float value = static_cast<float>(sum) / static_cast<float>(length) * f;
        if (value > best) {
            best = value;
            // The middle of the run; for an even length that lies between two
            // offsets, and rounding it up would shift every line a tenth of
            // a module the same way.
            result = start + (length - 1) / 2.0;
        }
    }
    return result;
}

}  // namespace

bool isDarkModule(const std::vector<std::vector<std::uint32_t>>& array, std::int32_t p, std::int32_t q) {
    const auto np = static_cast<std::int32_t>(array.size());
    const auto nq = static_cast<std::int32_t>(array.at(0).size());
    std::int32_t p0, p1, q0, q1;
    classificationWindow(p, np, p0, p1);
    classificationWindow(q, nq, q0, q1);
    const std::uint32_t v = array.at(static_cast<std::size_t>(p)).at(static_cast<std::size_t>(q));
    // A module sampled off the image is light. Off-image neighbours are left
    // out of the range: at hundreds of millions they would lift the mid-level
    // above every grey value and turn all modules near the frame edge dark.
    if (v > kMaxGrey) return false;
    std::uint32_t lo = v, hi = v;
    for (std::int32_t i = p0; i <= p1; ++i) {
        const auto& row = array.at(static_cast<std::size_t>(i));
        for (std::int32_t j = q0; j <= q1; ++j) {
            const std::uint32_t s = row.at(static_cast<std::size_t>(j));
            if (s > kMaxGrey) continue;
            lo = std::min(lo, s);
            hi = std::max(hi, s);
        }
    }
    return v < (lo + hi) / 2u;
}

// The lowest and highest grey level of the classification windows
// (isDarkModule) along the second index, for row p of the n x n sample
// array: a slot of kBorderWindow rows kept by row, since the windows along
// the first index span at most that many consecutive rows. Off-image
// samples (above 255) take no part: they enter the minimum as 255 and the
// maximum as 0, which changes neither once the module's own value (at most
// 255) joins.
std::int32_t SymbolDetector::rowExtremes(std::int32_t p, std::int32_t n) {
    const std::int32_t slot = p % kBorderWindow;
    if (passRow_[static_cast<std::size_t>(slot)] == p) return slot;
    passRow_[static_cast<std::size_t>(slot)] = p;
    const std::uint16_t* in = samples_.data() + static_cast<std::ptrdiff_t>(p) * n;
    std::uint8_t* lo = passLow_.data() + static_cast<std::ptrdiff_t>(slot) * n;
    std::uint8_t* hi = passHigh_.data() + static_cast<std::ptrdiff_t>(slot) * n;
    auto low = [in](std::int32_t q) { return static_cast<std::uint8_t>(std::min<std::uint32_t>(in[q], kMaxGrey)); };
    auto high = [in](std::int32_t q) { return static_cast<std::uint8_t>(in[q] > kMaxGrey ? 0 : in[q]); };
    for (std::int32_t q = 0; q < n; ++q) {
        std::int32_t q0, q1;
        classificationWindow(q, n, q0, q1);
        std::uint8_t l = low(q0), h = high(q0);
        for (std::int32_t j = q0 + 1; j <= q1; ++j) {
            l = std::min(l, low(j));
            h = std::max(h, high(j));
        }
        lo[q] = l;
        hi[q] = h;
    }
    return slot;
}

const Aztec::ModuleMatrix& SymbolDetector::sampleDataGrid(SymbolCandidate& cand) {
    const bool compact = cand.type == SymbolType::Compact;
    if (compact) {
        placeCompactGrid(cand);
    } else {
        buildReferenceGrid(cand);
    }
    const int k = compact ? 1 : ((cand.size - 1) / 2) / kCell + 1;
    const auto n = static_cast<std::size_t>(2 * kCell * k);
    // The sample array, kept between symbols: [p][q] at p * n + q.
    samples_.assign(n * n, 0);
    samplesSide_ = static_cast<std::int32_t>(n);
    if (trace_) tracedCentres_.assign(n, std::vector<Point2d>(n));
    for (int bj = -k; bj < k; ++bj) {
        for (int bi = -k; bi < k; ++bi) {
            sampleCell(cand, kOrigin + bi, kOrigin + bj, kCell * (bi + k), kCell * (bj + k));
        }
    }
    const std::int32_t m = cand.size;
    const std::int32_t off = (2 * kCell * k - m) / 2 + 1;
    const auto side = static_cast<std::int32_t>(n);
    passLow_.resize(static_cast<std::size_t>(kBorderWindow) * n);
    passHigh_.resize(static_cast<std::size_t>(kBorderWindow) * n);
    passRow_.fill(-1);
    Aztec::ModuleMatrix& matrix = modules_;
    matrix.resize(static_cast<std::size_t>(std::max(m, 0)));
    for (Aztec::BitList& column : matrix) column.reset(static_cast<std::size_t>(std::max(m, 0)));
    windowLow_.resize(n);
    windowHigh_.resize(n);
    for (std::int32_t x = 0; x < m; ++x) {
        // The window along the first index for row p = x + off, over the
        // symbol's columns.
        const std::int32_t p = x + off;
        std::int32_t p0, p1;
        classificationWindow(p, side, p0, p1);
        std::uint8_t* const lo = windowLow_.data();
        std::uint8_t* const hi = windowHigh_.data();
        const std::int32_t first = rowExtremes(p0, side);
        std::copy_n(passLow_.data() + static_cast<std::ptrdiff_t>(first) * side + off, m, lo + off);
        std::copy_n(passHigh_.data() + static_cast<std::ptrdiff_t>(first) * side + off, m, hi + off);
        for (std::int32_t i = p0 + 1; i <= p1; ++i) {
            const std::int32_t slot = rowExtremes(i, side);
            const std::uint8_t* rowLow = passLow_.data() + static_cast<std::ptrdiff_t>(slot) * side;
            const std::uint8_t* rowHigh = passHigh_.data() + static_cast<std::ptrdiff_t>(slot) * side;
            for (std::int32_t q = off; q < off + m; ++q) {
                lo[q] = std::min(lo[q], rowLow[q]);
                hi[q] = std::max(hi[q], rowHigh[q]);
            }
        }
        const std::uint16_t* in = samples_.data() + static_cast<std::ptrdiff_t>(p) * side;
        Aztec::BitList& column = matrix[static_cast<std::size_t>(x)];
        for (std::int32_t y = 0; y < m; ++y) {
            const std::int32_t q = y + off;
            const std::uint32_t v = in[q];
            column.set(y, v <= kMaxGrey && v < (std::min(v, std::uint32_t{lo[q]}) + std::max(v, std::uint32_t{hi[q]})) / 2u);
        }
    }
    if (trace_) {
        for (std::int32_t y = 0; y < m; ++y)
            for (std::int32_t x = 0; x < m; ++x)
                trace_->modules.push_back({tracedCentres_[static_cast<std::size_t>(x + off)][static_cast<std::size_t>(y + off)],
                                           matrix[static_cast<std::size_t>(x)].get(y)});
    }
    return matrix;
}

void SymbolDetector::placeCompactGrid(SymbolCandidate& cand) {
    // The origin as the four ring lines place it rather than the centroid
    // of the centre module's blob: a blob of a few pixels is off by up to
    // half a pixel, and every cell round the centre would inherit that.
    cand.grid[kOrigin][kOrigin] = Aztec::Math::mapPoint(homography_, 0.0, 0.0);
    for (int i = -1; i <= 1; ++i) {
        for (int j = -1; j <= 1; ++j) {
            if (i == 0 && j == 0) continue;
            cand.grid[kOrigin + i][kOrigin + j] =
                Aztec::Math::mapPoint(homography_, kCell * i * compactScale_, kCell * j * compactScale_);
        }
    }
}

void SymbolDetector::buildReferenceGrid(SymbolCandidate& cand) {
    ++gridPasses_;
    symbolHalf_ = (cand.size - 1) / 2;
    const int lines = referenceLines(cand.size);
    const int half = lines / 2;
    const bool refine = lines > 1;
    auto& g = cand.grid;
    g[kOrigin][kOrigin] = Aztec::Math::mapPoint(homography_, 0.0, 0.0);  // as for compact symbols

    // First neighbours, with the transform fitted to the bull's-eye; the
    // transform is then refitted to them. The first pass takes the four on
    // the axes: their profiles stay within 18 modules of the centre, where
    // the bull's-eye transform is still good to a fraction of a module at a
    // few pixels per module; the diagonal ones reach 24 modules out.
    if (gridPasses_ % 2 == 1) {
        g[10][9] = refinedGridPoint(0, -kCell, refine);
        g[10][11] = refinedGridPoint(0, kCell, refine);
        g[9][10] = refinedGridPoint(-kCell, 0, refine);
        g[11][10] = refinedGridPoint(kCell, 0, refine);
        setHomography({0, -16}, {16, 0}, {0, 16}, {-16, 0}, g[10][9], g[11][10], g[10][11], g[9][10]);
    } else {
        g[9][9] = refinedGridPoint(-kCell, -kCell, refine);
        g[11][9] = refinedGridPoint(kCell, -kCell, refine);
        g[11][11] = refinedGridPoint(kCell, kCell, refine);
        g[9][11] = refinedGridPoint(-kCell, kCell, refine);
        setHomography({-16, -16}, {16, -16}, {16, 16}, {-16, 16}, g[9][9], g[11][9], g[11][11], g[9][11]);
    }

    // Crossings, ring by ring outwards. The first ring is searched with the
    // transform just fitted; each further ring with a transform fitted to
    // all crossings inside it, since a transform fitted round the centre
    // drifts by a module or more at the outer lines of a large symbol and
    // the line search would miss them.
    // The crossings of a ring are found only after its fit is made, so one
    // fit serves the whole ring.
    const Aztec::Math::Homography centreFit = homography_;
    for (int ring = 1; ring <= half; ++ring) {
        homography_ = ring == 1 ? centreFit : crossingsFit(cand, ring);
        for (int iy = -ring; iy <= ring; ++iy) {
            for (int ix = -ring; ix <= ring; ++ix) {
                if (std::max(std::abs(ix), std::abs(iy)) != ring) continue;
                g[kOrigin + ix][kOrigin + iy] = refinedGridPoint(kCell * ix, kCell * iy, refine);
            }
        }
    }
    homography_ = centreFit;
    if (half == 0) {
        // One reference line: the extension below needs the whole 3 x 3
        // block round the centre, but the first neighbours set only half of
        // it. Map the rest with the current transform, as compact symbols do.
        for (int i = -1; i <= 1; ++i) {
            for (int j = -1; j <= 1; ++j) {
                const bool setAbove = (gridPasses_ % 2 == 1) ? (i == 0) != (j == 0) : (i != 0 && j != 0);
                if ((i == 0 && j == 0) || setAbove) continue;
                g[kOrigin + i][kOrigin + j] = Aztec::Math::mapPoint(homography_, kCell * i, kCell * j);
            }
        }
    }

    // The ring beyond the outermost lines, from the transform that fits all
    // crossings. (Extending each outer cell on its own doubles the error of
    // its two inner points at a few pixels per module.) With one line the
    // 3 x 3 block above already covers the symbol.
    if (half > 0) {
        // A line search can lock onto a neighbouring row of modules that
        // happens to alternate; such a crossing sits a module or more off
        // the fit of all the others and is replaced by the fit's position.
        const Aztec::Math::Homography fit = crossingsFit(cand, half + 1);
        for (int iy = -half; iy <= half; ++iy) {
            for (int ix = -half; ix <= half; ++ix) {
                const Point2d p = Aztec::Math::mapPoint(fit, kCell * ix, kCell * iy);
                const Point2d q = Aztec::Math::mapPoint(fit, kCell * ix + 1, kCell * iy);
                const double module = std::hypot(q.x - p.x, q.y - p.y);
                Point2d& found = g[kOrigin + ix][kOrigin + iy];
                if (!(std::hypot(found.x - p.x, found.y - p.y) <= kOutlierModules * module)) found = p;
            }
        }
        const Aztec::Math::Homography all = crossingsFit(cand, half + 1);
        const int r = half + 1;
        for (int iy = -r; iy <= r; ++iy) {
            for (int ix = -r; ix <= r; ++ix) {
                if (std::max(std::abs(ix), std::abs(iy)) != r) continue;
                g[kOrigin + ix][kOrigin + iy] = Aztec::Math::mapPoint(all, kCell * ix, kCell * iy);
            }
        }
    }
}


// The least-squares transform through every crossing found so far, those
// of the rings inside `ring` and the centre: their small position errors
// average out instead of growing when the transform is extended outwards.
Aztec::Math::Homography SymbolDetector::crossingsFit(const SymbolCandidate& cand, int ring) const {
    std::vector<Point2d>& src = fitSources_;
    std::vector<Point2d>& dst = fitTargets_;
    src.clear();
    dst.clear();
    for (int iy = -(ring - 1); iy <= ring - 1; ++iy) {
        for (int ix = -(ring - 1); ix <= ring - 1; ++ix) {
            src.push_back({1.0 * kCell * ix, 1.0 * kCell * iy});
            dst.push_back(cand.grid[kOrigin + ix][kOrigin + iy]);
        }
    }
    const Aztec::Math::Homography first = Aztec::Math::fitHomographyLeastSquares(src, dst);
    // Refit without the crossings that lie well off the first fit, so that
    // one line search gone astray does not bend the whole grid.
    std::vector<Point2d>& keptSrc = keptSources_;
    std::vector<Point2d>& keptDst = keptTargets_;
    keptSrc.clear();
    keptDst.clear();
    for (std::size_t i = 0; i < src.size(); ++i) {
        const Point2d p = Aztec::Math::mapPoint(first, src[i].x, src[i].y);
        const Point2d q = Aztec::Math::mapPoint(first, src[i].x + 1.0, src[i].y);
        const double module = std::hypot(q.x - p.x, q.y - p.y);
        if (std::hypot(dst[i].x - p.x, dst[i].y - p.y) <= kOutlierModules * module) {
            keptSrc.push_back(src[i]);
            keptDst.push_back(dst[i]);
        }
    }
    if (keptSrc.size() < 4 || keptSrc.size() == src.size()) return first;
    return Aztec::Math::fitHomographyLeastSquares(keptSrc, keptDst);
}

Point2d SymbolDetector::refinedGridPoint(std::int32_t u, std::int32_t v, bool refine) {
    double ur = u, vr = v;
    if (refine) {
        ur = locateVerticalLine(u, v);
        vr = locateHorizontalLine(u, v);
        // The prediction is good to about half a module; a line found farther
        // off is a neighbouring row that happened to alternate (or no line
        // was found at all), and the prediction is the better guess.
        if (std::fabs(ur - u) > kMaxLineShift) ur = u;
        if (std::fabs(vr - v) > kMaxLineShift) vr = v;
    }
    return Aztec::Math::mapPoint(homography_, ur, vr);
}

// Where along a reference line its profile is centred: at the crossing,
// but moved inwards where the profile would run past the symbol's edge
// into the quiet zone, which does not alternate and skews the search.
double SymbolDetector::alongLine(std::int32_t c) const {
    const std::int32_t reach = symbolHalf_ - kProfileHalf / static_cast<int>(kStep);
    if (reach <= 0) return c;
    return std::clamp(c, -reach, reach);
}

// The refined position of the reference line through (uc, vc) that runs
// along v (`vertical`, found as a u) or along u (found as a v). Profiles
// along the line are scored at 19 offsets across it; the middle of the best
// run of alternating profiles is the line.
double SymbolDetector::locateLine(std::int32_t uc, std::int32_t vc, bool vertical) {
    const std::int32_t across = vertical ? uc : vc;
    const double along = alongLine(vertical ? vc : uc);
    std::int32_t scores[2 * kSearchOffsets + 1];
    std::int32_t profile[2 * kProfileHalf + 1];
    // The profile offsets k / 5, divided once.
    static const auto kSteps = [] {
        std::array<double, 2 * kProfileHalf + 1> steps{};
        for (int k = -kProfileHalf; k <= kProfileHalf; ++k) steps[static_cast<std::size_t>(k + kProfileHalf)] = k / kStep;
        return steps;
    }();
    // Every profile takes the same positions along the line, so their
    // products with the transform are formed once (u along a horizontal
    // line, v along a vertical one); see mappedSampleOf.
    const Aztec::Math::Homography& h = homography_;
    const std::size_t alongU = vertical ? 1 : 0;  // h[alongU], h[alongU + 3], h[alongU + 6]
    const std::size_t acrossU = 1 - alongU;
    double alongTerms[2 * kProfileHalf + 1][3];
    for (int k = 0; k < 2 * kProfileHalf + 1; ++k) {
        const double b = along + kSteps[static_cast<std::size_t>(k)];
        for (std::size_t e = 0; e < 3; ++e) alongTerms[k][e] = h[alongU + 3 * e] * b;
    }
    for (int m = -kSearchOffsets; m <= kSearchOffsets; ++m) {
        const double a = across + m / kStep;
        const double acrossTerms[3] = {h[acrossU] * a, h[acrossU + 3] * a, h[acrossU + 6] * a};
        for (int k = 0; k < 2 * kProfileHalf + 1; ++k)
            profile[k] = static_cast<std::int32_t>(vertical ? mappedSampleOf(acrossTerms, alongTerms[k])
                                                            : mappedSampleOf(alongTerms[k], acrossTerms));
        scores[m + kSearchOffsets] = alternationScoreOf(profile, 2 * kProfileHalf + 1);
    }
    return across + (bestRunCentreOf(scores, 2 * kSearchOffsets + 1) - kSearchOffsets) / kStep;
}

double SymbolDetector::locateVerticalLine(std::int32_t uc, std::int32_t vc) { return locateLine(uc, vc, true); }
double SymbolDetector::locateHorizontalLine(std::int32_t uc, std::int32_t vc) { return locateLine(uc, vc, false); }

void SymbolDetector::sampleCell(const SymbolCandidate& cand, int i, int j, int ox, int oy) {
    const auto& g = cand.grid;
    setHomography({0, 0}, {16, 0}, {16, 16}, {0, 16}, g[i][j], g[i + 1][j], g[i + 1][j + 1], g[i][j + 1]);
    const bool compact = cand.type == SymbolType::Compact;
    const auto n = static_cast<std::size_t>(samplesSide_);
    for (int a = 0; a < kCell; ++a) {
        for (int b = 0; b < kCell; ++b) {
            // Off-image samples (far above 255) stay above it, saturated.
            const std::uint32_t v = compact ? sampleModuleFine(b, a) : sampleModuleCoarse(b, a);
            samples_[static_cast<std::size_t>(ox + b) * n + static_cast<std::size_t>(oy + a)] =
                static_cast<std::uint16_t>(std::min<std::uint32_t>(v, kSaturatedSample));
            if (trace_) {
                tracedCentres_.at(static_cast<std::size_t>(ox + b)).at(static_cast<std::size_t>(oy + a)) =
                    Aztec::Math::mapPoint(homography_, b, a);
            }
        }
    }
}

}  // namespace AztecCore
