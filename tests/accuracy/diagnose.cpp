// Explains, stage by stage, why frames of a category did not read:
//   quarrow-diagnose CATEGORY_INDEX COUNT [SEED]
// or measures how often the finder puts a hit on every symbol's centre,
// and how far down the list of hits the search tries it:
//   quarrow-diagnose --finder CATEGORY_INDEX COUNT [SEED]
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "accuracy/frame_cases.h"
#include "locate/bullseye_finder.h"
#include "locate/bullseye_geometry.h"
#include "locate/candidate_check.h"
#include "locate/frame_search.h"
#include "locate/symbol_sampler.h"
#include "quarrow/quarrow.hpp"

using namespace AztecCore::Locate;

namespace {

// Per category: symbols with a finder hit within 1.5 modules of their
// centre in the search's first round (every scale, default hysteresis) and
// with its noise round too, the mean number of first-round hits listed
// before the first such hit, and the spread of the ray check over hits on
// and off the symbols' centres.
int finderReport(quarrow_test::Category cat, int count, std::uint32_t seed) {
    int symbols = 0, hit = 0, hitAny = 0, before = 0, reads = 0;
    int onRays[17] = {}, offRays[17] = {};
    for (int i = 0; i < count; ++i) {
        const auto c = quarrow_test::makeCase(cat, i, seed);
        const GreyView v{c.frame.pixels.data(), c.frame.width, c.frame.height, c.frame.width};
        std::vector<FinderHit> all;
        std::vector<int> rays;
        for (int r : {1, 2, 4}) {
            for (const FinderHit& h : hitsAtScale(v, r, {})) all.push_back(h);
        }
        // The hits of the search's noise round come after the first round's.
        const std::size_t firstRound = all.size();
        const double noise = estimateNoise(v);
        for (int r : {1, 2})
            for (const FinderHit& h : noisyHitsAtScale(v, r, {}, noise)) all.push_back(h);
        for (const FinderHit& h : all) rays.push_back(regularRays(v, h));
        std::vector<bool> onSymbol(all.size(), false);
        for (const auto& centre : c.centres) {
            ++symbols;
            int first = -1;
            for (std::size_t k = 0; k < all.size(); ++k) {
                if (std::hypot(all[k].x - centre.x, all[k].y - centre.y) > 1.5 * all[k].module) continue;
                onSymbol[k] = true;
                if (first < 0) first = static_cast<int>(k);
            }
            if (first >= 0 && static_cast<std::size_t>(first) < firstRound) {
                ++hit;
                before += first;
            }
            if (first >= 0) ++hitAny;
        }
        for (std::size_t k = 0; k < all.size(); ++k) ++(onSymbol[k] ? onRays : offRays)[rays[k]];
        const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
        if (r.outcome == quarrow::Outcome::Read) ++reads;
    }
    std::printf("| %s | %d | %d (%.1f %%) | %d (%.1f %%) | %.1f | %d |\n", quarrow_test::categoryName(cat), symbols,
                hit, 100.0 * hit / std::max(1, symbols), hitAny, 100.0 * hitAny / std::max(1, symbols),
                hit ? static_cast<double>(before) / hit : 0.0, reads);
    std::printf("    rays on centre:");
    for (int k = 0; k <= 16; ++k) std::printf(" %d", onRays[k]);
    std::printf("\n    rays elsewhere:");
    for (int k = 0; k <= 16; ++k) std::printf(" %d", offRays[k]);
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 3 && !std::strcmp(argv[1], "--finder")) {
        std::printf("| category | symbols | a first-round hit on the centre | with the noise round | first-round hits before it | read |\n|---|---|---|---|---|---|\n");
        const int only = std::atoi(argv[2]);
        for (quarrow_test::Category cat : quarrow_test::kAllCategories) {
            if (only >= 0 && static_cast<int>(cat) != only) continue;
            finderReport(cat, std::atoi(argv[3]), argc > 4 ? static_cast<std::uint32_t>(std::atoi(argv[4])) : 7);
        }
        return 0;
    }
    if (argc < 3) return 2;
    const auto cat = static_cast<quarrow_test::Category>(std::atoi(argv[1]));
    const int count = std::atoi(argv[2]);
    const std::uint32_t seed = argc > 3 ? static_cast<std::uint32_t>(std::atoi(argv[3])) : 7;
    const int from = std::getenv("DIAG_FROM") ? std::atoi(std::getenv("DIAG_FROM")) : 0;
    for (int i = from; i < count; ++i) {
        const auto c = quarrow_test::makeCase(cat, i, seed);
        const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
        if (r.outcome == quarrow::Outcome::Read && !c.all) continue;
        std::printf("frame %d: not read (%s)", i, c.expected.front().c_str());
        for (const auto& p : c.centres) std::printf(" centre (%.1f, %.1f)", p.x, p.y);
        std::printf("\n");
        if (argc > 4) {
            char name[64];
            std::snprintf(name, sizeof name, "/tmp/diag_%d.pgm", i);
            quarrow_test::writePgm(name, c.frame);
        }
        GreyView v{c.frame.pixels.data(), c.frame.width, c.frame.height, c.frame.width};
        for (const FinderHit& h : findBullseyes(v, {})) {
            std::printf("  hit (%.1f, %.1f) m=%.2f %s rows=%d:", h.x, h.y, h.module, h.lightOnDark ? "L" : "D", h.rows);
            const Sampler s(v, h.lightOnDark);
            for (bool compact : {false, true}) {
                auto fit = fitBullseye(s, h.x, h.y, h.module, compact);
                if (!fit) {
                    if (auto c = moreSymmetricCentre(s, h.x, h.y, h.module)) fit = fitBullseye(s, c->x, c->y, h.module, compact);
                }
                if (!fit) {
                    std::printf(" %s:nofit", compact ? "C" : "F");
                    continue;
                }
                AztecCore::SymbolCandidate cand;
                const ModuleModel model = measureModules(s, *fit);
                const bool mode = readModeRing(s, *fit, model, cand);
                std::printf(" blur %.1f (%.0f..%.0f)", model.sigma, model.dark, model.light);
                std::printf(" %s:fit(res %.3f, dark %.0f light %.0f) mode=%d", compact ? "C" : "F", fit->residual, fit->dark,
                            fit->light, mode);
                if (mode) {
                    auto d = readSymbolData(s, *fit, model, cand);
                    std::printf(" L%d size %d data=%d", cand.layers, cand.size, d ? 1 : 0);
                }
            }
            std::printf("\n");
        }
    }
}
