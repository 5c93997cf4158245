#include "locate/bullseye_finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace AztecCore::Locate {

namespace {

// The local threshold is the mean grey of a window of 5 x 5 blocks of 8 x 8
// pixels round each pixel, interpolated between block centres. Windows
// whose grey levels span fewer than kMinRange levels hold no edges worth
// following: there the class of a pixel never changes.
constexpr int kBlock = 8;
constexpr int kReach = 2;
constexpr int kMinRange = 12;
// A pixel changes class only this far past the threshold, so sensor noise
// round a flat threshold does not break runs into slivers.
constexpr int kHysteresis = 2;
// Every other row: a bull's-eye shows its nine equal runs on rows within
// half a module of its centre, one row band at 2 pixels per module.
constexpr int kRowStep = 2;
constexpr double kMinModule = 1.4;
constexpr int kRuns = 9;
// Rows whose nine runs passed, gathered into one cluster per bull's-eye,
// are cross-checked only up to this many clusters per frame.
constexpr std::size_t kMaxClusters = 600;

class ThresholdMap {
public:
    explicit ThresholdMap(const GreyView& v) : bw_((v.width + kBlock - 1) / kBlock), bh_((v.height + kBlock - 1) / kBlock) {
        const auto n = static_cast<std::size_t>(bw_) * static_cast<std::size_t>(bh_);
        std::vector<int> sum(n, 0), cnt(n, 0), lo(n, 255), hi(n, 0);
        for (int y = 0; y < v.height; ++y) {
            const std::uint8_t* row = v.pixels + static_cast<std::ptrdiff_t>(y) * v.stride;
            const std::size_t base = static_cast<std::size_t>(y / kBlock) * static_cast<std::size_t>(bw_);
            for (int bx = 0; bx < bw_; ++bx) {
                const int x0 = bx * kBlock, x1 = std::min(x0 + kBlock, v.width);
                int s = 0, mn = 255, mx = 0;
                for (int x = x0; x < x1; ++x) {
                    const int p = row[x];
                    s += p;
                    mn = std::min(mn, p);
                    mx = std::max(mx, p);
                }
                const std::size_t b = base + static_cast<std::size_t>(bx);
                sum[b] += s;
                cnt[b] += x1 - x0;
                lo[b] = std::min(lo[b], mn);
                hi[b] = std::max(hi[b], mx);
            }
        }
        // Separable window sums of the block means, minima and maxima.
        std::vector<int> mean(n), hSum(n), hLo(n), hHi(n), hCnt(n);
        for (std::size_t b = 0; b < n; ++b) mean[b] = sum[b] / std::max(cnt[b], 1);
        for (int by = 0; by < bh_; ++by) {
            for (int bx = 0; bx < bw_; ++bx) {
                int s = 0, c = 0, mn = 255, mx = 0;
                for (int k = std::max(0, bx - kReach); k <= std::min(bw_ - 1, bx + kReach); ++k) {
                    const std::size_t b = idx(k, by);
                    s += mean[b];
                    ++c;
                    mn = std::min(mn, lo[b]);
                    mx = std::max(mx, hi[b]);
                }
                const std::size_t b = idx(bx, by);
                hSum[b] = s;
                hCnt[b] = c;
                hLo[b] = mn;
                hHi[b] = mx;
            }
        }
        threshold_.assign(n, 0.0f);
        flat_.assign(n, 0);
        for (int by = 0; by < bh_; ++by) {
            for (int bx = 0; bx < bw_; ++bx) {
                int s = 0, c = 0, mn = 255, mx = 0;
                for (int k = std::max(0, by - kReach); k <= std::min(bh_ - 1, by + kReach); ++k) {
                    const std::size_t b = idx(bx, k);
                    s += hSum[b];
                    c += hCnt[b];
                    mn = std::min(mn, hLo[b]);
                    mx = std::max(mx, hHi[b]);
                }
                const std::size_t b = idx(bx, by);
                threshold_[b] = static_cast<float>(s) / static_cast<float>(std::max(c, 1));
                flat_[b] = mx - mn < kMinRange ? 1 : 0;
            }
        }
    }

    // Thresholds and hysteresis margins of one row, per pixel.
    void row(int y, int width, std::vector<float>& thr, std::vector<float>& margin) const {
        int j0 = 0;
        float fy = 0.0f;
        blockPosition(y, bh_, j0, fy);
        const int j1 = std::min(j0 + 1, bh_ - 1);
        colT_.resize(static_cast<std::size_t>(bw_));
        colFlat_.resize(static_cast<std::size_t>(bw_));
        for (int i = 0; i < bw_; ++i) {
            const float a = threshold_[idx(i, j0)], b = threshold_[idx(i, j1)];
            colT_[static_cast<std::size_t>(i)] = a + fy * (b - a);
            colFlat_[static_cast<std::size_t>(i)] = flat_[idx(i, fy < 0.5f ? j0 : j1)];
        }
        thr.resize(static_cast<std::size_t>(width));
        margin.resize(static_cast<std::size_t>(width));
        for (int x = 0; x < width; ++x) {
            int i0 = 0;
            float fx = 0.0f;
            blockPosition(x, bw_, i0, fx);
            const int i1 = std::min(i0 + 1, bw_ - 1);
            const float a = colT_[static_cast<std::size_t>(i0)], b = colT_[static_cast<std::size_t>(i1)];
            thr[static_cast<std::size_t>(x)] = a + fx * (b - a);
            const bool flat = colFlat_[static_cast<std::size_t>(fx < 0.5f ? i0 : i1)] != 0;
            margin[static_cast<std::size_t>(x)] = flat ? 1000.0f : static_cast<float>(kHysteresis);
        }
    }

    float at(int x, int y, float& margin) const {
        int i0 = 0, j0 = 0;
        float fx = 0.0f, fy = 0.0f;
        blockPosition(x, bw_, i0, fx);
        blockPosition(y, bh_, j0, fy);
        const int i1 = std::min(i0 + 1, bw_ - 1), j1 = std::min(j0 + 1, bh_ - 1);
        const float top = threshold_[idx(i0, j0)] + fx * (threshold_[idx(i1, j0)] - threshold_[idx(i0, j0)]);
        const float bottom = threshold_[idx(i0, j1)] + fx * (threshold_[idx(i1, j1)] - threshold_[idx(i0, j1)]);
        const bool flat = flat_[idx(fx < 0.5f ? i0 : i1, fy < 0.5f ? j0 : j1)] != 0;
        margin = flat ? 1000.0f : static_cast<float>(kHysteresis);
        return top + fy * (bottom - top);
    }

private:
    std::size_t idx(int bx, int by) const {
        return static_cast<std::size_t>(by) * static_cast<std::size_t>(bw_) + static_cast<std::size_t>(bx);
    }
    // Which two block centres a pixel lies between, and how far along.
    static void blockPosition(int p, int blocks, int& b0, float& f) {
        const float g = (static_cast<float>(p) + 0.5f) / kBlock - 0.5f;
        if (g <= 0.0f) {
            b0 = 0;
            f = 0.0f;
            return;
        }
        b0 = static_cast<int>(g);
        if (b0 >= blocks - 1) {
            b0 = blocks - 1;
            f = 0.0f;
            return;
        }
        f = g - static_cast<float>(b0);
    }

    int bw_, bh_;
    std::vector<float> threshold_;
    std::vector<std::uint8_t> flat_;
    mutable std::vector<float> colT_;
    mutable std::vector<std::uint8_t> colFlat_;
};

// Nine run widths across a bull's-eye's centre: the seven inner ones about
// equal, the middle one allowed to shrink or swell a little (blur eats the
// lone centre module first), the outer two at least half a module (beyond
// them lie modules of any colour, which may lengthen them).
bool nineRuns(const std::array<double, kRuns>& w, double& module) {
    double inner = 0.0;
    for (int k = 1; k < kRuns - 1; ++k) inner += w[static_cast<std::size_t>(k)];
    module = inner / (kRuns - 2);
    if (module < kMinModule) return false;
    for (int k = 1; k < kRuns - 1; ++k) {
        const double r = w[static_cast<std::size_t>(k)] / module;
        const bool centre = k == kRuns / 2;
        if (r < (centre ? 0.35 : 0.5) || r > (centre ? 1.8 : 1.5)) return false;
    }
    if (w[0] < 0.5 * module || w[kRuns - 1] < 0.5 * module) return false;
    const double left = w[1] + w[2] + w[3], right = w[5] + w[6] + w[7];
    return std::fabs(left - right) < module;
}

// The runs met walking from (x, y) both ways along (dx, dy): the middle
// run holds (x, y). `offset` is the middle run's centre in steps from
// (x, y). False when the walk leaves the image or finds no nine runs.
bool walkRuns(const GreyView& v, const ThresholdMap& map, int x, int y, int dx, int dy, int maxSteps,
              std::array<double, kRuns>& w, double& offset) {
    float margin = 0.0f;
    const float t0 = map.at(x, y, margin);
    const bool dark = v.at(x, y) < t0;
    std::array<int, 5> fwd{}, bwd{};
    for (int dir = 0; dir < 2; ++dir) {
        std::array<int, 5>& runs = dir == 0 ? fwd : bwd;
        const int sx = dir == 0 ? dx : -dx, sy = dir == 0 ? dy : -dy;
        bool cls = dark;
        int run = 0, len = dir == 0 ? 1 : 0;
        int px = x, py = y;
        for (int step = 1; step <= maxSteps && run < 5; ++step) {
            px += sx;
            py += sy;
            if (px < 0 || py < 0 || px >= v.width || py >= v.height) {
                if (run == 4) break;  // the outer run ends at the image edge
                return false;
            }
            const float t = map.at(px, py, margin);
            const float p = v.at(px, py);
            const bool flips = cls ? p > t + margin : p < t - margin;
            if (flips) {
                runs[static_cast<std::size_t>(run++)] = len;
                cls = !cls;
                len = 1;
            } else {
                ++len;
            }
        }
        if (run < 4) return false;
        if (run == 4) runs[4] = len;
    }
    w[4] = fwd[0] + bwd[0];
    for (int k = 1; k <= 4; ++k) {
        w[static_cast<std::size_t>(4 + k)] = fwd[static_cast<std::size_t>(k)];
        w[static_cast<std::size_t>(4 - k)] = bwd[static_cast<std::size_t>(k)];
    }
    offset = (fwd[0] - bwd[0] - 1) / 2.0;
    return true;
}

struct RowHit {
    double x, y, module;
    bool light;
    int rows;
    double sumX, sumY;
};

// Confirms a clustered row hit on the column and the diagonals and returns
// the refined centre and module size.
bool crossCheck(const GreyView& v, const ThresholdMap& map, RowHit& h) {
    const int maxSteps = static_cast<int>(h.module * 12.0) + 4;
    std::array<double, kRuns> w{};
    double offset = 0.0, mv = 0.0, mh = 0.0;
    int x = static_cast<int>(std::lround(h.x)), y = static_cast<int>(std::lround(h.y));
    if (!walkRuns(v, map, x, y, 0, 1, maxSteps, w, offset) || !nineRuns(w, mv)) return false;
    if (mv < 0.5 * h.module || mv > 2.0 * h.module) return false;
    const double cy = y + offset;
    y = static_cast<int>(std::lround(cy));
    if (!walkRuns(v, map, x, y, 1, 0, maxSteps, w, offset) || !nineRuns(w, mh)) return false;
    const double cx = x + offset;
    x = static_cast<int>(std::lround(cx));
    int diagonals = 0;
    for (int dy : {1, -1}) {
        double md = 0.0;
        if (walkRuns(v, map, x, y, 1, dy, maxSteps, w, offset) && nineRuns(w, md) && md > 0.3 * mh && md < 1.6 * mh)
            ++diagonals;
    }
    if (diagonals == 0) return false;
    h.x = cx;
    h.y = cy;
    h.module = 0.5 * (mh + mv);
    return true;
}

}  // namespace

std::vector<FinderHit> findBullseyes(const GreyView& v, const FinderOptions& options) {
    std::vector<FinderHit> out;
    if (v.width < 3 * kRuns || v.height < 3 * kRuns || !v.pixels) return out;
    const ThresholdMap map(v);

    std::vector<float> thr, margin;
    std::vector<int> starts;
    std::vector<RowHit> clusters;
    for (int y = 1; y < v.height - 1; y += kRowStep) {
        map.row(y, v.width, thr, margin);
        const std::uint8_t* row = v.pixels + static_cast<std::ptrdiff_t>(y) * v.stride;
        // Runs of the row, smoothed [1 2 1] against sensor noise.
        starts.clear();
        starts.push_back(0);
        bool dark = row[0] < thr[0];
        const bool firstDark = dark;
        for (int x = 1; x < v.width - 1; ++x) {
            const float p = 0.25f * static_cast<float>(row[x - 1] + 2 * row[x] + row[x + 1]);
            const auto i = static_cast<std::size_t>(x);
            const bool flips = dark ? p > thr[i] + margin[i] : p < thr[i] - margin[i];
            if (flips) {
                starts.push_back(x);
                dark = !dark;
            }
        }
        starts.push_back(v.width);
        const int runs = static_cast<int>(starts.size()) - 1;
        std::array<double, kRuns> w{};
        for (int c = kRuns / 2; c + kRuns / 2 < runs; ++c) {
            const bool centreDark = ((c % 2) == 0) == firstDark;
            if (centreDark ? !options.darkOnLight : !options.lightOnDark) continue;
            for (int k = 0; k < kRuns; ++k) {
                const auto r = static_cast<std::size_t>(c - kRuns / 2 + k);
                w[static_cast<std::size_t>(k)] = starts[r + 1] - starts[r];
            }
            double module = 0.0;
            if (!nineRuns(w, module)) continue;
            const double x = 0.5 * (starts[static_cast<std::size_t>(c)] + starts[static_cast<std::size_t>(c + 1)] - 1);
            bool merged = false;
            for (RowHit& h : clusters) {
                if (h.light != !centreDark || std::fabs(h.x - x) > h.module || y - h.y > 2.0 * h.module + kRowStep) continue;
                h.sumX += x;
                h.sumY += y;
                ++h.rows;
                h.y = y;
                merged = true;
                break;
            }
            if (!merged && clusters.size() < kMaxClusters) clusters.push_back({x, double(y), module, !centreDark, 1, x, double(y)});
        }
    }

    for (RowHit& h : clusters) {
        h.x = h.sumX / h.rows;
        h.y = h.sumY / h.rows;
        if (!crossCheck(v, map, h)) continue;
        bool duplicate = false;
        for (FinderHit& f : out) {
            if (f.lightOnDark == h.light && std::hypot(f.x - h.x, f.y - h.y) < 2.0 * f.module) {
                f.rows += h.rows;
                duplicate = true;
                break;
            }
        }
        if (!duplicate) out.push_back({h.x, h.y, h.module, h.light, h.rows});
    }
    const double cx = v.width / 2.0, cy = v.height / 2.0;
    std::stable_sort(out.begin(), out.end(), [cx, cy](const FinderHit& a, const FinderHit& b) {
        return std::hypot(a.x - cx, a.y - cy) < std::hypot(b.x - cx, b.y - cy);
    });
    if (out.size() > options.maxCandidates) out.resize(options.maxCandidates);
    return out;
}

}  // namespace AztecCore::Locate
