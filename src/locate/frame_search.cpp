#include "locate/frame_search.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "locate/bullseye_finder.h"

namespace AztecCore::Locate {

namespace {

// Reduced copies searched after the frame itself: halved, where sensor
// noise is halved too and heavy blur spans fewer pixels, and quartered,
// for close-ups whose modules outgrow the finder's window.
constexpr int kReductions[] = {2, 4};
// Frames smaller than this on their shorter side have no room for a
// reduced copy that could still show a bull's-eye.
constexpr int kMinReducedSide = 40;

std::vector<std::uint8_t> reduce(const GreyView& v, int kReduction, GreyView& out) {
    out.width = v.width / kReduction;
    out.height = v.height / kReduction;
    out.stride = out.width;
    std::vector<std::uint8_t> px(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            int sum = 0;
            for (int j = 0; j < kReduction; ++j) {
                const std::uint8_t* row = v.pixels + static_cast<std::ptrdiff_t>(y * kReduction + j) * v.stride + x * kReduction;
                for (int i = 0; i < kReduction; ++i) sum += row[i];
            }
            px[static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>((sum + kReduction * kReduction / 2) / (kReduction * kReduction));
        }
    }
    out.pixels = px.data();
    return px;
}

Quad mapQuad(const Aztec::Math::Homography& h, double e) {
    return {Aztec::Math::mapPoint(h, -e, -e), Aztec::Math::mapPoint(h, e, -e), Aztec::Math::mapPoint(h, e, e),
            Aztec::Math::mapPoint(h, -e, e)};
}

std::optional<FoundSymbol> readWith(const Sampler& sampler, const BullseyeFit& fit, const ModuleModel& model,
                                     bool lightOnDark) {
    SymbolCandidate cand;
    Aztec::BitList modeRing;
    if (!readModeRing(sampler, fit, model, cand, &modeRing)) return std::nullopt;
    auto read = readSymbolData(sampler, fit, model, cand, &modeRing);
    if (!read) return std::nullopt;
    FoundSymbol found;
    SymbolCandidate& c = read->candidate;
    c.centre = Aztec::Math::mapPoint(read->toImage, 0.0, 0.0);
    const Quad ring = mapQuad(read->toImage, fit.compact ? 3.5 : 5.5);
    for (int k = 0; k < 4; ++k) c.corners[k] = ring[static_cast<std::size_t>(k)];
    found.symbolCorners = mapQuad(read->toImage, c.size / 2.0);
    found.lightOnDark = lightOnDark;
    found.read = std::move(*read);
    return found;
}

// Under heavy blur a second fit leaves out the rings' rounded corners,
// once the blur is known.
constexpr double kRefitBlur = 0.45;

std::optional<FoundSymbol> readFitted(const Sampler& sampler, const BullseyeFit& fit, const FinderHit& hit,
                                      Point2d centre) {
    const ModuleModel model = measureModules(sampler, fit);
    if (auto found = readWith(sampler, fit, model, hit.lightOnDark)) return found;
    if (model.sigma <= kRefitBlur) return std::nullopt;
    const auto refit = fitBullseye(sampler, centre.x, centre.y, hit.module, fit.compact, model.sigma);
    if (!refit) return std::nullopt;
    return readWith(sampler, *refit, measureModules(sampler, *refit), hit.lightOnDark);
}

// Full-range first: a full-range bull's-eye also holds the rings of a
// compact one, but not the other way round.
std::optional<FoundSymbol> readAt(const GreyView& view, const FinderHit& hit) {
    const Sampler sampler(view, hit.lightOnDark);
    bool fitted = false;
    for (bool compact : {false, true}) {
        if (auto fit = fitBullseye(sampler, hit.x, hit.y, hit.module, compact)) {
            fitted = true;
            if (auto found = readFitted(sampler, *fit, hit, {hit.x, hit.y})) return found;
        }
    }
    if (fitted) return std::nullopt;
    const auto centre = moreSymmetricCentre(sampler, hit.x, hit.y, hit.module);
    if (!centre) return std::nullopt;
    for (bool compact : {false, true}) {
        if (auto fit = fitBullseye(sampler, centre->x, centre->y, hit.module, compact)) {
            if (auto found = readFitted(sampler, *fit, hit, *centre)) return found;
        }
    }
    return std::nullopt;
}

}  // namespace

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
    int attempts = 0;
    auto covered = [&](const FinderHit& h) {
        const Point2d p{h.x, h.y};
        for (const Quad& q : options.known)
            if (insideQuad(q, p)) return true;
        for (const FoundSymbol& f : found)
            if (insideQuad(f.symbolCorners, p)) return true;
        for (const FinderHit& t : tried)
            if (t.lightOnDark == h.lightOnDark && std::hypot(t.x - h.x, t.y - h.y) < 0.5 * std::max(t.module, h.module) &&
                std::max(t.module, h.module) < 1.5 * std::min(t.module, h.module))
                return true;
        return false;
    };
    auto tryHits = [&](const std::vector<FinderHit>& hits) {
        for (const FinderHit& h : hits) {
            if (attempts >= kMaxCandidatesTried) return true;
            if (covered(h)) continue;
            ++attempts;
            tried.push_back(h);
            if (auto f = readAt(view, h)) {
                found.push_back(std::move(*f));
                if (!options.all) return true;
            }
        }
        return false;
    };

    if (tryHits(findBullseyes(view, fo))) return found;
    for (int reduction : kReductions) {
        if (std::min(view.width, view.height) / reduction < kMinReducedSide) break;
        GreyView small;
        const std::vector<std::uint8_t> store = reduce(view, reduction, small);
        std::vector<FinderHit> hits = findBullseyes(small, fo);
        // Back to frame pixels: reduced pixel i covers frame pixels
        // r i .. r i + r - 1.
        for (FinderHit& h : hits) {
            h.x = h.x * reduction + (reduction - 1) / 2.0;
            h.y = h.y * reduction + (reduction - 1) / 2.0;
            h.module *= reduction;
        }
        // Each copy has its own budget: noise can fill the frame's with
        // false hits while the symbol shows only in a reduced copy.
        attempts = 0;
        if (tryHits(hits)) return found;
    }
    return found;
}

}  // namespace AztecCore::Locate
