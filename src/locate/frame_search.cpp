#include "locate/frame_search.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "locate/bullseye_finder.h"
#include "locate/candidate_check.h"
#include "locate/dot_patch.h"
#include "locate/magnified_centre.h"
#include "locate/ring_template.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace AztecCore::Locate {

namespace {

// Reduced copies searched after the frame itself: halved, where sensor
// noise is halved too and heavy blur spans fewer pixels, and quartered,
// for close-ups whose modules outgrow the finder's window.
constexpr int kScales[] = {1, 2, 4};  // reduce() makes exactly these
// The copy whose likely hits are tried before the first round (searchFrame).
constexpr int kHalvedFirst = 2;
// Frames smaller than this on their shorter side have no room for a
// reduced copy that could still show a bull's-eye.
constexpr int kMinReducedSide = 40;
// Hits that read one symbol lie within this many modules of each other:
// each lies within a module or two of the bull's-eye's centre.
constexpr double kSameSymbolModules = 4.0;
// Hits whose rings are looked at (candidate_check.h) per hit tried.
constexpr std::size_t kLookedAtPerTried = 3;
// Attempts of the second and third rounds (see searchFrame).
constexpr int kSecondChances = 8;
constexpr int kNoisyChances = 12;
// Attempts of the first round on hits that fail the ring check and lie
// near no hit that passes it. On a noisy frame nearly every hit is such a
// one, and each attempt costs a bull's-eye fit; a symbol whose hit fails
// the check there (heavy blur, a hit a module off centre) comes among the
// first few of them, since the finder lists hits nearest the frame centre
// first. The bound holds only on frames whose noise (estimateNoise)
// reaches kBoundedNoise grey levels: on cleaner frames clutter hits are
// few, and a blurred symbol's hit may come later (a bound from 3 grey
// levels on loses such a read among the golden frames).
// On such frames these attempts also fit only round the finder's centre:
// when neither bull's-eye fits there, the retry round a more symmetric
// centre (two more model searches, most of a noise hit's cost) is left
// out. Over 1,500 camera-mix frames (noise 3-12 grey levels, JPEG), 200
// of every category and the golden frames no read was lost by it.
constexpr int kLoneUnlikelyChances = 3;
constexpr double kBoundedNoise = 4.0;
// A lone unlikely hit whose signature showed on a single scanned row is
// not tried at all once the frame's noise reaches kSingleRowNoise grey
// levels: a bull's-eye of three pixels a module or more shows it on
// several rows, and noise makes such hits by the dozen. Over the golden
// frames with that much noise, 1,972 such attempts read 6 symbols; left
// out, the attempts and work they spent go to the later rounds, which read
// about as many (2,200 golden frames: 4 gained, 3 lost; 9,040 accuracy
// frames on two seeds: 9 more read), and a 720p frame of noise 2 without
// a symbol takes a quarter less time.
constexpr double kSingleRowNoise = 1.5;
// The second round's finder hysteresis, per grey level of the frame's
// noise: about 1.25 times the noise left after the finder's [1 2 1]
// smoothing (0.61 of it). More loses heavily blurred rings, less lets noise
// break them.
constexpr double kNoiseHysteresis = 1.25 * 0.61;
constexpr int kNoisyScales[] = {1, 2};
// Attempts of the last round, on the halved copy with dark dots grown.
constexpr int kDottedChances = 3;
// The ring template's round (ring_template.h): the hits nearest the frame
// centre it looks round, and the correlation its best place needs before
// it is fitted. Over 100 camera-mix frames the symbols it read lay round
// the first three hits, at correlations of 0.37-0.61; the hits of clutter
// with sensor noise of 2 and 8 grey levels reached 0.17-0.48.
constexpr int kRingChances = 4;
// On frames of little noise (under kBoundedNoise) the template looks round
// two hits more: there clutter seldom matches rings, and a small symbol
// blurred by most of a module is often only the fifth or sixth hit from
// the centre. Over 600 blur-0.9 frames of each of three seeds this read
// 1490 -> 1530 (eight looks read 1512); the camera mix, whose noise mostly
// reads 4 or more, read 1687 -> 1686, and a symbol-free frame of noise 8
// costs what it did.
constexpr int kQuietRingChances = 6;
// The share of the search's work held back for the ring template's round.
// It comes last, and is the only way to small symbols blurred by most of
// a module, while the rounds before it can spend the whole budget on fits
// and reads that come to nothing: of 35 blur-0.9 frames that read nothing,
// 8 ended with the budget spent, 5 of them before the template's round.
// Held back, 40 % read 20 more of 800 blur-0.9 frames and 3 more of 800
// camera frames; every other category read as before, and over the golden
// frames 6 were gained and 1 lost (a blur-0.9 frame that an earlier round
// read late).
constexpr double kRingBudgetShare = 0.4;
// The user aims at the symbol, and camera frames hold it near their
// centre. A blurred, noisy symbol there can leave only hits that the
// rounds pass over: one seen on a single row, or one failing the ring
// check where only hits passing it are tried (the noise round). When
// nothing read, up to kLastChances such hits within kAimShare of the
// frame's shorter side of its centre are tried last, so that they take
// nothing from the rounds before. Over 800 camera-mix frames this read 3
// more; no other category changed, and symbol-free frames seldom have such
// a hit (the soak's frames took 3 % more time).
constexpr double kAimShare = 0.05;
constexpr int kLastChances = 2;
// Heavy blur can turn the colour of a bull's-eye's middle run, and the
// finder then names the other polarity: the model fits such rings well,
// but with a light centre (refineBullseye). When nothing read, up to
// kOtherPolarityChances of those hits are read in the polarity they
// fitted in, nearest the frame centre first.
constexpr int kOtherPolarityChances = 2;
// When still nothing read, the ring template looks once round the frame
// centre itself, where the user aims, with a hit of kAimModule pixels a
// module: for rings of 3 to 8 pixels a module within 12 pixels of the
// centre (matchRings), the small modules that heavy blur hides from the
// finder's runs. Its match is read in its polarity and then in the other,
// since a match of rings blurred nearly flat can take either sign.
constexpr double kAimModule = 8.0;
// A flat centre holds no rings. The look (about an eighth of a symbol-free
// 720p read) is left out where the levels within kAimReach pixels of the
// centre spread less than kFlatSpread times the frame's noise plus
// kFlatFloor grey levels: rings of any contrast that survives blur spread
// them further. Over 2,400 camera-mix and blur-0.9 frames and the golden
// frames it read the same; the benchmark's symbol-free frames, whose
// centres are flat, cost what they did before the look.
constexpr int kAimReach = 34;  // the template's half-width at kAimModule
constexpr double kFlatSpread = 1.25, kFlatFloor = 2.0;
// When still nothing read, the middle kMagnifiedShare of the frame's
// shorter side is magnified twice (magnified_centre.h) and up to
// kMagnifiedChances of its hits whose rings look right there, of under
// kMagnifiedModule frame pixels a module, are read in it; not where the
// centre is flat, as above. Blur makes the finder see such modules nearly
// twice as wide as they are (up to 4.2 pixels for 2.4), so the bound is
// loose, and the ring check keeps clutter's hits from the chances.
// The square is held to kMaxMagnifiedSide frame pixels: a symbol of 2-3
// pixels a module is smaller than that, and a large frame's third would
// otherwise make a copy of hundreds of megabytes.
constexpr double kMagnifiedShare = 0.34;
constexpr int kMaxMagnifiedSide = 512;
// The round is left out from kMagnifiedMaxNoise grey levels of noise. At
// 4-6 (a small symbol far off in dim light), with the noise round's
// hysteresis, 2-3 px/module symbols blurred by half a module read 100 of
// 100 where the frame alone read 77 and 94; busy symbol-free pages of
// noise 5-7 cost 2-6 % more.
constexpr double kMagnifiedMaxNoise = 8.0;
constexpr int kMagnifiedChances = 4;
constexpr double kMagnifiedModule = 4.5;
// A symbol blurred by most of a module matches the template as a whole at
// two and a half to three times its module (its dark middle and the
// light quiet zone round it): a match of at least kMinWholeSymbolMatch
// pixels a module that reads nothing is looked round again at modules
// kWholeSymbolShare times smaller. Over 800 frames blurred by 0.9 module
// it read 6 more, and 2 more of 800 camera-mix frames.
constexpr double kWholeSymbolShare = 2.5;
constexpr double kMinWholeSymbolMatch = 9.0;
// The noise round's least hysteresis. JPEG removes most of the noise's
// fine grain, which the estimate measures (second differences), but keeps
// its coarser part, which still breaks the rings' runs at the finder's
// default: at sensor noise 6 and JPEG quality 45-70 the estimate reads
// 0.6-2.4 grey levels, and a hysteresis of 3 finds nearly every
// bull's-eye the default misses.
constexpr double kMinNoiseHysteresis = 3.0;

// The search's work per frame (work_budget.h), in samples. The hardest
// frames that read (heavy blur, camera frames, dots) took up to 115
// samples per pixel of the frame, and never more than 35 million; most
// take well under a million. Frames of damaged symbols, ring-like patterns
// and QR-like clutter took up to 1,400 per pixel and 86 million. The floor
// leaves small frames (a region cut from a view finder) room for a few
// full attempts; the ceiling holds a frame of any size to about a quarter
// of a second on this machine (about 9 ns per sample).
constexpr double kBudgetPerPixel = 120.0;
constexpr std::int64_t kMinBudget = 4'000'000;
constexpr std::int64_t kMaxBudget = 25'000'000;

std::int64_t searchBudget(const GreyView& view) {
    const double pixels = static_cast<double>(view.width) * view.height;
    return std::clamp(static_cast<std::int64_t>(kBudgetPerPixel * pixels), kMinBudget, kMaxBudget);
}

// Each reduced pixel is the rounded mean of an r x r block: the block's
// sum plus half of r r, divided by r r. With SSE2 sixteen frame pixels of
// each row at a time: their even and odd columns as 16-bit lanes, summed
// over the block's rows, then over the block's columns.
template <int R>
std::vector<std::uint8_t> reduceBy(const GreyView& v, GreyView& out) {
    static_assert(R == 2 || R == 4, "reduce() makes copies halved and quartered");
    out.width = v.width / R;
    out.height = v.height / R;
    out.stride = out.width;
    const auto w = static_cast<std::size_t>(out.width);
    std::vector<std::uint8_t> px(w * static_cast<std::size_t>(out.height));
    for (int y = 0; y < out.height; ++y) {
        const std::uint8_t* first = v.pixels + static_cast<std::ptrdiff_t>(y * R) * v.stride;
        std::uint8_t* o = px.data() + static_cast<std::size_t>(y) * w;
        std::size_t x = 0;
#if defined(__SSE2__)
        constexpr std::size_t kPerLoad = 16 / R;  // reduced pixels per 16 frame pixels
        const __m128i lowBytes = _mm_set1_epi16(0x00FF);
        for (; x + kPerLoad <= w; x += kPerLoad) {
            __m128i even = _mm_setzero_si128(), odd = _mm_setzero_si128();
            for (int j = 0; j < R; ++j) {
                const __m128i row = _mm_loadu_si128(
                    reinterpret_cast<const __m128i*>(first + static_cast<std::ptrdiff_t>(j) * v.stride + x * R));
                even = _mm_add_epi16(even, _mm_and_si128(row, lowBytes));
                odd = _mm_add_epi16(odd, _mm_srli_epi16(row, 8));
            }
            __m128i pairs = _mm_add_epi16(even, odd);  // column pairs' sums
            if constexpr (R == 2) {
                const __m128i mean = _mm_srli_epi16(_mm_add_epi16(pairs, _mm_set1_epi16(2)), 2);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o + x), _mm_packus_epi16(mean, mean));
            } else {
                const __m128i sums = _mm_add_epi32(_mm_and_si128(pairs, _mm_set1_epi32(0xFFFF)), _mm_srli_epi32(pairs, 16));
                const __m128i mean = _mm_srli_epi32(_mm_add_epi32(sums, _mm_set1_epi32(8)), 4);
                const __m128i words = _mm_packs_epi32(mean, mean);
                const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
                std::memcpy(o + x, &bytes, 4);
            }
        }
#endif
        for (; x < w; ++x) {
            int sum = 0;
            for (int j = 0; j < R; ++j) {
                const std::uint8_t* row = first + static_cast<std::ptrdiff_t>(j) * v.stride + x * R;
                for (int i = 0; i < R; ++i) sum += row[i];
            }
            o[x] = static_cast<std::uint8_t>((sum + R * R / 2) / (R * R));
        }
    }
    out.pixels = px.data();
    return px;
}

// A halved copy in which dark dots have grown by one to two frame pixels
// into the light gaps round them, so that rings printed as dots become
// whole rings. First each pixel is the darkest of its 2 x 2 block (with
// SSE2 sixteen frame pixels of each row pair at a time).
std::vector<std::uint8_t> darkenedHalf(const GreyView& v, GreyView& out) {
    out.width = v.width / 2;
    out.height = v.height / 2;
    out.stride = out.width;
    const auto w = static_cast<std::size_t>(out.width);
    std::vector<std::uint8_t> px(w * static_cast<std::size_t>(out.height));
    for (int y = 0; y < out.height; ++y) {
        const std::uint8_t* top = v.pixels + static_cast<std::ptrdiff_t>(2 * y) * v.stride;
        const std::uint8_t* bottom = top + v.stride;
        std::uint8_t* o = px.data() + static_cast<std::size_t>(y) * w;
        std::size_t x = 0;
#if defined(__SSE2__)
        for (; x + 8 <= w; x += 8) {
            const __m128i rows = _mm_min_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 2 * x)),
                                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 2 * x)));
            const __m128i pairs = _mm_min_epi16(_mm_and_si128(rows, _mm_set1_epi16(0x00FF)), _mm_srli_epi16(rows, 8));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + x), _mm_packus_epi16(pairs, pairs));
        }
#endif
        for (; x < w; ++x) o[x] = std::min({top[2 * x], top[2 * x + 1], bottom[2 * x], bottom[2 * x + 1]});
    }
    // Then the darkest of each 2 x 2 block of the copy, in place (each row
    // reads only itself, ahead of where it is written, and the row below,
    // not yet written): every pixel the darkest of a 4 x 4 block of the
    // frame, half a copy pixel down and right of its own.
    for (int y = 0; y + 1 < out.height; ++y) {
        std::uint8_t* o = px.data() + static_cast<std::size_t>(y) * w;
        std::size_t x = 0;
#if defined(__SSE2__)
        for (; x + 17 <= w; x += 16) {
            auto load = [](const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
            const __m128i m = _mm_min_epu8(_mm_min_epu8(load(o + x), load(o + x + 1)),
                                           _mm_min_epu8(load(o + x + w), load(o + x + w + 1)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + x), m);
        }
#endif
        for (; x + 1 < w; ++x) o[x] = std::min({o[x], o[x + 1], o[x + w], o[x + w + 1]});
    }
    out.pixels = px.data();
    return px;
}

std::vector<std::uint8_t> reduce(const GreyView& v, int reduction, GreyView& out) {
    return reduction == 2 ? reduceBy<2>(v, out) : reduceBy<4>(v, out);
}

Quad mapQuad(const Aztec::Math::Homography& h, double e) {
    return {Aztec::Math::mapPoint(h, -e, -e), Aztec::Math::mapPoint(h, e, -e), Aztec::Math::mapPoint(h, e, e),
            Aztec::Math::mapPoint(h, -e, e)};
}

// The standard deviation of the levels within `reach` pixels of (x, y)
// (as far as the frame goes).
double spreadRound(const GreyView& view, int x, int y, int reach) {
    const int x0 = std::max(0, x - reach), x1 = std::min(view.width - 1, x + reach);
    const int y0 = std::max(0, y - reach), y1 = std::min(view.height - 1, y + reach);
    if (x1 < x0 || y1 < y0) return 0.0;
    std::int64_t sum = 0, squares = 0;
    for (int py = y0; py <= y1; ++py) {
        const std::uint8_t* row = view.pixels + static_cast<std::ptrdiff_t>(py) * view.stride;
        for (int px = x0; px <= x1; ++px) {
            sum += row[px];
            squares += row[px] * row[px];
        }
    }
    const double n = static_cast<double>(x1 - x0 + 1) * (y1 - y0 + 1);
    const double mean = static_cast<double>(sum) / n;
    return std::sqrt(std::max(0.0, static_cast<double>(squares) / n - mean * mean));
}

// A symbol read round a fitted bull's-eye, with its centre and corners.
FoundSymbol foundOf(SymbolRead&& read, const BullseyeFit& fit, bool lightOnDark) {
    FoundSymbol found;
    SymbolCandidate& c = read.candidate;
    c.centre = Aztec::Math::mapPoint(read.toImage, 0.0, 0.0);
    const Quad ring = mapQuad(read.toImage, fit.compact ? 3.5 : 5.5);
    for (int k = 0; k < 4; ++k) c.corners[k] = ring[static_cast<std::size_t>(k)];
    found.symbolCorners = read.outline ? *read.outline : mapQuad(read.toImage, c.size / 2.0);
    found.lightOnDark = lightOnDark;
    found.read = std::move(read);
    return found;
}

// A symbol read in a magnified copy of the frame, in frame pixels.
void inFrameOf(const MagnifiedCentre& m, FoundSymbol& f) {
    f.read.toImage = m.toFrame(f.read.toImage);
    if (f.read.outline)
        for (Point2d& p : *f.read.outline) p = m.toFrame(p);
    f.read.candidate.centre = m.toFrame(f.read.candidate.centre);
    for (Point2d& p : f.read.candidate.corners) p = m.toFrame(p);
    for (Point2d& p : f.symbolCorners) p = m.toFrame(p);
}

// The symbol round a fitted bull's-eye; with `turned` its mode ring is
// looked for only through the fit turned and scaled a little.
std::optional<FoundSymbol> readWith(const Sampler& sampler, const BullseyeFit& fit, const ModuleModel& model,
                                     bool lightOnDark, bool turned) {
    SymbolCandidate cand;
    Aztec::BitList modeRing;
    BullseyeFit ringFit = fit;
    if (turned ? !readTurnedModeRing(sampler, fit, model, cand, modeRing, ringFit.toImage)
               : !readModeRing(sampler, fit, model, cand, &modeRing))
        return std::nullopt;
    auto read = readSymbolData(sampler, ringFit, model, cand, &modeRing, /*curved=*/!turned);
    if (!read) return std::nullopt;
    return foundOf(std::move(*read), fit, lightOnDark);
}

// A sharp bull's-eye's symbol read through the rings' edges alone, before
// the model refines their fit (most of a sharp read's cost): taken only
// when its data needs no correction (readAsFitted).
std::optional<FoundSymbol> readSharp(const Sampler& sampler, const BullseyeFit& edges, bool lightOnDark) {
    const ModuleModel model = measureModules(sampler, edges);
    if (model.sigma > kSharpBlur) return std::nullopt;
    SymbolCandidate cand;
    if (!readModeRing(sampler, edges, model, cand)) return std::nullopt;
    auto read = readAsFitted(sampler, edges, cand, model.sigma);
    if (!read) return std::nullopt;
    return foundOf(std::move(*read), edges, lightOnDark);
}

// Under heavy blur a second fit leaves out the rings' rounded corners,
// once the blur is known.
constexpr double kRefitBlur = 0.45;

// A heavily blurred fit that read nothing, kept for the search's last round.
struct BlurredFit {
    FinderHit hit;
    BullseyeFit fit;
    ModuleModel model;
};

// When given `blurred`, the fits tried here that read nothing and are
// blurred enough for readTurnedModeRing go into it.
std::optional<FoundSymbol> readFitted(const Sampler& sampler, const BullseyeFit& fit, const FinderHit& hit,
                                      Point2d centre, std::vector<BlurredFit>* blurred = nullptr) {
    const ModuleModel model = measureModules(sampler, fit);
    if (auto found = readWith(sampler, fit, model, hit.lightOnDark, false)) return found;
    if (model.sigma <= kRefitBlur) return std::nullopt;
    if (blurred) blurred->push_back({hit, fit, model});
    const auto refit = fitBullseye(sampler, centre.x, centre.y, hit.module, fit.compact, model.sigma);
    if (!refit) return std::nullopt;
    const ModuleModel refitModel = measureModules(sampler, *refit);
    if (auto found = readWith(sampler, *refit, refitModel, hit.lightOnDark, false)) return found;
    if (blurred && refitModel.sigma > kRefitBlur) blurred->push_back({hit, *refit, refitModel});
    return std::nullopt;
}

// Rings printed as dots fit nowhere in the frame itself; the bull's-eye is
// fitted in a smoothed copy of the hit's neighbourhood and the symbol read
// in the frame (dot_patch.h). Dotted rings seldom pass the ring check in
// the frame, so it is asked again of the smoothed copy: a hit that passes
// neither is not smoothed any further. Dots are ink, as in the dots round
// (searchFrame): a light-on-dark hit is not smoothed. Text on a page makes
// such hits by the dozen, and the smoothing and fits cost a quarter of a
// failed attempt. Over 10,000 frames of every category (two seeds) and the
// golden frames, every frame read as before.
std::optional<FoundSymbol> readDotted(const GreyView& view, const Sampler& sampler, const FinderHit& hit,
                                      WorkBudget& budget) {
    if (hit.lightOnDark) return std::nullopt;
    const SmoothedPatch patch = smoothedPatch(view, hit);
    if (patch.pixels.empty()) return std::nullopt;
    FinderHit local = hit;
    local.x -= patch.x0;
    local.y -= patch.y0;
    const Sampler smooth(patch.view, hit.lightOnDark, &budget);
    if (!hit.likely && !looksLikeBullseye(patch.view, local)) {
        // Broken rings can put the finder's centre a module off; the
        // smoothed rings show where they are symmetric.
        const auto centre = moreSymmetricCentre(smooth, local.x, local.y, hit.module);
        if (!centre) return std::nullopt;
        local.x = centre->x;
        local.y = centre->y;
        if (!looksLikeBullseye(patch.view, local)) return std::nullopt;
    }
    for (bool compact : {false, true}) {
        if (auto fit = fitBullseye(smooth, local.x, local.y, hit.module, compact)) {
            fit->toImage = toFrame(fit->toImage, patch);
            if (auto found = readFitted(sampler, *fit, hit, {local.x + patch.x0, local.y + patch.y0})) return found;
        }
    }
    return std::nullopt;
}

// Full-range first: a full-range bull's-eye also holds the rings of a
// compact one, but not the other way round. Without `moveCentre` nothing
// is tried round a more symmetric centre, nor in a smoothed copy.
// `roundRings` for a hit where heavily blurred rings are known to be (see
// searchBullseye). `otherPolarity` is set where the frame's rings fit with
// a light centre (see refineBullseye).
std::optional<FoundSymbol> readAtIn(const GreyView& view, const FinderHit& hit, bool moveCentre, WorkBudget& budget,
                                    std::vector<BlurredFit>& blurred, bool roundRings, bool* otherPolarity) {
    const Sampler sampler(view, hit.lightOnDark, &budget);
    // Where the full-range kind's edges do not fit, the compact kind's
    // sharp read comes before the full-range model's search: that search
    // round a compact bull's-eye can run long before it gives up.
    std::optional<BullseyeFit> edges[2];  // full-range, compact
    const auto sharp = [&](int kind) {
        edges[kind] = fitBullseyeEdges(sampler, hit.x, hit.y, hit.module, kind == 1);
        return edges[kind] ? readSharp(sampler, *edges[kind], hit.lightOnDark) : std::nullopt;
    };
    if (auto found = sharp(0)) return found;
    const bool compactFirst = !edges[0];
    if (compactFirst) {
        if (auto found = sharp(1)) return found;
    }
    bool fitted = false;
    for (int kind : {0, 1}) {
        if (kind == 1 && !compactFirst) {
            if (auto found = sharp(1)) return found;
        }
        if (auto fit = fitBullseyeFrom(sampler, edges[kind], hit.x, hit.y, hit.module, kind == 1, roundRings, otherPolarity)) {
            fitted = true;
            if (auto found = readFitted(sampler, *fit, hit, {hit.x, hit.y}, &blurred)) return found;
        }
    }
    if (!moveCentre) return std::nullopt;
    if (fitted) return readDotted(view, sampler, hit, budget);
    if (const auto centre = moreSymmetricCentre(sampler, hit.x, hit.y, hit.module)) {
        for (bool compact : {false, true}) {
            if (auto fit = fitBullseye(sampler, centre->x, centre->y, hit.module, compact, 0.0, otherPolarity)) {
                if (auto found = readFitted(sampler, *fit, hit, *centre, &blurred)) return found;
            }
        }
    }
    return readDotted(view, sampler, hit, budget);
}

// readAtIn; where nothing read but the rings fitted with a light centre,
// the hit goes into `otherPolarity` (when given) with its polarity turned.
std::optional<FoundSymbol> readAt(const GreyView& view, const FinderHit& hit, bool moveCentre, WorkBudget& budget,
                                  std::vector<BlurredFit>& blurred, bool roundRings = false,
                                  std::vector<FinderHit>* otherPolarity = nullptr) {
    bool inverted = false;
    auto found = readAtIn(view, hit, moveCentre, budget, blurred, roundRings, otherPolarity ? &inverted : nullptr);
    if (!found && inverted) {
        otherPolarity->push_back(hit);
        otherPolarity->back().lightOnDark = !hit.lightOnDark;
    }
    return found;
}

}  // namespace

namespace {

// One scale of the frame: its reduced copy (the frame itself at 1) and the
// finder over it, made when first wanted and kept for the later rounds.
// The finder is told the noise of what it searches: the frame's own
// estimate where the search has it, else one made on the copy.
struct Scale {
    int reduction = 1;
    bool darkened = false;  // halved through darkenedHalf rather than averaged
    double frameNoise = -1.0;  // estimateNoise of the frame, when known
    bool made = false;
    std::vector<std::uint8_t> store;
    GreyView view{};
    std::unique_ptr<BullseyeFinder> finder;  // none when the copy would be too small

    const BullseyeFinder* prepare(const GreyView& frame) {
        if (!made) {
            made = true;
            view = frame;
            if (reduction > 1) {
                if (std::min(frame.width, frame.height) / reduction < kMinReducedSide) return nullptr;
                store = darkened ? darkenedHalf(frame, view) : reduce(frame, reduction, view);
            }
            const double noise = reduction == 1 && frameNoise >= 0.0 ? frameNoise : estimateNoise(view);
            finder = std::make_unique<BullseyeFinder>(view, noise);
        }
        return finder.get();
    }
};

std::vector<FinderHit> hitsOf(const GreyView& frame, Scale& scale, const FinderOptions& options) {
    const BullseyeFinder* finder = scale.prepare(frame);
    if (!finder) return {};
    const GreyView& seen = scale.view;
    const int reduction = scale.reduction;
    // The finder is asked for more hits than are tried, so that a symbol
    // away from the centre of a busy frame is not crowded out by clutter
    // nearer to it before its rings are looked at.
    FinderOptions wider = options;
    wider.maxCandidates = kLookedAtPerTried * options.maxCandidates;
    std::vector<FinderHit> hits = finder->find(wider);
    // Hits whose rings look right from their centre are tried first. The
    // order is otherwise the finder's (nearest the frame centre first), and
    // a hit that fails the look but lies near a later one that passes is
    // tried just after it: both may read the same symbol, and the one that
    // passes reads it more often and more cheaply (a turned symbol whose
    // nearby hits came first cost three failed fits before it).
    std::vector<char> likely(hits.size()), placed(hits.size(), 0);
    for (std::size_t i = 0; i < hits.size(); ++i) likely[i] = looksLikeBullseye(seen, hits[i]) ? 1 : 0;
    std::vector<FinderHit> ordered;
    ordered.reserve(hits.size());
    for (std::size_t i = 0; i < hits.size(); ++i) {
        if (!likely[i]) continue;
        hits[i].likely = true;
        ordered.push_back(hits[i]);
        placed[i] = 1;
        for (std::size_t j = 0; j < i; ++j) {
            const double reach = kSameSymbolModules * std::max(hits[i].module, hits[j].module);
            if (!placed[j] && !likely[j] && std::hypot(hits[i].x - hits[j].x, hits[i].y - hits[j].y) < reach) {
                ordered.push_back(hits[j]);
                ordered.back().nearLikely = true;
                placed[j] = 1;
            }
        }
    }
    for (std::size_t i = 0; i < hits.size(); ++i)
        if (!placed[i]) ordered.push_back(hits[i]);
    if (ordered.size() > options.maxCandidates) ordered.resize(options.maxCandidates);
    // Back to frame pixels: reduced pixel i covers frame pixels
    // r i .. r i + r - 1.
    for (FinderHit& h : ordered) {
        h.x = h.x * reduction + (reduction - 1) / 2.0;
        h.y = h.y * reduction + (reduction - 1) / 2.0;
        h.module *= reduction;
    }
    return ordered;
}

// The noise round's hysteresis at a reduction; 0 where it would be no
// more than `base`, the first round's (the round is then left out).
double noiseRoundHysteresis(double noise, int reduction, double base) {
    // Averaging r x r pixels divides the noise by r.
    const double h = std::max(kNoiseHysteresis * noise / reduction, kMinNoiseHysteresis);
    return h > base ? h : 0.0;
}

std::vector<FinderHit> noisyHitsOf(const GreyView& frame, Scale& scale, const FinderOptions& options, double noise) {
    FinderOptions noisy = options;
    noisy.hysteresis = noiseRoundHysteresis(noise, scale.reduction, options.hysteresis);
    if (noisy.hysteresis <= 0.0) return {};
    return hitsOf(frame, scale, noisy);
}

}  // namespace

std::vector<FinderHit> hitsAtScale(const GreyView& view, int reduction, const FinderOptions& options) {
    Scale scale;
    scale.reduction = reduction;
    return hitsOf(view, scale, options);
}

std::vector<FinderHit> noisyHitsAtScale(const GreyView& view, int reduction, const FinderOptions& options,
                                        double noise) {
    Scale scale;
    scale.reduction = reduction;
    return noisyHitsOf(view, scale, options, noise);
}

bool insideQuad(const Quad& q, Point2d p) {
    int positive = 0, negative = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        const Point2d a = q[k], b = q[(k + 1) % 4];
        const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
        if (cross > 0) ++positive;
        if (cross < 0) ++negative;
    }
    return positive == 0 || negative == 0;
}

std::vector<FoundSymbol> searchFrame(const GreyView& view, const FrameSearchOptions& options) {
    std::vector<FoundSymbol> found;
    if (!view.pixels || view.width < 1 || view.height < 1) return found;
    FinderOptions fo;
    fo.darkOnLight = options.darkOnLight;
    fo.lightOnDark = options.lightOnDark;
    fo.maxCandidates = kMaxCandidatesTried;

    std::vector<FinderHit> tried;
    std::vector<BlurredFit> blurred;  // for the last round
    int attempts = 0;
    int loneUnlikely = 0;  // first-round attempts on lone unlikely hits
    std::vector<FinderHit> passedOver;  // near where the user aims, for the last chance
    std::vector<FinderHit> otherPolarity;  // hits whose rings fitted with a light centre
    const auto wanted = [&](const FinderHit& h) { return h.lightOnDark ? options.lightOnDark : options.darkOnLight; };
    const auto nearAim = [&](const FinderHit& h) {
        return std::hypot(h.x - view.width / 2.0, h.y - view.height / 2.0) < kAimShare * std::min(view.width, view.height);
    };
    const double noise = options.noise >= 0.0 ? options.noise : estimateNoise(view);
    const int loneLimit = noise >= kBoundedNoise ? kLoneUnlikelyChances : kMaxCandidatesTried;
    // The rounds before the ring template's may spend all but its share.
    const std::int64_t wholeBudget =
        options.budget > 0 ? options.budget
                           : static_cast<std::int64_t>(options.effort * static_cast<double>(searchBudget(view)));
    const auto ringShare = static_cast<std::int64_t>(kRingBudgetShare * static_cast<double>(wholeBudget));
    WorkBudget budget(wholeBudget - ringShare);
    // Inside a symbol read already (by the centre search or here).
    auto insideRead = [&](const FinderHit& h) {
        const Point2d p{h.x, h.y};
        for (const Quad& q : options.known)
            if (insideQuad(q, p)) return true;
        for (const FoundSymbol& f : found)
            if (insideQuad(f.symbolCorners, p)) return true;
        return false;
    };
    auto covered = [&](const FinderHit& h) {
        if (insideRead(h)) return true;
        for (const FinderHit& t : tried)
            if (t.lightOnDark == h.lightOnDark && std::hypot(t.x - h.x, t.y - h.y) < 0.5 * std::max(t.module, h.module) &&
                std::max(t.module, h.module) < 1.5 * std::min(t.module, h.module))
                return true;
        return false;
    };
    // Tries the hits in turn; true when the search is over (a symbol read
    // and only one wanted, or the attempts spent).
    // Hits passed over near the aim are noted for the last chances, unless
    // `notePassedOver` is off (the halved copy's early look: the first
    // round sees them again).
    auto tryHits = [&](const std::vector<FinderHit>& hits, bool onlyLikely, int& spent, int limit,
                       bool notePassedOver = true) {
        for (const FinderHit& h : hits) {
            if (spent >= limit || budget.spent()) return true;
            const bool lone = !h.likely && !h.nearLikely;
            // Only the first round tries unlikely hits; its lone ones have
            // a bound of their own (kLoneUnlikelyChances), which leaves the
            // rest of the attempts to the hits that look right, whichever
            // scale they come from. Those passed over where the user aims
            // get a last chance (see kLastChances).
            const bool passOver = (onlyLikely && !h.likely) ||
                                  (lone && (loneUnlikely >= loneLimit || (h.rows < 2 && noise >= kSingleRowNoise)));
            if (covered(h)) continue;
            if (passOver) {
                if (notePassedOver && nearAim(h)) passedOver.push_back(h);
                continue;
            }
            if (lone) ++loneUnlikely;
            ++spent;
            tried.push_back(h);
            if (auto f = readAt(view, h, !(lone && noise >= kBoundedNoise), budget, blurred, false, &otherPolarity)) {
                found.push_back(std::move(*f));
                if (!options.all) return true;
            }
        }
        return false;
    };

    std::array<Scale, std::size(kScales)> copies;
    for (std::size_t k = 0; k < copies.size(); ++k) {
        copies[k].reduction = kScales[k];
        copies[k].frameNoise = noise;
    }
    auto copyAt = [&](int reduction) -> Scale& {
        for (Scale& c : copies)
            if (c.reduction == reduction) return c;
        return copies[0];  // not reached: every reduction searched is in kScales
    };
    // The first round's pass over a copy that the noise round passes over
    // again also finds that round's flips, from the same window sums.
    const auto firstRound = [&](int reduction) {
        FinderOptions first = fo;
        if (std::find(std::begin(kNoisyScales), std::end(kNoisyScales), reduction) != std::end(kNoisyScales))
            first.keepFlipsFor = noiseRoundHysteresis(noise, reduction, fo.hysteresis);
        return hitsOf(view, copyAt(reduction), first);
    };
    std::vector<std::vector<FinderHit>> scales;
    // The halved copy's hits that look like a bull's-eye go first: its pass
    // costs a quarter of the frame's, and a symbol of 4 pixels a module or
    // more shows there. A blurred symbol's data texture makes the frame's
    // own pass cross-check hundreds of row clusters (1.1 ms on a 720p frame
    // with a blurred 5-layer symbol, against 0.3 ms for the halved pass).
    // The copy's other hits keep their turn in the first round; a frame
    // read at its own scale pays the halved pass (about 0.2 ms at 720p).
    const std::vector<FinderHit> halvedHits = firstRound(kHalvedFirst);
    const auto roundHits = [&](int reduction) { return reduction == kHalvedFirst ? halvedHits : firstRound(reduction); };
    tryHits(halvedHits, /*onlyLikely=*/true, attempts, kMaxCandidatesTried, /*notePassedOver=*/false);
    if (!found.empty() && !options.all) return found;
    for (int reduction : kScales) {
        scales.push_back(roundHits(reduction));
        if (tryHits(scales.back(), false, attempts, kMaxCandidatesTried)) break;
    }
    if (!found.empty() && !options.all) return found;
    // Two more rounds, for frames the first did not read (or all of whose
    // symbols are wanted), each with its own bound on the attempts. When
    // the first round's attempts ran out (most often on noise hits of the
    // frame itself), the hits of every scale that look like a bull's-eye
    // and were not tried get a second chance.
    if (attempts >= kMaxCandidatesTried) {
        while (scales.size() < std::size(kScales)) scales.push_back(roundHits(kScales[scales.size()]));
        int extra = 0;
        for (const auto& hits : scales)
            if (tryHits(hits, true, extra, kSecondChances)) break;
        if (!found.empty() && !options.all) return found;
    }
    // Then the finder looks again with a hysteresis fitted to the frame's
    // noise (at the default, noise of a few grey levels breaks the rings'
    // runs into slivers on the frame itself); its hits that look like a
    // bull's-eye are tried.
    int extra = 0;
    std::vector<FinderHit> noisyHits;  // kept for the ring template's round
    for (int reduction : kNoisyScales) {
        const std::vector<FinderHit> hits = noisyHitsOf(view, copyAt(reduction), fo, noise);
        noisyHits.insert(noisyHits.end(), hits.begin(), hits.end());
        if (tryHits(hits, true, extra, kNoisyChances)) break;
    }
    // Last, symbols printed as dots: the finder misses rings of separate
    // dots, and looks again in a halved copy where dark dots have grown
    // into their gaps. Dots are ink, so only dark-on-light symbols.
    // Not on noisy frames: there the darkest of each block is noise.
    if (options.darkOnLight && noise < kBoundedNoise && (found.empty() || options.all) && !budget.spent()) {
        Scale dotted;
        dotted.reduction = 2;
        dotted.darkened = true;
        FinderOptions dark = fo;
        dark.lightOnDark = false;
        int dottedTried = 0;
        // Dotted rings often fail the ring check even here: every hit may
        // be tried.
        tryHits(hitsOf(view, dotted, dark), true, dottedTried, kDottedChances);
    }
    // Heavily blurred bull's-eyes whose fits read nothing: their mode rings
    // through the fits turned and scaled a little.
    const auto readTurned = [&](const std::vector<BlurredFit>& fits) {
        for (const BlurredFit& b : fits) {
            if ((!found.empty() && !options.all) || budget.spent()) break;
            if (insideRead(b.hit)) continue;
            const Sampler sampler(view, b.hit.lightOnDark, &budget);
            if (auto f = readWith(sampler, b.fit, b.model, b.hit.lightOnDark, /*turned=*/true)) found.push_back(std::move(*f));
        }
    };
    // Those of the rounds above last, so that what those read and spend
    // stays as it was.
    readTurned(blurred);
    // Last, rings the finder's runs could not confirm: round the hits
    // nearest the frame centre (of the frame and its halved copy, both
    // rounds) the ring template finds where rings fit best, and a good
    // enough fit is read there.
    if (!found.empty() && !options.all) return found;
    budget.grant(ringShare);
    if (budget.spent()) return found;
    std::vector<FinderHit> nearest;
    for (std::size_t k = 0; k < std::min<std::size_t>(2, scales.size()); ++k)
        nearest.insert(nearest.end(), scales[k].begin(), scales[k].end());
    nearest.insert(nearest.end(), noisyHits.begin(), noisyHits.end());
    const double cx = view.width / 2.0, cy = view.height / 2.0;
    sortNearestFirst(nearest, cx, cy);
    std::vector<FinderHit> looked;
    std::vector<BlurredFit> ringFits;
    // Reads round a good enough match; true when a symbol read there.
    const auto readRings = [&](const std::optional<RingMatch>& rings) {
        if (!rings || rings->score < kMinRingScore || insideRead(rings->hit)) return false;
        if (!wanted(rings->hit)) return false;
        auto f = readAt(view, rings->hit, /*moveCentre=*/false, budget, ringFits, /*roundRings=*/true, &otherPolarity);
        if (!f) return false;
        found.push_back(std::move(*f));
        return true;
    };
    const int ringChances = noise < kBoundedNoise ? kQuietRingChances : kRingChances;
    for (const FinderHit& h : nearest) {
        if ((!found.empty() && !options.all) || budget.spent() || static_cast<int>(looked.size()) >= ringChances) break;
        if (insideRead(h)) continue;
        const bool seen = std::any_of(looked.begin(), looked.end(), [&](const FinderHit& l) {
            return std::hypot(l.x - h.x, l.y - h.y) < 0.5 * std::max(l.module, h.module);
        });
        if (seen) continue;
        looked.push_back(h);
        const auto rings = matchRings(view, h, budget);
        if (readRings(rings)) continue;
        // A whole symbol blurred by most of a module can match better as
        // rings of a few times its module than by its own rings: a large
        // match that read nothing is looked round again for small rings.
        if (rings && rings->score >= kMinRingScore && rings->hit.module >= kMinWholeSymbolMatch && !budget.spent()) {
            FinderHit smaller = rings->hit;
            smaller.module /= kWholeSymbolShare;
            readRings(matchRings(view, smaller, budget));
        }
    }
    // Rings found only this way are blurred by most of a module, and their
    // fits' turn is uncertain by a few degrees: the fits that read nothing
    // have their mode rings looked for turned as well, last.
    readTurned(ringFits);
    // The last chances, each with what is left of the budget: up to
    // `limit` of `hits`, nearest the frame centre first.
    const auto lastChances = [&](std::vector<FinderHit>& hits, int limit, std::vector<FinderHit>* turned) {
        sortNearestFirst(hits, cx, cy);
        int chances = 0;
        for (const FinderHit& h : hits) {
            if (chances >= limit || budget.spent() || !found.empty()) break;
            if (!wanted(h) || covered(h)) continue;
            ++chances;
            tried.push_back(h);
            if (auto f = readAt(view, h, /*moveCentre=*/true, budget, blurred, false, turned))
                found.push_back(std::move(*f));
        }
    };
    // The hits passed over near the frame centre; then those whose rings
    // fitted in the other polarity (these too among them).
    if (!found.empty()) return found;
    lastChances(passedOver, kLastChances, &otherPolarity);
    lastChances(otherPolarity, kOtherPolarityChances, nullptr);
    if (!found.empty() || budget.spent() ||
        spreadRound(view, view.width / 2, view.height / 2, kAimReach) < kFlatSpread * noise + kFlatFloor)
        return found;
    FinderHit aim;
    aim.x = cx;
    aim.y = cy;
    aim.module = kAimModule;
    std::vector<BlurredFit> aimFits;
    if (const auto rings = matchRings(view, aim, budget); rings && rings->score >= kMinRingScore) {
        for (bool turn : {false, true}) {
            FinderHit h = rings->hit;
            h.lightOnDark = h.lightOnDark != turn;
            if (!found.empty() || budget.spent() || !wanted(h) || insideRead(h)) continue;
            if (auto f = readAt(view, h, /*moveCentre=*/false, budget, aimFits, /*roundRings=*/true))
                found.push_back(std::move(*f));
        }
    }
    readTurned(aimFits);
    // Last, symbols of about two pixels a module where the user aims, in
    // the middle of the frame magnified twice (magnified_centre.h); only
    // the copy's hits of fine modules, which the frame itself showed too
    // unevenly. Not on the noisiest frames, where such modules drown.
    if (!found.empty() || budget.spent() || noise >= kMagnifiedMaxNoise) return found;
    const MagnifiedCentre magnified = magnifiedCentre(
        view, std::min(kMaxMagnifiedSide, static_cast<int>(kMagnifiedShare * std::min(view.width, view.height))));
    if (!magnified.view.pixels) return found;
    const BullseyeFinder finder(magnified.view, estimateNoise(magnified.view));
    std::vector<BlurredFit> magnifiedFits;
    int magnifiedTried = 0;
    // Magnifying keeps the noise (it only spreads each pixel's over four),
    // and on noisy frames the copy's rows want the noise round's
    // hysteresis.
    FinderOptions magnifiedOptions = fo;
    if (noise >= kBoundedNoise) magnifiedOptions.hysteresis = noiseRoundHysteresis(noise, 1, fo.hysteresis);
    for (const FinderHit& h : finder.find(magnifiedOptions)) {
        if (magnifiedTried >= kMagnifiedChances || budget.spent() || !found.empty()) break;
        FinderHit inFrame = h;
        const Point2d at = magnified.toFrame(Point2d{h.x, h.y});
        inFrame.x = at.x;
        inFrame.y = at.y;
        inFrame.module = 0.5 * h.module;
        if (inFrame.module >= kMagnifiedModule || !wanted(h) || covered(inFrame) ||
            !looksLikeBullseye(magnified.view, h))
            continue;
        ++magnifiedTried;
        tried.push_back(inFrame);
        if (auto f = readAt(magnified.view, h, /*moveCentre=*/false, budget, magnifiedFits)) {
            inFrameOf(magnified, *f);
            found.push_back(std::move(*f));
        }
    }
    return found;
}


}  // namespace AztecCore::Locate
