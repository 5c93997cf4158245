#include "locate/bullseye_finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace AztecCore::Locate {

namespace {

#if defined(__SSE2__)
// Sixteen bytes from p, unaligned: eight 16-bit or four 32-bit lanes.
template <typename T>
inline __m128i load128(const T* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

// Windows of 5 x 5 blocks of 8 x 8 pixels whose grey levels span fewer than
// kMinRange levels hold no edges worth following: there the class of a
// pixel never changes, and sensor noise on a blank wall makes no runs.
// On a noisy frame the span noise alone makes is added: Gaussian noise of
// sigma s spans about 7 s over a window's 1,600 pixels. Without it no
// window of a frame with noise of 2 grey levels is flat, and the finder's
// pass over it costs ten times the pass over a clean one, for hits made
// of noise. Noise widens the span of every window alike, at both ends:
// one holding dark and light levels C apart spans about C + 7 s, so what
// is left out is still only contrast below kMinRange.
constexpr int kBlock = 8;
constexpr int kReach = 2;
constexpr int kMinRange = 12;
constexpr double kNoiseSpan = 7.0;
// The running mean spans 2 * kHalfWindow + 1 pixels: two to eight modules
// at the module sizes this scale is searched for (larger ones are found
// on the reduced copy).
constexpr int kHalfWindow = 8;
// Below kFineModule pixels a module the window spans more than five
// modules, and next to a wide dark stretch (the mode ring's dark modules
// beside the outer dark ring) its mean sinks so far that a thin dark ring
// of a pixel and a half no longer parts from its light neighbours. Cross-
// checks of such hits that fail, on clusters of two rows or more (noise
// makes one-row ones), are walked once more with a narrower mean, five
// pixels each way: 2 px/module frames read 97.5 % with it, 92.5 % without.
constexpr double kFineModule = 3.0;
constexpr int kFineHalfWindow = 5;
// Every other row: a bull's-eye shows its nine equal runs on rows within
// half a module of its centre, one row band at 2 pixels per module.
constexpr int kRowStep = 2;
constexpr double kMinModule = 1.4;
// The least whole number of pixels not below x.
constexpr int wholeAtLeast(double x) {
    const int i = static_cast<int>(x);
    return i < x ? i + 1 : i;
}
// The signatures' least spans in whole pixels: seven runs, and the four
// ring runs beside a wide middle one, of kMinModule each.
constexpr int kMinSevenRuns = wholeAtLeast(7 * kMinModule);
constexpr int kMinFourRuns = wholeAtLeast(4 * kMinModule);
// Row hits gathered into clusters are cross-checked only up to this many
// clusters per frame, which bounds the work a busy frame can cause. Which
// ones matters on noisy frames, where sensor noise makes a cluster every
// few rows and columns: the first ones down the frame left out symbols in
// its middle (see BullseyeFinder::find).
constexpr std::size_t kMaxClusters = 600;
// A tilted, blurred and noisy bull's-eye can show its whole signature on
// the row and the column but only its middle runs on the diagonals (the
// outer rings fade first, and most where the tilt stretches them least).
// Such a hit is confirmed by the middle runs of one diagonal when its
// cluster grew over this many rows: noise makes clusters of one, and
// then passes that check often enough to cost a fit on every frame.
constexpr int kMiddleOnlyRows = 2;
// Clusters kept at most, against a frame made of nothing but row hits.
constexpr std::size_t kMaxRowClusters = std::size_t{1} << 16;
// Width in pixels of the columns by which clusters are found (find()).
constexpr int kClusterColumn = 8;

}  // namespace

#if defined(__GNUC__) && defined(__x86_64__)
#define QUARROW_AVX2_BLOCKS 1
// Four blocks at a time with AVX2, where the processor has it: 32 columns'
// extremes over the band of rows y0 .. y1 - 1, then each 64-bit lane's
// eight folded into its lowest byte (the zeros shifted in reach only the
// lane's upper bytes). From block bx on, while four whole blocks fit;
// returns the first block left.
__attribute__((target("avx2"))) int blockExtremesAvx2(const GreyView& v, int y0, int y1, int bx, std::uint8_t* lo,
                                                       std::uint8_t* hi) {
    static_assert(kBlock == 8, "a block's row is one 64-bit lane");
    // Always kBlock rows, unrolled: the frame's last band may be shorter,
    // and its last row is then taken again, which leaves the extremes be.
    std::array<std::ptrdiff_t, kBlock> rowAt{};
    for (int k = 0; k < kBlock; ++k) rowAt[static_cast<std::size_t>(k)] = std::min(k, y1 - y0 - 1) * static_cast<std::ptrdiff_t>(v.stride);
    for (; (bx + 4) * kBlock <= v.width; bx += 4) {
        const std::uint8_t* at = v.pixels + static_cast<std::ptrdiff_t>(y0) * v.stride + bx * kBlock;
        __m256i mn = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), mx = mn;
#pragma GCC unroll 8
        for (std::size_t k = 1; k < kBlock; ++k) {
            const __m256i row = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + rowAt[k]));
            mn = _mm256_min_epu8(mn, row);
            mx = _mm256_max_epu8(mx, row);
        }
        mn = _mm256_min_epu8(mn, _mm256_srli_epi64(mn, 8));
        mx = _mm256_max_epu8(mx, _mm256_srli_epi64(mx, 8));
        mn = _mm256_min_epu8(mn, _mm256_srli_epi64(mn, 16));
        mx = _mm256_max_epu8(mx, _mm256_srli_epi64(mx, 16));
        mn = _mm256_min_epu8(mn, _mm256_srli_epi64(mn, 32));
        mx = _mm256_max_epu8(mx, _mm256_srli_epi64(mx, 32));
        alignas(32) std::uint8_t mins[32], maxes[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(mins), mn);
        _mm256_store_si256(reinterpret_cast<__m256i*>(maxes), mx);
        for (int k = 0; k < 4; ++k) {
            lo[bx + k] = mins[k * kBlock];
            hi[bx + k] = maxes[k * kBlock];
        }
    }
    return bx;
}
#endif

class FlatMap {
public:
    FlatMap(const GreyView& v, double noise) : bw_((v.width + kBlock - 1) / kBlock), bh_((v.height + kBlock - 1) / kBlock) {
        const auto n = static_cast<std::size_t>(bw_) * static_cast<std::size_t>(bh_);
        std::vector<std::uint8_t> lo(n, 255), hi(n, 0);
        // Each block's extremes.
#if defined(QUARROW_AVX2_BLOCKS)
        static const bool avx2 = __builtin_cpu_supports("avx2");
#endif
        for (int by = 0; by < bh_; ++by) {
            const int y0 = by * kBlock, y1 = std::min(v.height, (by + 1) * kBlock);
            int bx = 0;
#if defined(QUARROW_AVX2_BLOCKS)
            if (avx2) bx = blockExtremesAvx2(v, y0, y1, bx, lo.data() + idx(0, by), hi.data() + idx(0, by));
#endif
#if defined(__SSE2__)
            // Two blocks at a time: sixteen columns' extremes over the
            // band's rows, then each half's eight folded into its first byte.
            for (; (bx + 2) * kBlock <= v.width; bx += 2) {
                const std::uint8_t* at = v.pixels + static_cast<std::ptrdiff_t>(y0) * v.stride + bx * kBlock;
                __m128i mn = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), mx = mn;
                for (int y = y0 + 1; y < y1; ++y) {
                    at += v.stride;
                    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
                    mn = _mm_min_epu8(mn, row);
                    mx = _mm_max_epu8(mx, row);
                }
                mn = _mm_min_epu8(mn, _mm_srli_si128(mn, 1));
                mx = _mm_max_epu8(mx, _mm_srli_si128(mx, 1));
                mn = _mm_min_epu8(mn, _mm_srli_si128(mn, 2));
                mx = _mm_max_epu8(mx, _mm_srli_si128(mx, 2));
                mn = _mm_min_epu8(mn, _mm_srli_si128(mn, 4));
                mx = _mm_max_epu8(mx, _mm_srli_si128(mx, 4));
                lo[idx(bx, by)] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(mn));
                hi[idx(bx, by)] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(mx));
                lo[idx(bx + 1, by)] = static_cast<std::uint8_t>(_mm_extract_epi16(mn, 4));
                hi[idx(bx + 1, by)] = static_cast<std::uint8_t>(_mm_extract_epi16(mx, 4));
            }
#endif
            // The rest one block at a time; the last block may be narrower.
            for (; bx < bw_; ++bx) {
                const int x0 = bx * kBlock, x1 = std::min(v.width, x0 + kBlock);
                std::uint8_t mn = 255, mx = 0;
                for (int y = y0; y < y1; ++y) {
                    const std::uint8_t* row = v.pixels + static_cast<std::ptrdiff_t>(y) * v.stride;
                    for (int x = x0; x < x1; ++x) {
                        mn = std::min(mn, row[x]);
                        mx = std::max(mx, row[x]);
                    }
                }
                lo[idx(bx, by)] = mn;
                hi[idx(bx, by)] = mx;
            }
        }
        // Separable window minima and maxima, a whole row of blocks at a
        // time: first along each row of blocks (the window cut at the
        // ends), then across kReach rows of blocks each way.
        std::vector<std::uint8_t> hLo(n), hHi(n);
        for (int by = 0; by < bh_; ++by) {
            const std::uint8_t* l = lo.data() + idx(0, by);
            const std::uint8_t* h = hi.data() + idx(0, by);
            std::uint8_t* ol = hLo.data() + idx(0, by);
            std::uint8_t* oh = hHi.data() + idx(0, by);
            for (int bx = 0; bx < bw_; ++bx) {
                if (bx == kReach && bx + kReach < bw_) {
                    // Whole windows.
                    const int end = bw_ - kReach;
                    for (; bx < end; ++bx) {
                        std::uint8_t mn = l[bx - 2], mx = h[bx - 2];
                        for (int k = -1; k <= kReach; ++k) {
                            mn = std::min(mn, l[bx + k]);
                            mx = std::max(mx, h[bx + k]);
                        }
                        ol[bx] = mn;
                        oh[bx] = mx;
                    }
                    if (bx >= bw_) break;
                }
                std::uint8_t mn = 255, mx = 0;
                for (int k = std::max(0, bx - kReach); k <= std::min(bw_ - 1, bx + kReach); ++k) {
                    mn = std::min(mn, l[k]);
                    mx = std::max(mx, h[k]);
                }
                ol[bx] = mn;
                oh[bx] = mx;
            }
        }
        flat_.assign(n, 0);
        const int minRange = kMinRange + static_cast<int>(kNoiseSpan * noise);
        std::vector<std::uint8_t> vLo(static_cast<std::size_t>(bw_)), vHi(static_cast<std::size_t>(bw_));
        for (int by = 0; by < bh_; ++by) {
            const int k0 = std::max(0, by - kReach), k1 = std::min(bh_ - 1, by + kReach);
            std::copy_n(hLo.data() + idx(0, k0), bw_, vLo.data());
            std::copy_n(hHi.data() + idx(0, k0), bw_, vHi.data());
            for (int k = k0 + 1; k <= k1; ++k) {
                const std::uint8_t* l = hLo.data() + idx(0, k);
                const std::uint8_t* h = hHi.data() + idx(0, k);
                for (int bx = 0; bx < bw_; ++bx) {
                    vLo[static_cast<std::size_t>(bx)] = std::min(vLo[static_cast<std::size_t>(bx)], l[bx]);
                    vHi[static_cast<std::size_t>(bx)] = std::max(vHi[static_cast<std::size_t>(bx)], h[bx]);
                }
            }
            std::uint8_t* f = flat_.data() + idx(0, by);
            if (minRange > 255) {
                std::fill_n(f, bw_, std::uint8_t{1});  // no window spans that much
            } else {
                // In bytes, so that the comparisons vectorise.
                const auto bound = static_cast<std::uint8_t>(minRange);
                for (int bx = 0; bx < bw_; ++bx)
                    f[bx] = static_cast<std::uint8_t>(vHi[static_cast<std::size_t>(bx)] - vLo[static_cast<std::size_t>(bx)]) < bound;
            }
        }
    }

    bool flatBlock(int bx, int by) const { return flat_[idx(bx, by)] != 0; }
    // Whether pixel (x, y) lies in a flat block, through plain values: a
    // loop that stores into int buffers would otherwise reload this map's
    // fields after every store (the compiler cannot tell them apart).
    struct Lookup {
        const std::uint8_t* blocks;
        std::size_t perRow;
        // x and y lie in the frame.
        bool flat(int x, int y) const {
            return blocks[static_cast<std::size_t>(static_cast<unsigned>(y) / kBlock) * perRow +
                          static_cast<unsigned>(x) / kBlock] != 0;
        }
    };
    Lookup lookup() const { return {flat_.data(), static_cast<std::size_t>(bw_)}; }

private:
    std::size_t idx(int bx, int by) const {
        return static_cast<std::size_t>(by) * static_cast<std::size_t>(bw_) + static_cast<std::size_t>(bx);
    }
    int bw_, bh_;
    std::vector<std::uint8_t> flat_;
};

namespace {

struct Signature {
    double module = 0.0;
    bool symbolDark = true;  // dark-on-light
    bool nine = false;       // all nine runs seen (the centre module too)
};

// Whether a run of width w fits a module of m between the ratios lo and
// hi. At two or three pixels per module a run is easily a pixel longer or
// shorter than its module, so a pixel and a quarter is always allowed.
// Widths are whole pixels, so the test is between whole bounds: the same
// expressions rounded inwards, computed once for all the runs tested
// against one module.
constexpr double kPixelSlack = 1.25;
struct WidthBounds {
    WidthBounds(double m, double lo, double hi)
        : least(static_cast<int>(std::ceil(std::min(lo * m, m - kPixelSlack)))),
          most(static_cast<int>(std::floor(std::max(hi * m, m + kPixelSlack)))) {}
    bool fit(int w) const { return w >= least && w <= most; }
    int least, most;
};
// The widths a signature allows, against its module m: a ring's run, the
// lone centre module's (which may shrink or swell a little), and the
// centre merged with its light ring into one run under blur.
WidthBounds ringRun(double m) { return WidthBounds(m, 0.5, 1.5); }
bool centreModuleFits(int w, double m) { return WidthBounds(m, 0.35, 1.8).fit(w); }
bool mergedCentreFits(double w, double m) { return w >= 1.7 * m && w <= 4.0 * m; }


// Whether run c of a row (or walk) is the middle of a bull's-eye: nine
// runs of about a module (the middle one may shrink or swell a little, the
// outer two only need half a module: beyond them lies anything), or seven
// whose middle one is three modules wide, the blurred centre merged with
// its light ring. A middle run of about twice the others can be either
// (a light-on-dark centre seen wide, or a blurred dark-on-light one), so
// both signatures are tested. `symbolDark` picks the polarity wanted.
// This runs for every run of every row, twice: it works on whole widths,
// the cheapest tests first.
bool signatureAt(const int* starts, int runs, int c, bool centreDark, bool symbolDark, Signature& sig) {
    auto w = [&](int k) { return starts[c + k + 1] - starts[c + k]; };
    if (centreDark == symbolDark && c - 4 >= 0 && c + 4 < runs) {
        // The seven inner widths are whole pixels, so their sum is exact
        // whatever the order: the span of the seven runs.
        const int span = starts[c + 4] - starts[c - 3];
        const double m = static_cast<double>(span) / 7.0;
        // Half a module either side, and the two halves' spans within a module.
        const int left = starts[c] - starts[c - 3], right = starts[c + 4] - starts[c + 1];
        if (m >= kMinModule && w(-4) >= 0.5 * m && w(4) >= 0.5 * m && std::abs(left - right) < m) {
            const WidthBounds ring = ringRun(m);
            bool ok = centreModuleFits(w(0), m);
            for (int k : {-3, -2, -1, 1, 2, 3}) ok = ok && ring.fit(w(k));
            if (ok) {
                sig.module = m;
                sig.symbolDark = symbolDark;
                sig.nine = true;
                return true;
            }
        }
    }
    if (centreDark != symbolDark && c - 3 >= 0 && c + 3 < runs) {
        const int left = starts[c] - starts[c - 2], right = starts[c + 3] - starts[c + 1];
        const double m = static_cast<double>(left + right) / 4.0;
        const double middle = w(0);
        if (m >= kMinModule && mergedCentreFits(middle, m) && w(-3) >= 0.5 * m && w(3) >= 0.5 * m &&
            std::abs(left - right) < m) {
            const WidthBounds ring = ringRun(m);
            if (ring.fit(w(-2)) && ring.fit(w(-1)) && ring.fit(w(1)) && ring.fit(w(2))) {
                sig.module = m;
                sig.symbolDark = symbolDark;
                return true;
            }
        }
    }
    return false;
}

// The first tests of the two signatures at run c, on whole pixels and
// without branches: where one fails, signatureAt fails for the polarity
// that would test it (the nine runs for the polarity of the middle run,
// the seven for the other). Each is signatureAt's test on the module
// multiplied out (for the nine runs m = span / 7: m >= kMinModule, outer
// runs >= m / 2, |left - right| < m; for the seven, m = (left + right) / 4
// likewise and 1.7 m <= middle <= 4 m), and never answers otherwise,
// since no product of whole widths lies between a bound and its rounding.
// On a noisy row most runs fail both, where a branch per test was often
// mispredicted. Runs c - 3 .. c + 3 must exist, and c - 4 and c + 4 for
// the nine.
struct MaybeSignatures {
    bool nine = false, seven = false;
};
inline MaybeSignatures maybeSignatures(const int* starts, int c, bool nineInside) {
    MaybeSignatures out;
    const int left7 = starts[c] - starts[c - 2], right7 = starts[c + 3] - starts[c + 1];
    const int four = left7 + right7, middle = starts[c + 1] - starts[c];
    out.seven = (four >= kMinFourRuns) & (40 * middle >= 17 * four) & (middle <= four) &
                (8 * (starts[c - 2] - starts[c - 3]) >= four) & (8 * (starts[c + 4] - starts[c + 3]) >= four) &
                (4 * std::abs(left7 - right7) < four);
    if (nineInside) {
        const int span = starts[c + 4] - starts[c - 3];
        const int left9 = starts[c] - starts[c - 3], right9 = starts[c + 4] - starts[c + 1];
        out.nine = (span >= kMinSevenRuns) & (14 * (starts[c - 3] - starts[c - 4]) >= span) &
                   (14 * (starts[c + 5] - starts[c + 4]) >= span) & (7 * std::abs(left9 - right9) < span);
    }
    return out;
}

#if defined(__SSE2__)
// maybeSignatures of runs c .. c + 3 at once, in 32-bit lanes, a bit per
// run (bit k for run c + k): runs c - 4 .. c + 7 must exist (their starts
// c - 4 .. c + 8 are read). The same integer tests; the products by
// constants are shifts and adds, and |a| < b is a < b and -a < b.
struct MaybeSignatureMasks {
    unsigned nine = 0, seven = 0;
};
inline MaybeSignatureMasks maybeSignatures4(const int* starts, int c) {
    const auto at = [&](int k) { return load128(starts + c + k); };
    const auto times40 = [](__m128i v) { return _mm_add_epi32(_mm_slli_epi32(v, 5), _mm_slli_epi32(v, 3)); };
    const auto times17 = [](__m128i v) { return _mm_add_epi32(_mm_slli_epi32(v, 4), v); };
    const auto times14 = [](__m128i v) { return _mm_sub_epi32(_mm_slli_epi32(v, 4), _mm_slli_epi32(v, 1)); };
    const auto times7 = [](__m128i v) { return _mm_sub_epi32(_mm_slli_epi32(v, 3), v); };
    const auto atLeast = [](__m128i a, __m128i b) { return _mm_xor_si128(_mm_cmplt_epi32(a, b), _mm_set1_epi32(-1)); };
    const auto sizeBelow = [](__m128i d, __m128i bound) {  // |d| < bound
        return _mm_and_si128(_mm_cmplt_epi32(d, bound), _mm_cmplt_epi32(_mm_sub_epi32(_mm_setzero_si128(), d), bound));
    };
    const __m128i m4 = at(-4), m3 = at(-3), m2 = at(-2), p0 = at(0), p1 = at(1), p3 = at(3), p4 = at(4), p5 = at(5);
    const __m128i left7 = _mm_sub_epi32(p0, m2), right7 = _mm_sub_epi32(p3, p1);
    const __m128i four = _mm_add_epi32(left7, right7), middle = _mm_sub_epi32(p1, p0);
    __m128i seven = atLeast(four, _mm_set1_epi32(kMinFourRuns));
    seven = _mm_and_si128(seven, atLeast(times40(middle), times17(four)));
    seven = _mm_and_si128(seven, atLeast(four, middle));
    seven = _mm_and_si128(seven, atLeast(_mm_slli_epi32(_mm_sub_epi32(m2, m3), 3), four));
    seven = _mm_and_si128(seven, atLeast(_mm_slli_epi32(_mm_sub_epi32(p4, p3), 3), four));
    seven = _mm_and_si128(seven, sizeBelow(_mm_slli_epi32(_mm_sub_epi32(left7, right7), 2), four));
    const __m128i span = _mm_sub_epi32(p4, m3);
    const __m128i left9 = _mm_sub_epi32(p0, m3), right9 = _mm_sub_epi32(p4, p1);
    __m128i nine = atLeast(span, _mm_set1_epi32(kMinSevenRuns));
    nine = _mm_and_si128(nine, atLeast(times14(_mm_sub_epi32(m3, m4)), span));
    nine = _mm_and_si128(nine, atLeast(times14(_mm_sub_epi32(p5, p4)), span));
    nine = _mm_and_si128(nine, sizeBelow(times7(_mm_sub_epi32(left9, right9)), span));
    return {static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(nine))),
            static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(seven)))};
}
#endif

// A classified walk: its run starts (the last entry is the end), each
// run's class, and how many steps of it lie before its starting point.
// Only the runs a check can look at are classified: the signature is
// sought at most three runs past the one holding the starting point and
// reaches four runs past that, so the walk stops where the eighth run
// after it starts (that start is then its end). A sample's class depends
// only on the samples before it and its window, so every run kept is
// exactly what a walk to the end would have found.
struct Walk {
    int x = 0, y = 0, dx = 0, dy = 0, reach = -1;
    int back = 0;
    std::vector<int> starts;
    std::vector<std::uint8_t> runDark;
};
constexpr int kRunsPastStart = 3 + 4 + 1;

// The cross-checks walk the same lines again and again (both polarities'
// preferences, the cluster's mean and last row, the second round); the
// last few walks are kept.
constexpr std::size_t kRemembered = 8;

// A walker's buffers and remembered walks, kept per thread so that a warm
// finder allocates nothing for them; a walker forgets the walks it takes.
struct WalkerStore {
    std::vector<int> p, q, sums;
    std::array<Walk, kRemembered> walks{};
};

struct Walker {
    Walker(WalkerStore& store, const GreyView& view, const FlatMap& flatMap, int quarters, int halfWindow = kHalfWindow)
        : v(view), flat(flatMap), quarterHysteresis(quarters), halfWindow(halfWindow), p(store.p), q(store.q),
          sums(store.sums), walks(store.walks) {
        for (Walk& w : walks) w.reach = -1;
    }

    const GreyView& v;
    const FlatMap& flat;
    int quarterHysteresis;
    int halfWindow;  // of the running mean
    std::vector<int>& p;
    std::vector<int>& q;
    std::vector<int>& sums;
    std::array<Walk, kRemembered>& walks;
    std::size_t nextWalk = 0;
    // Set by a check without `preferNine` whose first signature lacked the
    // centre module while a later one had it: only then could the same
    // check with `preferNine` have chosen otherwise.
    bool ninePassedOver = false;

    // Steps from (x, y) against (dx, dy) (forwards with `sign` 1) that stay
    // in the frame, at most `reach`.
    int stepsInside(int x, int y, int dx, int dy, int sign, int reach) const {
        int n = 0;
        if (x >= 0 && y >= 0 && x < v.width && y < v.height) {
            n = reach;
            const int sx = sign * dx, sy = sign * dy;
            if (sx > 0) n = std::min(n, v.width - 1 - x);
            if (sx < 0) n = std::min(n, x);
            if (sy > 0) n = std::min(n, v.height - 1 - y);
            if (sy < 0) n = std::min(n, y);
            return n;
        }
        while (n < reach && inside(x + sign * (n + 1) * dx, y + sign * (n + 1) * dy)) ++n;
        return n;
    }

    // Classes (dark or not) of the samples against their running mean, with
    // the hysteresis where the frame is not flat (elsewhere a sample keeps
    // the class before it). In quarters of a grey level: q is the [1 2 1]
    // smoothed profile times four, and "v < mean - h" over a window of n
    // samples is n q < sum q - 4 h n with h the hysteresis, all in
    // integers. Samples, their smoothing and the window sums are taken only
    // as far as the classes are wanted.
    const Walk& walk(int x, int y, int dx, int dy, int reach) {
        for (const Walk& w : walks)
            if (w.reach == reach && w.x == x && w.y == y && w.dx == dx && w.dy == dy) return w;
        Walk& w = walks[nextWalk];
        nextWalk = (nextWalk + 1) % kRemembered;
        const int back = stepsInside(x, y, dx, dy, -1, reach), fwd = stepsInside(x, y, dx, dy, 1, reach);
        const int n = back + fwd + 1;
        const auto size = static_cast<std::size_t>(n);
        if (p.size() < size) {
            p.resize(size);
            q.resize(size);
            sums.resize(size + 1);
        }
        const int x0 = x - back * dx, y0 = y - back * dy;
        const std::uint8_t* first = v.pixels + static_cast<std::ptrdiff_t>(y0) * v.stride + x0;
        const FlatMap::Lookup flatAt = flat.lookup();
        int* const pd = p.data();
        int* const qd = q.data();
        int* const sd = sums.data();
        const std::ptrdiff_t step = static_cast<std::ptrdiff_t>(dy) * v.stride + dx;
        // Samples, their smoothing and sums are taken a stretch at a time,
        // as far as the classes are wanted (q[i] needs p[i + 1]; sums[k]
        // needs q[k - 1]).
        constexpr int kStretch = 48;
        int sampled = 0, ready = 0;  // p[0 .. sampled) and sums[0 .. ready] are known
        sd[0] = 0;
        w.starts.clear();
        w.runDark.clear();
        bool cls = false;
        int lastStart = -1;  // the run whose start ends the walk, once known
        bool cut = false;
        {
            // The first sample's class, against its window alone.
            const int b = std::min(n, halfWindow + 1);
            int sum = 0;
            for (int j = 0; j < b; ++j)
                sum += (j == 0 || j == n - 1) ? 4 * first[j * step]
                                              : first[(j - 1) * step] + 2 * first[j * step] + first[(j + 1) * step];
            const int q0 = 4 * first[0];
            cls = q0 * b < sum;
            w.starts.push_back(0);
            w.runDark.push_back(cls ? 1 : 0);
            if (back == 0) lastStart = kRunsPastStart;
        }
        // Makes sums[0 .. b] known (and the samples and smoothing below them).
        const auto sumsUpTo = [&](int b) {
            if (b <= ready) return;
            const int k = std::min(n, b + kStretch);
            const int upto = std::min(n, k + 1);
            int j = sampled;
            for (; j < upto; ++j) pd[j] = first[j * step];
            sampled = j;
            j = ready;
            if (j == 0) {
                qd[0] = 4 * pd[0];
                sd[1] = qd[0];
                j = 1;
            }
            const int inner = std::min(k, n - 1);
            // The running sum kept in a register: through memory every step
            // would wait on the one before.
            int running = sd[j];
#if defined(__SSE2__)
            // Four at a time: the four smoothed samples' sums within the
            // register (shifted copies added twice), then the running sum
            // added to all four and taken on from the last lane: the same
            // sums as one at a time, in the same 32 bits.
            for (; j + 4 <= inner; j += 4) {
                const __m128i mid = load128(pd + j);
                const __m128i smoothed = _mm_add_epi32(_mm_add_epi32(load128(pd + j - 1), load128(pd + j + 1)), _mm_add_epi32(mid, mid));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(qd + j), smoothed);
                __m128i sums = _mm_add_epi32(smoothed, _mm_slli_si128(smoothed, 4));
                sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 8));
                sums = _mm_add_epi32(sums, _mm_set1_epi32(running));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(sd + j + 1), sums);
                running = _mm_cvtsi128_si32(_mm_shuffle_epi32(sums, 0xFF));
            }
#endif
            for (; j < inner; ++j) {
                const int smoothed = pd[j - 1] + 2 * pd[j] + pd[j + 1];
                qd[j] = smoothed;
                running += smoothed;
                sd[j + 1] = running;
            }
            if (k == n && j == n - 1) {
                const auto u = static_cast<std::size_t>(j);
                qd[u] = 4 * pd[u];
                sd[u + 1] = sd[u] + qd[u];
                j = n;
            }
            ready = j;
        };
        // The rest 64 samples at a time: a bit each for the samples that
        // would turn a light run dark and a dark run light (none in a flat
        // block, where a sample keeps the class before it); each next start
        // is then the first bit of the kind the current class wants.
        bool backPassed = back == 0;  // lastStart known
        for (int c0 = 1; c0 < n && !cut; c0 += 64) {
            const int c1 = std::min(n, c0 + 64);
            sumsUpTo(std::min(n, c1 + halfWindow));
            std::uint64_t toDark = 0, toLight = 0;
            const auto classify = [&](int i) {
                const int a = std::max(0, i - halfWindow), b = std::min(n, i + halfWindow + 1);
                const int sum = sd[b] - sd[a];
                const int scaled = qd[i] * (b - a);
                const int margin = quarterHysteresis * (b - a);
                toDark |= static_cast<std::uint64_t>(scaled < sum - margin) << (i - c0);
                toLight |= static_cast<std::uint64_t>(scaled > sum + margin) << (i - c0);
            };
            int i = c0;
#if defined(__SSE2__)
            // Where the window lies wholly inside the walk, eight samples at
            // a time in 16-bit lanes: with w = 2 halfWindow + 1 <= 17, q at
            // most 4 * 255 and the quarter hysteresis at most 1,000, q w, the
            // window's sum and the margin stay below 2^15, and
            // "q w < sum - margin" is "q w - sum < -margin".
            static_assert(kFineHalfWindow <= kHalfWindow && kHalfWindow <= 8, "window sums must fit 16 bits");
            for (const int lead = std::min(c1, std::max(c0, halfWindow)); i < lead; ++i) classify(i);
            const int span = 2 * halfWindow + 1;
            const __m128i weight = _mm_set1_epi16(static_cast<std::int16_t>(span));
            const __m128i margin = _mm_set1_epi16(static_cast<std::int16_t>(quarterHysteresis * span));
            const __m128i negMargin = _mm_set1_epi16(static_cast<std::int16_t>(-quarterHysteresis * span));
            for (; i + 8 <= c1 && i + 8 + halfWindow <= n; i += 8) {
                const __m128i q16 = _mm_packs_epi32(load128(qd + i), load128(qd + i + 4));
                const int* hi = sd + i + halfWindow + 1;
                const int* lo = sd + i - halfWindow;
                const __m128i sum16 = _mm_packs_epi32(_mm_sub_epi32(load128(hi), load128(lo)), _mm_sub_epi32(load128(hi + 4), load128(lo + 4)));
                const __m128i diff = _mm_sub_epi16(_mm_mullo_epi16(q16, weight), sum16);
                const __m128i dark = _mm_cmplt_epi16(diff, negMargin), light = _mm_cmpgt_epi16(diff, margin);
                toDark |= static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(dark, dark)) & 0xFF) << (i - c0);
                toLight |= static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(light, light)) & 0xFF) << (i - c0);
            }
#endif
            for (; i < c1; ++i) classify(i);
            for (int k = c0; k < c1;) {
                const int bx = x0 + k * dx, by = y0 + k * dy;
                // (bx and by lie in the frame: their remainders are those of unsigned values.)
                const int inX = static_cast<int>(static_cast<unsigned>(bx) % kBlock);
                const int inY = static_cast<int>(static_cast<unsigned>(by) % kBlock);
                const int leftX = dx > 0 ? kBlock - inX : dx < 0 ? inX + 1 : n;
                const int leftY = dy > 0 ? kBlock - inY : dy < 0 ? inY + 1 : n;
                const int end = std::min({c1, k + leftX, k + leftY});
                if (flatAt.flat(bx, by)) {
                    const int len = end - k;
                    const std::uint64_t block = (len == 64 ? ~0ull : (1ull << len) - 1) << (k - c0);
                    toDark &= ~block;
                    toLight &= ~block;
                }
                k = end;
            }
            for (int at = c0; at < c1;) {
                const std::uint64_t wanted = (cls ? toLight : toDark) & (~0ull << (at - c0));
                if (wanted == 0) break;
                const int flip = c0 + __builtin_ctzll(wanted);
                if (!backPassed && flip > back) {
                    lastStart = static_cast<int>(w.starts.size()) - 1 + kRunsPastStart;
                    backPassed = true;
                }
                cls = !cls;
                w.starts.push_back(flip);
                if (static_cast<int>(w.starts.size()) - 1 == lastStart) {
                    cut = true;
                    break;
                }
                w.runDark.push_back(cls ? 1 : 0);
                if (flip == back) {
                    lastStart = static_cast<int>(w.starts.size()) - 1 + kRunsPastStart;
                    backPassed = true;
                }
                at = flip + 1;
            }
        }
        if (!cut) w.starts.push_back(n);
        w.x = x;
        w.y = y;
        w.dx = dx;
        w.dy = dy;
        w.reach = reach;
        w.back = back;
        return w;
    }

    // The run of walk w that holds its starting point.
    static int runHolding(const Walk& w) {
        return static_cast<int>(std::upper_bound(w.starts.begin(), w.starts.end(), w.back) - w.starts.begin()) - 1;
    }
    // The signature along (dx, dy) through (x, y), with the middle run's
    // centre in steps from (x, y).
    bool check(int x, int y, int dx, int dy, int reach, bool symbolDark, bool preferNine, Signature& sig, double& offset) {
        const Walk& w = walk(x, y, dx, dy, reach);
        const std::vector<int>& starts = w.starts;
        const int* first = starts.data();
        // The walk may start a ring or two off the centre (rows through
        // ring 1 show the seven-run signature too, and at 45 degrees every
        // row through the bull's-eye is symmetric): the nearest run with
        // the signature wins or, with `preferNine`, the nearest with the
        // full nine-run signature (blur leaves only seven at the centre).
        const int at = runHolding(w);
        const int runs = static_cast<int>(starts.size()) - 1;
        int chosen = -1;
        Signature best;
        for (int d : {0, -1, 1, -2, 2, -3, 3}) {
            const int c = at + d;
            if (c < 0 || c >= runs) continue;
            const bool centreDark = w.runDark[static_cast<std::size_t>(c)] != 0;
            Signature s;
            if (!signatureAt(first, runs, c, centreDark, symbolDark, s)) continue;
            if (chosen < 0 || (preferNine && s.nine && !best.nine)) {
                chosen = c;
                best = s;
            } else if (s.nine && !best.nine) {
                ninePassedOver = true;
            }
        }
        if (chosen < 0) return false;
        sig = best;
        offset = 0.5 * (starts[static_cast<std::size_t>(chosen)] + starts[static_cast<std::size_t>(chosen + 1)] - 1) - w.back;
        return true;
    }
    // Only the middle of the signature along (dx, dy) through (x, y): a
    // centre run (of about a module, or about three blurred into one)
    // between two ring runs of nearly the same width, of a module within
    // 0.3 to 1.6 of `module`, each with a run of half a module or more
    // beyond it. What a tilted, blurred bull's-eye still shows along a
    // diagonal when its outer rings have faded into the noise.
    bool middleCheck(int x, int y, int dx, int dy, int reach, bool symbolDark, double module) {
        const Walk& w = walk(x, y, dx, dy, reach);
        const int* starts = w.starts.data();
        const int at = runHolding(w);
        const int runs = static_cast<int>(w.starts.size()) - 1;
        for (int d : {0, -1, 1}) {
            const int c = at + d;
            if (c < 2 || c + 2 >= runs) continue;
            auto width = [&](int k) { return starts[c + k + 1] - starts[c + k]; };
            const double m = 0.5 * (width(-1) + width(1));
            if (m < kMinModule || m < 0.3 * module || m > 1.6 * module || std::abs(width(-1) - width(1)) >= m) continue;
            if (width(-2) < 0.5 * m || width(2) < 0.5 * m) continue;
            const WidthBounds ring = ringRun(m);
            if (!ring.fit(width(-1)) || !ring.fit(width(1))) continue;
            const bool centreDark = w.runDark[static_cast<std::size_t>(c)] != 0;
            if (centreDark == symbolDark ? centreModuleFits(width(0), m) : mergedCentreFits(width(0), m)) return true;
        }
        return false;
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
// the refined centre and module size. With `middleEnough`, a hit whose
// diagonals show no whole signature passes as middleOnly when one of
// them shows the middle runs (Walker::middleCheck).
bool crossCheckOnce(Walker& walker, double hx, double hy, double module, bool symbolDark, bool preferNine,
                    bool middleEnough, FinderHit& out) {
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
    out.middleOnly = false;
    if (diagonals == 0 && middleEnough) {
        out.middleOnly = walker.middleCheck(x, y, 1, 1, reach, symbolDark, sh.module) ||
                         walker.middleCheck(x, y, 1, -1, reach, symbolDark, sh.module);
        diagonals = out.middleOnly ? 1 : 0;
    }
    if (diagonals == 0) return false;
    out.x = cx;
    out.y = cy;
    out.module = 0.5 * (sh.module + sv.module);
    out.lightOnDark = !symbolDark;
    return true;
}

// Without the preference for nine runs first, then with it. The second
// makes the same checks with the same answers unless a check of the first
// passed over a nine-run signature for an earlier one, and is then skipped.
bool crossCheck(Walker& walker, double hx, double hy, double module, bool symbolDark, bool middleEnough, FinderHit& out) {
    walker.ninePassedOver = false;
    if (crossCheckOnce(walker, hx, hy, module, symbolDark, false, middleEnough, out)) return true;
    return walker.ninePassedOver && crossCheckOnce(walker, hx, hy, module, symbolDark, true, middleEnough, out);
}

// The row pass's window sums (see BullseyeFinder::find): s(x) = p(x-1) +
// 2 p(x) + p(x+1) in `sm`, its sums over 2, 4 and 8 pixels starting at
// each x, and the flips found from them, a bit per pixel. Each buffer
// spans a whole row (and 16 more entries); a row reads only the entries
// its spans compute, and the others keep whatever an earlier row left.
constexpr int kWindow = 2 * kHalfWindow + 1;
static_assert(kWindow == 17, "the window sums are built for 17 pixels");
// A hysteresis's flips: the pixels where a light run turns dark (below)
// and a dark one light (above), a bit each, for a scaled hysteresis.
struct FlipBits {
    std::int16_t scaled = 0;
    std::uint64_t* below = nullptr;
    std::uint64_t* above = nullptr;
};
// One pass finds the flips of one hysteresis, or of two at once (the same
// window sums compared twice): the frame search's noise round then reads
// its flips rather than finding them again.
constexpr int kMaxFlipSets = 2;
struct RowLevels {
    std::int16_t *sm, *s2, *s4, *s8;
    std::size_t width;
    std::array<FlipBits, kMaxFlipSets> flips;
};

inline void setFlips(std::uint64_t* bits, std::size_t at, std::uint64_t mask) {
    const std::size_t bit = at % 64;
    bits[at / 64] |= mask << bit;
    if (bit != 0) bits[at / 64 + 1] |= mask >> (64 - bit);
}

// The levels of [from, to), which reach kHalfWindow pixels each way; each
// level is computed where the next one reads it (and within the row).
// Plain loops, which the compiler vectorises for whichever instruction set
// the caller is built for.
[[gnu::always_inline]] inline void spanLevels(const std::uint8_t* row, int from, int to, const RowLevels& l) {
    const std::size_t width = l.width, last = width - 1;  // sums reach at most sm[width - 1]
    const auto lo8 = static_cast<std::size_t>(from - kHalfWindow);
    {
        std::int16_t* o = l.sm;
        const std::size_t end = std::min<std::size_t>(width - 1, static_cast<std::size_t>(to + kHalfWindow));
        for (std::size_t x = std::max<std::size_t>(1, lo8); x < end; ++x)
            o[x] = static_cast<std::int16_t>(row[x - 1] + 2 * row[x] + row[x + 1]);
    }
    {
        const std::int16_t* a = l.sm;
        std::int16_t* o = l.s2;
        const std::size_t end = std::min<std::size_t>(last, static_cast<std::size_t>(to + 6));
        for (std::size_t x = lo8; x < end; ++x) o[x] = static_cast<std::int16_t>(a[x] + a[x + 1]);
    }
    {
        const std::int16_t* a = l.s2;
        std::int16_t* o = l.s4;
        const std::size_t end = std::min<std::size_t>(last - 2, static_cast<std::size_t>(to + 4));
        for (std::size_t x = lo8; x < end; ++x) o[x] = static_cast<std::int16_t>(a[x] + a[x + 2]);
    }
    {
        const std::int16_t* a = l.s4;
        std::int16_t* o = l.s8;
        const std::size_t end = std::min<std::size_t>(last - 6, static_cast<std::size_t>(to));
        for (std::size_t x = lo8; x < end; ++x) o[x] = static_cast<std::int16_t>(a[x] + a[x + 4]);
    }
}

// The flips of pixels from + i .. to - 1 for the first `Sets` flip sets,
// their levels known: a pixel is dark when kWindow s(x) lies below its
// window's sum of s by more than the scaled hysteresis, light when above
// it by more. window(x) = s16(x - 8) + s(x + 8), s16(i) = s8(i) + s8(i + 8).
template <int Sets>
[[gnu::always_inline]] inline void spanFlips(int from, int to, std::size_t i, const RowLevels& l) {
    const std::int16_t* a = l.s8 + (from - kHalfWindow);
    const std::int16_t* c = l.sm + from;
    const auto n = static_cast<std::size_t>(to - from);
#if defined(__SSE2__)
    // Sixteen pixels at a time, eight to a register; the compare masks of
    // both, packed to bytes, give sixteen bits each.
    const __m128i weight = _mm_set1_epi16(kWindow);
    auto diffAt = [&](std::size_t k) {
        const __m128i window = _mm_add_epi16(_mm_add_epi16(load128(a + k), load128(a + k + 8)), load128(c + k + kHalfWindow));
        return _mm_sub_epi16(_mm_mullo_epi16(load128(c + k), weight), window);
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i d0 = diffAt(i), d1 = diffAt(i + 8);
        const auto at = static_cast<std::size_t>(from) + i;
        for (int k = 0; k < Sets; ++k) {
            const FlipBits& f = l.flips[static_cast<std::size_t>(k)];
            const __m128i up = _mm_set1_epi16(f.scaled), down = _mm_set1_epi16(static_cast<std::int16_t>(-f.scaled));
            const __m128i dark = _mm_packs_epi16(_mm_cmpgt_epi16(down, d0), _mm_cmpgt_epi16(down, d1));
            const __m128i light = _mm_packs_epi16(_mm_cmpgt_epi16(d0, up), _mm_cmpgt_epi16(d1, up));
            setFlips(f.below, at, static_cast<std::uint64_t>(_mm_movemask_epi8(dark) & 0xFFFF));
            setFlips(f.above, at, static_cast<std::uint64_t>(_mm_movemask_epi8(light) & 0xFFFF));
        }
    }
    for (; i + 8 <= n; i += 8) {
        const __m128i d = diffAt(i);
        const auto at = static_cast<std::size_t>(from) + i;
        for (int k = 0; k < Sets; ++k) {
            const FlipBits& f = l.flips[static_cast<std::size_t>(k)];
            const __m128i up = _mm_set1_epi16(f.scaled), down = _mm_set1_epi16(static_cast<std::int16_t>(-f.scaled));
            const __m128i dark = _mm_cmpgt_epi16(down, d), light = _mm_cmpgt_epi16(d, up);
            setFlips(f.below, at, static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(dark, dark)) & 0xFF));
            setFlips(f.above, at, static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(light, light)) & 0xFF));
        }
    }
#endif
    for (; i < n; ++i) {
        const auto window = static_cast<std::int16_t>(a[i] + a[i + 8] + c[i + kHalfWindow]);
        const auto diff = static_cast<std::int16_t>(kWindow * c[i] - window);
        const auto at = static_cast<std::size_t>(from) + i;
        for (int k = 0; k < Sets; ++k) {
            const FlipBits& f = l.flips[static_cast<std::size_t>(k)];
            setFlips(f.below, at, diff < -f.scaled ? 1 : 0);
            setFlips(f.above, at, diff > f.scaled ? 1 : 0);
        }
    }
}

template <int Sets>
void rowFlipsBaseline(const std::uint8_t* row, const std::vector<std::pair<int, int>>& spans, const RowLevels& l) {
    for (const auto& [from, to] : spans) {
        spanLevels(row, from, to, l);
        spanFlips<Sets>(from, to, 0, l);
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define QUARROW_AVX2_ROW_FLIPS 1
// The same with AVX2, where the processor has it: the levels' loops
// vectorised sixteen lanes wide, and the flips found 32 pixels at a time.
// Integer sums either way: the same bits.
template <int Sets>
__attribute__((target("avx2"))) void rowFlipsAvx2(const std::uint8_t* row, const std::vector<std::pair<int, int>>& spans,
                                                  const RowLevels& l) {
    const __m256i weight = _mm256_set1_epi16(kWindow);
    // (No lambdas here: they would not share the function's instruction set.)
    for (const auto& [from, to] : spans) {
        spanLevels(row, from, to, l);
        const std::int16_t* a = l.s8 + (from - kHalfWindow);
        const std::int16_t* c = l.sm + from;
        const auto n = static_cast<std::size_t>(to - from);
        std::size_t i = 0;
        for (; i + 32 <= n; i += 32) {
            __m256i d[2];
            for (std::size_t half = 0; half < 2; ++half) {
                const std::size_t k = i + 16 * half;
                const __m256i window = _mm256_add_epi16(
                    _mm256_add_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k)),
                                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k + 8))),
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + k + kHalfWindow)));
                d[half] = _mm256_sub_epi16(
                    _mm256_mullo_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + k)), weight), window);
            }
            const auto at = static_cast<std::size_t>(from) + i;
            for (int k = 0; k < Sets; ++k) {
                const FlipBits& f = l.flips[static_cast<std::size_t>(k)];
                const __m256i up = _mm256_set1_epi16(f.scaled);
                const __m256i down = _mm256_set1_epi16(static_cast<std::int16_t>(-f.scaled));
                // The packs interleave the two registers' 128-bit halves;
                // the permute puts the 32 bytes back in pixel order.
                const __m256i dark = _mm256_permute4x64_epi64(
                    _mm256_packs_epi16(_mm256_cmpgt_epi16(down, d[0]), _mm256_cmpgt_epi16(down, d[1])), 0xD8);
                const __m256i light = _mm256_permute4x64_epi64(
                    _mm256_packs_epi16(_mm256_cmpgt_epi16(d[0], up), _mm256_cmpgt_epi16(d[1], up)), 0xD8);
                setFlips(f.below, at, static_cast<std::uint32_t>(_mm256_movemask_epi8(dark)));
                setFlips(f.above, at, static_cast<std::uint32_t>(_mm256_movemask_epi8(light)));
            }
        }
        spanFlips<Sets>(from, to, i, l);
    }
}
#endif

// The flips of the row's pixels in the spans, into the first `sets` (1 or
// 2) of l.flips.
void rowFlips(const std::uint8_t* row, const std::vector<std::pair<int, int>>& spans, const RowLevels& l, int sets,
              bool wide) {
#if defined(QUARROW_AVX2_ROW_FLIPS)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (wide && avx2) return sets == 2 ? rowFlipsAvx2<2>(row, spans, l) : rowFlipsAvx2<1>(row, spans, l);
#else
    (void)wide;
#endif
    return sets == 2 ? rowFlipsBaseline<2>(row, spans, l) : rowFlipsBaseline<1>(row, spans, l);
}

// The row pass's buffers and lists, kept per thread (find is not
// re-entered), so that a warm finder allocates nothing for them.
struct FindScratch {
    std::vector<int> starts;
    std::vector<RowHit> clusters, kept;
    std::vector<std::vector<std::uint32_t>> columns;
    std::vector<std::int16_t> sm, s2, s4, s8;
    std::vector<std::uint64_t> below, above;
    std::vector<std::pair<int, int>> spans;
    std::vector<std::tuple<bool, double, std::size_t>> order;
    WalkerStore walker, fineWalker;
};

FindScratch& findScratch() {
    thread_local FindScratch scratch;
    return scratch;
}

}  // namespace

BullseyeFinder::BullseyeFinder(const GreyView& view, double noise) : view_(view) {
    if (view.pixels && view.width >= 4 * kBlock && view.height >= 4 * kBlock)
        flat_ = std::make_unique<FlatMap>(view, noise);
}

BullseyeFinder::~BullseyeFinder() = default;

void sortNearestFirst(std::vector<FinderHit>& hits, double x, double y) {
    std::stable_sort(hits.begin(), hits.end(), [x, y](const FinderHit& a, const FinderHit& b) {
        return std::hypot(a.x - x, a.y - y) < std::hypot(b.x - x, b.y - y);
    });
}

std::vector<FinderHit> findBullseyes(const GreyView& view, const FinderOptions& options, double noise) {
    return BullseyeFinder(view, noise).find(options);
}

std::vector<FinderHit> BullseyeFinder::find(const FinderOptions& options) const {
    std::vector<FinderHit> out;
    if (!flat_) return out;
    const GreyView& v = view_;
    const FlatMap& flat = *flat_;

    FindScratch& scratch = findScratch();
    std::vector<int>& starts = scratch.starts;
    std::vector<RowHit>& clusters = scratch.clusters;
    clusters.clear();
    // The clusters by the column of their last row hit, in columns of
    // kClusterColumn pixels, oldest first in each: a row hit looks only at
    // the columns within its reach. Clusters too far above to take a hit
    // are dropped from a column when it is next looked at.
    std::vector<std::vector<std::uint32_t>>& columns = scratch.columns;
    columns.resize(static_cast<std::size_t>(v.width / kClusterColumn + 1));
    for (auto& column : columns) column.clear();
    // Integer form of the row test: s(x) = p(x-1) + 2 p(x) + p(x+1) is four
    // times the smoothed level, and a pixel is dark when kWindow s(x) lies
    // below the window's sum of s by more than the scaled hysteresis. Every
    // quantity fits 16 bits (kWindow * 4 * 255 < 2^15), and the window sums
    // are built by doubling (pairs, fours, eights, sixteens) rather than by
    // a running sum, so every step is a plain loop over whole rows that the
    // compiler vectorises; the walk along the row then only jumps from one
    // flip to the next. In flat blocks no pixel ever flips.
    // Quarters of a grey level; bounded so that the scaled form fits 16 bits.
    const auto quartersOf = [](double hysteresis) {
        return static_cast<int>(std::lround(4.0 * std::clamp(hysteresis, 0.0, 250.0)));
    };
    const int quarterHysteresis = quartersOf(options.hysteresis);
    const auto scaledHysteresis = static_cast<std::int16_t>(quarterHysteresis * kWindow);
    const int x0 = 1 + kHalfWindow, x1 = v.width - 2 - kHalfWindow;
    const auto width = static_cast<std::size_t>(v.width);
    // s, then its sums over 2, 4, 8 and 16 pixels starting at each x.
    std::vector<std::int16_t>& sm = scratch.sm;
    std::vector<std::int16_t>& s2 = scratch.s2;
    std::vector<std::int16_t>& s4 = scratch.s4;
    std::vector<std::int16_t>& s8 = scratch.s8;
    for (auto* level : {&sm, &s2, &s4, &s8}) level->assign(width + 16, 0);
    // The pixels where a light run turns dark (below) and a dark one light
    // (above), a bit each: the walk along the row finds each next flip a
    // word at a time.
    const std::size_t flipWords = width / 64 + 2;
    // A row's run starts: x0, at most one per bit of its flips, and x1.
    starts.resize(flipWords * 64 + 2);
    std::vector<std::uint64_t>& below = scratch.below;
    std::vector<std::uint64_t>& above = scratch.above;
    below.assign(flipWords, 0);
    above.assign(flipWords, 0);
    RowLevels levels{sm.data(), s2.data(), s4.data(), s8.data(), width, {}};
    levels.flips[0] = {scaledHysteresis, below.data(), above.data()};
    // Flips kept for a later pass: both kinds for each scanned row y, at
    // (y - 1) / kRowStep. An earlier pass may have kept this pass's flips;
    // else this pass may keep a later one's (found from the same sums).
    const std::size_t keptPerRow = 2 * flipWords;
    const int keptScaled = options.keepFlipsFor > 0.0 ? quartersOf(options.keepFlipsFor) * kWindow : -1;
    const bool reuse = kept_.scaled == scaledHysteresis && kept_.words == flipWords;
    const bool keep = !reuse && keptScaled >= 0 && keptScaled != scaledHysteresis;
    if (keep) {
        kept_.scaled = -1;  // until every row is kept
        kept_.words = flipWords;
        kept_.bits.assign(static_cast<std::size_t>(v.height / kRowStep + 1) * keptPerRow, 0);
        levels.flips[1].scaled = static_cast<std::int16_t>(keptScaled);
    }
    std::vector<std::pair<int, int>>& spans = scratch.spans;
    spans.clear();
    int liveBand = -1;
    for (int y = 1; y < v.height - 1 && x1 > x0; y += kRowStep) {
        const std::uint8_t* row = v.pixels + static_cast<std::ptrdiff_t>(y) * v.stride;
        if (y / kBlock != liveBand) {
            liveBand = y / kBlock;
            // Stretches of [x0, x1) outside flat blocks: only there can a
            // pixel change class.
            spans.clear();
            for (int bx = 0; bx * kBlock < x1;) {
                if (flat.flatBlock(bx, liveBand)) {
                    ++bx;
                    continue;
                }
                const int from = bx;
                while (bx * kBlock < x1 && !flat.flatBlock(bx, liveBand)) ++bx;
                const int a = std::max(x0, from * kBlock), b = std::min(x1, bx * kBlock);
                if (a < b) spans.push_back({a, b});
            }
        }
        // A band of flat blocks shows one run: nothing to find.
        if (spans.empty()) continue;
        std::uint64_t* const keptRow =
            reuse || keep ? kept_.bits.data() + static_cast<std::size_t>((y - 1) / kRowStep) * keptPerRow : nullptr;
        const std::uint64_t* belowRow = keptRow;
        const std::uint64_t* aboveRow = keptRow != nullptr ? keptRow + flipWords : nullptr;
        if (!reuse) {
            std::fill(below.begin(), below.end(), 0);
            std::fill(above.begin(), above.end(), 0);
            if (keep) {
                levels.flips[1].below = keptRow;
                levels.flips[1].above = keptRow + flipWords;
            }
            rowFlips(row, spans, levels, keep ? 2 : 1, options.wideVectors);
            belowRow = below.data();
            aboveRow = above.data();
        }
        // The first pixel's class, against its whole window.
        int window0 = 0;
        for (int x = x0 - kHalfWindow; x <= x0 + kHalfWindow; ++x) window0 += row[x - 1] + 2 * row[x] + row[x + 1];
        int* const runStart = starts.data();
        int count = 0;
        runStart[count++] = x0;
        const bool firstDark = kWindow * (row[x0 - 1] + 2 * row[x0] + row[x0 + 1]) < window0;
        bool dark = firstDark;
        // Each next start is the first flip of the kind the current class
        // wants: a flip whose kind differs from the flip before it. A word
        // of flips at a time, with no chain from one flip to the next.
        // Between two flips to light (a stretch of `notLight`) a pixel is
        // dark from the stretch's first flip to dark on and light before
        // it (all dark when the class coming into the word's first stretch
        // is dark). Each light part starts at one of `bottoms` (the bit
        // after a flip to light, or the word's first bit when coming in
        // light) and holds no flip, so adding `bottoms` to `plain` carries
        // through exactly the light parts and clears them. No flip is set
        // before x0 or at or past x1.
        std::uint64_t mask = ~0ull << (x0 % 64);  // the first word's bits from x0 on
        for (std::size_t word = static_cast<std::size_t>(x0) / 64; word < flipWords; ++word, mask = ~0ull) {
            const std::uint64_t toLight = aboveRow[word] & mask, toDark = belowRow[word] & mask;
            if ((toLight | toDark) == 0) continue;
            const std::uint64_t in = dark ? 1 : 0;
            const std::uint64_t notLight = ~toLight, plain = notLight & ~toDark;
            const std::uint64_t bottoms = ((toLight << 1) | (in ^ 1)) & plain;
            const std::uint64_t isDark = notLight & ~(plain & ~(plain + bottoms));  // each pixel's class after it
            const std::uint64_t before = (isDark << 1) | in;                          // and before it
            std::uint64_t flips = (toDark & ~before) | (toLight & before);
            dark = (isDark >> 63) != 0;
            for (; flips != 0; flips &= flips - 1) runStart[count++] = static_cast<int>(word * 64) + __builtin_ctzll(flips);
        }
        runStart[count++] = x1;
        const int runs = count - 1;
        // Tests run c, which maybeSignatures passed, for both polarities, and
        // adds its hits to the clusters.
        const auto tryRun = [&](int c, MaybeSignatures maybe) {
            const bool centreDark = firstDark == (c % 2 == 0);
            for (bool symbolDark : {true, false}) {
                if (symbolDark ? !options.darkOnLight : !options.lightOnDark) continue;
                if (!(symbolDark == centreDark ? maybe.nine : maybe.seven)) continue;
                Signature sig;
                if (!signatureAt(runStart, runs, c, centreDark, symbolDark, sig)) continue;
                const double x = 0.5 * (runStart[c] + runStart[c + 1] - 1);
                // The hit joins the oldest cluster that takes it. A cluster
                // takes hits within 0.6 of its module, at most 1.5 times the
                // hit's, so none beyond 0.9 of the hit's module can.
                const double reach = 0.9 * sig.module;
                const int firstColumn = std::max(0, static_cast<int>((x - reach) / kClusterColumn));
                const int lastColumn =
                    std::min(static_cast<int>(columns.size()) - 1, static_cast<int>((x + reach) / kClusterColumn));
                std::uint32_t best = std::numeric_limits<std::uint32_t>::max();
                for (int col = firstColumn; col <= lastColumn; ++col) {
                    std::erase_if(columns[static_cast<std::size_t>(col)], [&](std::uint32_t k) {
                        return y - clusters[k].lastY > 2.0 * clusters[k].module + kRowStep;
                    });
                    for (const std::uint32_t k : columns[static_cast<std::size_t>(col)]) {
                        const RowHit& h = clusters[k];
                        if (k >= best || h.symbolDark != sig.symbolDark || std::fabs(h.lastX - x) > 0.6 * h.module ||
                            sig.module > 1.5 * h.module || h.module > 1.5 * sig.module)
                            continue;
                        best = k;
                    }
                }
                if (best != std::numeric_limits<std::uint32_t>::max()) {
                    RowHit& h = clusters[best];
                    const auto from = static_cast<std::size_t>(h.lastX / kClusterColumn);
                    const auto to = static_cast<std::size_t>(x / kClusterColumn);
                    if (from != to) {
                        std::erase(columns[from], best);
                        auto& into = columns[to];
                        into.insert(std::upper_bound(into.begin(), into.end(), best), best);
                    }
                    h.sumX += x;
                    h.sumY += y;
                    h.lastX = x;
                    h.lastY = y;
                    ++h.rows;
                } else if (clusters.size() < kMaxRowClusters) {
                    columns[static_cast<std::size_t>(x / kClusterColumn)].push_back(static_cast<std::uint32_t>(clusters.size()));
                    clusters.push_back({sig.module, sig.symbolDark, 1, x, double(y), x, double(y)});
                }
            }
        };
        // Run c needs runs c - 3 .. c + 3, and c - 4 and c + 4 for the
        // nine; the runs with room for both are tested four at a time.
        int c = 3;
        const auto tryOne = [&](int k) {
            const MaybeSignatures maybe = maybeSignatures(runStart, k, k >= 4 && k + 4 < runs);
            if (maybe.nine | maybe.seven) tryRun(k, maybe);
        };
        if (c + 3 < runs) tryOne(c++);
#if defined(__SSE2__)
        for (; c + 7 < runs; c += 4) {
            const MaybeSignatureMasks masks = maybeSignatures4(runStart, c);
            for (unsigned any = masks.nine | masks.seven; any != 0; any &= any - 1) {
                const int k = __builtin_ctz(any);
                tryRun(c + k, {((masks.nine >> k) & 1) != 0, ((masks.seven >> k) & 1) != 0});
            }
        }
#endif
        for (; c + 3 < runs; ++c) tryOne(c);
    }

    if (keep) kept_.scaled = keptScaled;
    const double cx = v.width / 2.0, cy = v.height / 2.0;
    if (clusters.size() > kMaxClusters) {
        // Clusters that grew over two rows or more first (a bull's-eye of
        // three pixels a module or more shows its signature on several
        // rows, noise mostly on one), each group nearest to the frame
        // centre first. The ones kept stay in their order down the frame.
        std::vector<std::tuple<bool, double, std::size_t>>& order = scratch.order;
        order.resize(clusters.size());
        for (std::size_t k = 0; k < order.size(); ++k) {
            const RowHit& h = clusters[k];
            const double dx = h.sumX / h.rows - cx, dy = h.sumY / h.rows - cy;
            order[k] = {h.rows < 2, dx * dx + dy * dy, k};
        }
        std::nth_element(order.begin(), order.begin() + kMaxClusters, order.end());
        order.resize(kMaxClusters);
        std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return std::get<2>(a) < std::get<2>(b); });
        std::vector<RowHit>& kept = scratch.kept;
        kept.clear();
        for (const auto& entry : order) kept.push_back(clusters[std::get<2>(entry)]);
        clusters.swap(kept);
    }
    Walker walker(scratch.walker, v, flat, quarterHysteresis);
    Walker fineWalker(scratch.fineWalker, v, flat, quarterHysteresis, kFineHalfWindow);
    for (const RowHit& h : clusters) {
        // The mean of the cluster's rows, or else its last row alone.
        FinderHit f;
        // A whole signature on the diagonals first, from every start; the
        // middle runs only when none shows one.
        // (A cluster of one row has its last row for its mean.)
        if (!crossCheck(walker, h.sumX / h.rows, h.sumY / h.rows, h.module, h.symbolDark, false, f) &&
            (h.rows < 2 || !crossCheck(walker, h.lastX, h.lastY, h.module, h.symbolDark, false, f)) &&
            (h.module >= kFineModule || h.rows < 2 ||
             !crossCheck(fineWalker, h.sumX / h.rows, h.sumY / h.rows, h.module, h.symbolDark, false, f)) &&
            (h.rows < kMiddleOnlyRows || !crossCheck(walker, h.sumX / h.rows, h.sumY / h.rows, h.module, h.symbolDark, true, f)))
            continue;
        f.rows = h.rows;
        bool duplicate = false;
        for (FinderHit& o : out) {
            // Only the same centre is the same hit: a cluster of rows a ring
            // off can settle a module or two away from the true centre, and
            // must not hide it.
            if (o.lightOnDark == f.lightOnDark && std::hypot(o.x - f.x, o.y - f.y) < 0.5 * o.module) {
                o.rows += f.rows;
                o.middleOnly = o.middleOnly && f.middleOnly;
                duplicate = true;
                break;
            }
        }
        if (!duplicate) out.push_back(f);
    }
    sortNearestFirst(out, cx, cy);
    // A hit confirmed by its middle runs alone is kept only where the user
    // aims, nearest the frame centre: elsewhere such hits are mostly the
    // blurred texture of a symbol's data, and each costs a fit.
    if (out.size() > 1)
        out.erase(std::remove_if(out.begin() + 1, out.end(), [](const FinderHit& h) { return h.middleOnly; }), out.end());
    if (out.size() > options.maxCandidates) out.resize(options.maxCandidates);
    return out;
}

double estimateNoise(const GreyView& v) {
    // For Gaussian noise of sigma s, p(x-1) - 2 p(x) + p(x+1) has deviation
    // s sqrt 6, and the median of its size is 0.6745 of that.
    constexpr int kRowGap = 16;
    constexpr double kMedianToSigma = 1.0 / (0.6745 * 2.449489742783178);
    std::array<int, 4 * 255 + 1> counts{};
    int total = 0;
    // Counting each difference in turn makes every count of the same size
    // wait for the one before it, and on clean frames nearly all are zero.
    // With SSE2 sixteen differences at a time: sixteen zeros are counted
    // at once, other sizes into two tables by alternate pixels.
    int zeros = 0;
    std::array<int, 4 * 255 + 1> odd{};
    for (int y = kRowGap / 2; y < v.height; y += kRowGap) {
        const std::uint8_t* row = v.pixels + static_cast<std::ptrdiff_t>(y) * v.stride;
        int x = 1;
#if defined(__SSE2__)
        const __m128i none = _mm_setzero_si128();
        for (; x + 17 <= v.width; x += 16) {
            const __m128i l = load128(row + x - 1), m = load128(row + x), r = load128(row + x + 1);
            const auto size = [&](bool high) {
                const auto widen = [&](__m128i b) { return high ? _mm_unpackhi_epi8(b, none) : _mm_unpacklo_epi8(b, none); };
                const __m128i d = _mm_sub_epi16(_mm_add_epi16(widen(l), widen(r)), _mm_slli_epi16(widen(m), 1));
                return _mm_max_epi16(d, _mm_sub_epi16(none, d));
            };
            const __m128i low = size(false), high = size(true);
            const unsigned zero = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_or_si128(low, high), none)));
            if (zero == 0xFFFFu) {
                zeros += 16;
            } else {
                alignas(16) std::int16_t sizes[16];
                _mm_store_si128(reinterpret_cast<__m128i*>(sizes), low);
                _mm_store_si128(reinterpret_cast<__m128i*>(sizes + 8), high);
                for (int i = 0; i < 16; i += 2) {
                    ++counts[static_cast<std::size_t>(sizes[i])];
                    ++odd[static_cast<std::size_t>(sizes[i + 1])];
                }
            }
            total += 16;
        }
#endif
        for (; x + 1 < v.width; ++x) {
            ++counts[static_cast<std::size_t>(std::abs(row[x - 1] - 2 * row[x] + row[x + 1]))];
            ++total;
        }
    }
    counts[0] += zeros;
    for (std::size_t d = 0; d < counts.size(); ++d) counts[d] += odd[d];
    if (total == 0) return 0.0;
    int seen = 0;
    for (std::size_t d = 0; d < counts.size(); ++d) {
        seen += counts[d];
        if (2 * seen >= total) return static_cast<double>(d) * kMedianToSigma;
    }
    return 0.0;
}

}  // namespace AztecCore::Locate
