#include "locate/bullseye_finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace AztecCore::Locate {

namespace {

// Windows of 5 x 5 blocks of 8 x 8 pixels whose grey levels span fewer than
// kMinRange levels hold no edges worth following: there the class of a
// pixel never changes, and sensor noise on a blank wall makes no runs.
constexpr int kBlock = 8;
constexpr int kReach = 2;
constexpr int kMinRange = 12;
// The running mean spans 2 * kHalfWindow + 1 pixels: two to eight modules
// at the module sizes this scale is searched for (larger ones are found
// on the reduced copy).
constexpr int kHalfWindow = 8;
// A pixel changes class only this far past the threshold, so sensor noise
// round the threshold does not break runs into slivers.
constexpr float kHysteresis = 1.5f;
constexpr float kNever = 1e9f;
// Every other row: a bull's-eye shows its nine equal runs on rows within
// half a module of its centre, one row band at 2 pixels per module.
constexpr int kRowStep = 2;
constexpr double kMinModule = 1.4;
// Row hits gathered into clusters are cross-checked only up to this many
// clusters per frame, which bounds the work a busy frame can cause.
constexpr std::size_t kMaxClusters = 600;

class FlatMap {
public:
    explicit FlatMap(const GreyView& v) : bw_((v.width + kBlock - 1) / kBlock), bh_((v.height + kBlock - 1) / kBlock) {
        const auto n = static_cast<std::size_t>(bw_) * static_cast<std::size_t>(bh_);
        std::vector<std::uint8_t> lo(n, 255), hi(n, 0);
        for (int y = 0; y < v.height; ++y) {
            const std::uint8_t* row = v.pixels + static_cast<std::ptrdiff_t>(y) * v.stride;
            const std::size_t base = static_cast<std::size_t>(y / kBlock) * static_cast<std::size_t>(bw_);
            for (int bx = 0; bx < bw_; ++bx) {
                const int x0 = bx * kBlock, x1 = std::min(x0 + kBlock, v.width);
                std::uint8_t mn = 255, mx = 0;
                for (int x = x0; x < x1; ++x) {
                    mn = std::min(mn, row[x]);
                    mx = std::max(mx, row[x]);
                }
                const std::size_t b = base + static_cast<std::size_t>(bx);
                lo[b] = std::min(lo[b], mn);
                hi[b] = std::max(hi[b], mx);
            }
        }
        // Separable window minima and maxima.
        std::vector<std::uint8_t> hLo(n), hHi(n);
        for (int by = 0; by < bh_; ++by) {
            for (int bx = 0; bx < bw_; ++bx) {
                std::uint8_t mn = 255, mx = 0;
                for (int k = std::max(0, bx - kReach); k <= std::min(bw_ - 1, bx + kReach); ++k) {
                    mn = std::min(mn, lo[idx(k, by)]);
                    mx = std::max(mx, hi[idx(k, by)]);
                }
                hLo[idx(bx, by)] = mn;
                hHi[idx(bx, by)] = mx;
            }
        }
        flat_.assign(n, 0);
        for (int by = 0; by < bh_; ++by) {
            for (int bx = 0; bx < bw_; ++bx) {
                int mn = 255, mx = 0;
                for (int k = std::max(0, by - kReach); k <= std::min(bh_ - 1, by + kReach); ++k) {
                    mn = std::min<int>(mn, hLo[idx(bx, k)]);
                    mx = std::max<int>(mx, hHi[idx(bx, k)]);
                }
                flat_[idx(bx, by)] = mx - mn < kMinRange ? 1 : 0;
            }
        }
    }

    float margin(int x, int y) const { return flat_[idx(x / kBlock, y / kBlock)] ? kNever : kHysteresis; }

private:
    std::size_t idx(int bx, int by) const {
        return static_cast<std::size_t>(by) * static_cast<std::size_t>(bw_) + static_cast<std::size_t>(bx);
    }
    int bw_, bh_;
    std::vector<std::uint8_t> flat_;
};

// Classes (true = dark) of a profile against its running mean, with the
// per-sample hysteresis margins. `p` is smoothed in place first.
void classify(std::vector<float>& p, const std::vector<float>& margin, std::vector<float>& sums,
              std::vector<std::uint8_t>& dark) {
    const auto n = static_cast<int>(p.size());
    dark.assign(p.size(), 0);
    if (n == 0) return;
    float prev = p[0];
    for (int i = 1; i + 1 < n; ++i) {
        const float cur = p[static_cast<std::size_t>(i)];
        p[static_cast<std::size_t>(i)] = 0.25f * (prev + 2.0f * cur + p[static_cast<std::size_t>(i + 1)]);
        prev = cur;
    }
    sums.assign(p.size() + 1, 0.0f);
    for (int i = 0; i < n; ++i) sums[static_cast<std::size_t>(i + 1)] = sums[static_cast<std::size_t>(i)] + p[static_cast<std::size_t>(i)];
    bool cls = false;
    for (int i = 0; i < n; ++i) {
        const int a = std::max(0, i - kHalfWindow), b = std::min(n, i + kHalfWindow + 1);
        const float t = (sums[static_cast<std::size_t>(b)] - sums[static_cast<std::size_t>(a)]) / static_cast<float>(b - a);
        const float v = p[static_cast<std::size_t>(i)], m = margin[static_cast<std::size_t>(i)];
        if (i == 0) {
            cls = v < t;
        } else if (cls ? v > t + m : v < t - m) {
            cls = !cls;
        }
        dark[static_cast<std::size_t>(i)] = cls ? 1 : 0;
    }
}

// Run starts of a class sequence; the last entry is the end.
void runsOf(const std::vector<std::uint8_t>& dark, std::vector<int>& starts) {
    starts.clear();
    starts.push_back(0);
    for (std::size_t i = 1; i < dark.size(); ++i)
        if (dark[i] != dark[i - 1]) starts.push_back(static_cast<int>(i));
    starts.push_back(static_cast<int>(dark.size()));
}

struct Signature {
    double module = 0.0;
    bool symbolDark = true;  // dark-on-light
    bool nine = false;       // all nine runs seen (the centre module too)
};

// Whether a run of width w fits a module of m between the ratios lo and
// hi. At two or three pixels per module a run is easily a pixel longer or
// shorter than its module, so a pixel and a quarter is always allowed.
constexpr double kPixelSlack = 1.25;
bool within(double w, double m, double lo, double hi) {
    return w >= std::min(lo * m, m - kPixelSlack) && w <= std::max(hi * m, m + kPixelSlack);
}

// Whether run c of a row (or walk) is the middle of a bull's-eye: nine
// runs of about a module (the middle one may shrink or swell a little, the
// outer two only need half a module: beyond them lies anything), or seven
// whose middle one is three modules wide, the blurred centre merged with
// its light ring. A middle run of about twice the others can be either
// (a light-on-dark centre seen wide, or a blurred dark-on-light one), so
// both signatures are tested. `symbolDark` picks the polarity wanted.
bool signatureAt(const std::vector<int>& starts, int c, bool centreDark, bool symbolDark, Signature& sig) {
    const int runs = static_cast<int>(starts.size()) - 1;
    auto w = [&](int k) { return static_cast<double>(starts[static_cast<std::size_t>(c + k + 1)] - starts[static_cast<std::size_t>(c + k)]); };
    if (centreDark == symbolDark && c - 4 >= 0 && c + 4 < runs) {
        double inner = 0.0;
        for (int k = -3; k <= 3; ++k) inner += w(k);
        const double m = inner / 7.0;
        bool ok = m >= kMinModule && w(-4) >= 0.5 * m && w(4) >= 0.5 * m;
        for (int k = -3; k <= 3 && ok; ++k) ok = k == 0 ? within(w(k), m, 0.35, 1.8) : within(w(k), m, 0.5, 1.5);
        if (ok && std::fabs((w(-3) + w(-2) + w(-1)) - (w(1) + w(2) + w(3))) < m) {
            sig.module = m;
            sig.symbolDark = symbolDark;
            sig.nine = true;
            return true;
        }
    }
    if (centreDark != symbolDark && c - 3 >= 0 && c + 3 < runs) {
        const double m = (w(-2) + w(-1) + w(1) + w(2)) / 4.0;
        bool ok = m >= kMinModule && w(0) >= 1.7 * m && w(0) <= 4.0 * m && w(-3) >= 0.5 * m && w(3) >= 0.5 * m;
        for (int k : {-2, -1, 1, 2}) ok = ok && within(w(k), m, 0.5, 1.5);
        if (ok && std::fabs((w(-2) + w(-1)) - (w(1) + w(2))) < m) {
            sig.module = m;
            sig.symbolDark = symbolDark;
            return true;
        }
    }
    return false;
}

struct Walker {
    const GreyView& v;
    const FlatMap& flat;
    std::vector<float> p, margin, sums;
    std::vector<std::uint8_t> dark;
    std::vector<int> starts;

    // The signature along (dx, dy) through (x, y), with the middle run's
    // centre in steps from (x, y).
    bool check(int x, int y, int dx, int dy, int reach, bool symbolDark, bool preferNine, Signature& sig, double& offset) {
        int back = 0, fwd = 0;
        while (back < reach && inside(x - (back + 1) * dx, y - (back + 1) * dy)) ++back;
        while (fwd < reach && inside(x + (fwd + 1) * dx, y + (fwd + 1) * dy)) ++fwd;
        p.clear();
        margin.clear();
        for (int k = -back; k <= fwd; ++k) {
            const int px = x + k * dx, py = y + k * dy;
            p.push_back(v.at(px, py));
            margin.push_back(flat.margin(px, py));
        }
        classify(p, margin, sums, dark);
        runsOf(dark, starts);
        // The walk may start a ring or two off the centre (rows through
        // ring 1 show the seven-run signature too, and at 45 degrees every
        // row through the bull's-eye is symmetric): the nearest run with
        // the signature wins or, with `preferNine`, the nearest with the
        // full nine-run signature (blur leaves only seven at the centre).
        const auto it = std::upper_bound(starts.begin(), starts.end(), back);
        const int at = static_cast<int>(it - starts.begin()) - 1;
        const int runs = static_cast<int>(starts.size()) - 1;
        int chosen = -1;
        Signature best;
        for (int d : {0, -1, 1, -2, 2, -3, 3}) {
            const int c = at + d;
            if (c < 0 || c >= runs) continue;
            const bool centreDark = dark[static_cast<std::size_t>(starts[static_cast<std::size_t>(c)])] != 0;
            Signature s;
            if (!signatureAt(starts, c, centreDark, symbolDark, s)) continue;
            if (chosen < 0 || (preferNine && s.nine && !best.nine)) {
                chosen = c;
                best = s;
            }
        }
        if (chosen < 0) return false;
        sig = best;
        offset = 0.5 * (starts[static_cast<std::size_t>(chosen)] + starts[static_cast<std::size_t>(chosen + 1)] - 1) - back;
        return true;
    }
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < v.width && y < v.height; }
};

struct RowHit {
    double module;
    bool symbolDark;
    int rows;
    double sumX, sumY, lastX, lastY;
};

// Confirms a clustered row hit on the column and the diagonals; returns
// the refined centre and module size.
bool crossCheckOnce(Walker& walker, double hx, double hy, double module, bool symbolDark, bool preferNine, FinderHit& out) {
    const int reach = static_cast<int>(module * 12.0) + 4 + kHalfWindow;
    Signature sv, sh;
    double offset = 0.0;
    int x = static_cast<int>(std::lround(hx)), y = static_cast<int>(std::lround(hy));
    double cx = hx, cy = hy;
    // Column, row, and once more each: every walk centres the other.
    for (int round = 0; round < 2; ++round) {
        if (!walker.check(x, y, 0, 1, reach, symbolDark, preferNine, sv, offset)) return false;
        if (sv.module < 0.5 * module || sv.module > 2.0 * module) return false;
        // At two pixels per module the refined row can fall between the
        // centre module's rows; the row walked before is the fallback.
        const int before = y;
        cy = y + offset;
        y = static_cast<int>(std::lround(cy));
        if (!walker.check(x, y, 1, 0, reach, symbolDark, preferNine, sh, offset)) {
            if (before == y || !walker.check(x, before, 1, 0, reach, symbolDark, preferNine, sh, offset)) return false;
            y = before;
        }
        cx = x + offset;
        x = static_cast<int>(std::lround(cx));
    }
    int diagonals = 0;
    for (int dy : {1, -1}) {
        Signature sd;
        double o = 0.0;
        if (walker.check(x, y, 1, dy, reach, symbolDark, preferNine, sd, o) && sd.module > 0.3 * sh.module && sd.module < 1.6 * sh.module)
            ++diagonals;
    }
    if (diagonals == 0) return false;
    out.x = cx;
    out.y = cy;
    out.module = 0.5 * (sh.module + sv.module);
    out.lightOnDark = !symbolDark;
    return true;
}

bool crossCheck(Walker& walker, double hx, double hy, double module, bool symbolDark, FinderHit& out) {
    return crossCheckOnce(walker, hx, hy, module, symbolDark, false, out) ||
           crossCheckOnce(walker, hx, hy, module, symbolDark, true, out);
}

}  // namespace

std::vector<FinderHit> findBullseyes(const GreyView& v, const FinderOptions& options) {
    std::vector<FinderHit> out;
    if (!v.pixels || v.width < 4 * kBlock || v.height < 4 * kBlock) return out;
    const FlatMap flat(v);

    std::vector<int> starts;
    std::vector<RowHit> clusters;
    // Integer form of the row test: s(x) = p(x-1) + 2 p(x) + p(x+1) is four
    // times the smoothed level, and a pixel is dark when kWindow s(x) lies
    // below the window's sum of s by more than the scaled hysteresis. The
    // tests run over the whole row first (the compiler vectorises them);
    // the walk along the row then only jumps from one flip to the next.
    constexpr int kWindow = 2 * kHalfWindow + 1;
    constexpr int kScaledHysteresis = static_cast<int>(kHysteresis * 4 * kWindow);
    constexpr int kNeverScaled = 1 << 28;
    const int x0 = 1 + kHalfWindow, x1 = v.width - 2 - kHalfWindow;
    const auto width = static_cast<std::size_t>(v.width);
    std::vector<int> smooth(width, 0), prefix(width + 1, 0), margin(width, 0);
    std::vector<std::uint8_t> below(width, 0), above(width, 0);
    for (int y = 1; y < v.height - 1 && x1 > x0; y += kRowStep) {
        const std::uint8_t* row = v.pixels + static_cast<std::ptrdiff_t>(y) * v.stride;
        for (int x = 0; x < v.width; x += kBlock) {
            const int m = flat.margin(x, y) >= kNever ? kNeverScaled : kScaledHysteresis;
            for (int i = x; i < std::min(x + kBlock, v.width); ++i) margin[static_cast<std::size_t>(i)] = m;
        }
        for (int x = 1; x < v.width - 1; ++x) smooth[static_cast<std::size_t>(x)] = row[x - 1] + 2 * row[x] + row[x + 1];
        for (std::size_t x = 0; x < width; ++x) prefix[x + 1] = prefix[x] + smooth[x];
        for (int x = x0; x < x1; ++x) {
            const auto i = static_cast<std::size_t>(x);
            const int window = prefix[i + kHalfWindow + 1] - prefix[i - kHalfWindow];
            const int scaled = kWindow * smooth[i];
            below[i] = scaled < window - margin[i] ? 1 : 0;
            above[i] = scaled > window + margin[i] ? 1 : 0;
        }
        starts.clear();
        starts.push_back(x0);
        const bool firstDark = kWindow * smooth[static_cast<std::size_t>(x0)] <
                               prefix[static_cast<std::size_t>(x0 + kHalfWindow + 1)] - prefix[static_cast<std::size_t>(x0 - kHalfWindow)];
        bool dark = firstDark;
        for (int x = x0; x < x1;) {
            const std::uint8_t* flips = dark ? above.data() : below.data();
            const void* next = std::memchr(flips + x, 1, static_cast<std::size_t>(x1 - x));
            if (!next) break;
            x = static_cast<int>(static_cast<const std::uint8_t*>(next) - flips);
            starts.push_back(x);
            dark = !dark;
            ++x;
        }
        starts.push_back(x1);
        const int runs = static_cast<int>(starts.size()) - 1;
        for (int c = 3; c + 3 < runs; ++c) {
          const bool centreDark = firstDark == (c % 2 == 0);
          for (bool symbolDark : {true, false}) {
            if (symbolDark ? !options.darkOnLight : !options.lightOnDark) continue;
            Signature sig;
            if (!signatureAt(starts, c, centreDark, symbolDark, sig)) continue;
            const double x = 0.5 * (starts[static_cast<std::size_t>(c)] + starts[static_cast<std::size_t>(c + 1)] - 1);
            bool merged = false;
            for (RowHit& h : clusters) {
                if (h.symbolDark != sig.symbolDark || std::fabs(h.lastX - x) > 0.6 * h.module ||
                    y - h.lastY > 2.0 * h.module + kRowStep || sig.module > 1.5 * h.module || h.module > 1.5 * sig.module)
                    continue;
                h.sumX += x;
                h.sumY += y;
                h.lastX = x;
                h.lastY = y;
                ++h.rows;
                merged = true;
                break;
            }
            if (!merged && clusters.size() < kMaxClusters)
                clusters.push_back({sig.module, sig.symbolDark, 1, x, double(y), x, double(y)});
          }
        }
    }

    Walker walker{v, flat, {}, {}, {}, {}, {}};
    for (const RowHit& h : clusters) {
        // The mean of the cluster's rows, or else its last row alone.
        FinderHit f;
        if (!crossCheck(walker, h.sumX / h.rows, h.sumY / h.rows, h.module, h.symbolDark, f) &&
            !crossCheck(walker, h.lastX, h.lastY, h.module, h.symbolDark, f))
            continue;
        f.rows = h.rows;
        bool duplicate = false;
        for (FinderHit& o : out) {
            // Only the same centre is the same hit: a cluster of rows a ring
            // off can settle a module or two away from the true centre, and
            // must not hide it.
            if (o.lightOnDark == f.lightOnDark && std::hypot(o.x - f.x, o.y - f.y) < 0.5 * o.module) {
                o.rows += f.rows;
                duplicate = true;
                break;
            }
        }
        if (!duplicate) out.push_back(f);
    }
    const double cx = v.width / 2.0, cy = v.height / 2.0;
    std::stable_sort(out.begin(), out.end(), [cx, cy](const FinderHit& a, const FinderHit& b) {
        return std::hypot(a.x - cx, a.y - cy) < std::hypot(b.x - cx, b.y - cy);
    });
    if (out.size() > options.maxCandidates) out.resize(options.maxCandidates);
    return out;
}

}  // namespace AztecCore::Locate
