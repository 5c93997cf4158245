// Explains, stage by stage, why frames of a category did not read:
//   quarrow-diagnose CATEGORY_INDEX COUNT [SEED [verbose]]
// Each frame that the public API does not read is put down to the first
// stage that went wrong, judged against where the renderer really put the
// symbol:
//   finder  no finder hit near the true centre (frame, halved, quartered;
//           at the default hysteresis and the noise round's), "near"
//           being within 2 modules, or DIAG_R modules when that is set
//   fit     a hit there, but no bull's-eye fit
//   off     a fit, but more than a third of a module from the truth
//   mode    a good fit, but the mode message did not correct (nor
//           through the fit turned and scaled a little)
//   data    mode message read, data did not correct
//   other   every stage passes here (frame search tried other hits first)
// For every failed frame it also says whether the exact transform decodes.
// With DIAG_FROM=N it starts at frame N; with a fifth argument it writes
// each failed frame to /tmp/diag_N.pgm and tells, per fit, how far its
// centre, turn and scale lie from the truth, and where the ring template
// puts each nearby hit's rings, fitted there as the search fits them.
// With DIAG_MODULES set it tells, for each mode message read through the
// exact transform, how many modules sampling and solving misread there.
// It also measures how often the finder puts a hit on every symbol's
// centre, and how far down the list of hits the search tries it:
//   quarrow-diagnose --finder CATEGORY_INDEX COUNT [SEED]
#include <array>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "accuracy/frame_cases.h"
#include "locate/bullseye_finder.h"
#include "locate/bullseye_geometry.h"
#include "locate/candidate_check.h"
#include "locate/frame_search.h"
#include "locate/bullseye_model_fit.h"
#include "locate/ring_template.h"
#include "locate/module_solver.h"
#include "locate/symbol_sampler.h"
#include "locate/work_budget.h"
#include "quarrow/quarrow.hpp"
#include "support/zint_symbol.h"

using namespace AztecCore::Locate;
using Aztec::Math::Homography;
using quarrow_test::exactTransform;
using quarrow_test::transformError;

namespace {

struct Attempt {
    bool fitted = false;
    double error = 1e9;
    bool mode = false;
    bool data = false;
};

// One hit through fit, mode message and data as the frame search does it.
Attempt attempt(const Sampler& s, const FinderHit& h, const Homography& truth, double module, bool verbose,
                bool roundRings = false) {
    Attempt best;
    auto tryFit = [&](const BullseyeFit& fit, const char* label) {
        Attempt a;
        a.fitted = true;
        a.error = transformError(fit.toImage, truth, fit.compact ? 4.5 : 6.5, module);
        const ModuleModel model = measureModules(s, fit);
        AztecCore::SymbolCandidate cand;
        Aztec::BitList ring;
        BullseyeFit ringFit = fit;
        a.mode = readModeRing(s, fit, model, cand, &ring) || readTurnedModeRing(s, fit, model, cand, ring, ringFit.toImage);
        if (a.mode) a.data = readSymbolData(s, ringFit, model, cand, &ring).has_value();
        if (a.mode && verbose)
            if (auto re = refineWithModeRing(s, fit, ring, std::max(0.3, model.sigma)))
                std::printf("    with the mode ring known: err %.2f blur %.2f agreement %.2f\n",
                            transformError(re->fit.toImage, truth, fit.compact ? 4.5 : 6.5, module), re->sigma, re->agreement);
        if (verbose) {
            // The fit against the truth: centre, turn (up to the grid's quarter
            // turns) and scale along u.
            const auto c0 = Aztec::Math::mapPoint(fit.toImage, 0, 0), t0 = Aztec::Math::mapPoint(truth, 0, 0);
            const auto c1 = Aztec::Math::mapPoint(fit.toImage, 4, 0), t1 = Aztec::Math::mapPoint(truth, 4, 0);
            const double af = std::atan2(c1.y - c0.y, c1.x - c0.x), at = std::atan2(t1.y - t0.y, t1.x - t0.x);
            double dr = std::fmod((af - at) * 180 / 3.14159265 + 720 + 45, 90.0) - 45;
            const double sf = std::hypot(c1.x - c0.x, c1.y - c0.y) / std::hypot(t1.x - t0.x, t1.y - t0.y);
            std::printf("    centre off %.2f mod, turn %.1f deg, scale %.3f\n", std::hypot(c0.x - t0.x, c0.y - t0.y) / module, dr, sf);
        }
        if (verbose)
            std::printf("    %s %s: res %.3f err %.2f blur %.2f levels %.0f..%.0f mode %d data %d\n", label,
                        fit.compact ? "C" : "F", fit.residual, a.error, model.sigma, model.dark, model.light, a.mode,
                        a.data);
        auto rank = [](const Attempt& x) { return x.data * 8 + x.mode * 4 + (x.error < 1.0 / 3) * 2 + x.fitted; };
        if (rank(a) > rank(best) || (rank(a) == rank(best) && a.error < best.error)) best = a;
        return model;
    };
    // A ring template's hit is fitted as the search fits it (the model
    // search, from the diagonal too); a finder hit by fitBullseye.
    bool any = false;
    for (bool compact : {false, true}) {
        std::optional<BullseyeFit> fit;
        const char* label = "fit";
        if (roundRings) {
            const auto edges = fitBullseyeEdges(s, h.x, h.y, h.module, compact);
            fit = fitBullseyeFrom(s, edges, h.x, h.y, h.module, compact, true);
            label = edges ? "edges" : "rounds";
            if (!fit && verbose) std::printf("    %s: no fit from the template's hit\n", compact ? "C" : "F");
        } else {
            fit = fitBullseye(s, h.x, h.y, h.module, compact);
        }
        if (!fit) continue;
        any = true;
        const ModuleModel m = tryFit(*fit, label);
        if (m.sigma > 0.45)
            if (auto re = fitBullseye(s, h.x, h.y, h.module, compact, m.sigma)) tryFit(*re, "refit");
    }
    if (roundRings) return best;
    if (!any) {
        if (auto c = moreSymmetricCentre(s, h.x, h.y, h.module)) {
            for (bool compact : {false, true})
                if (auto fit = fitBullseye(s, c->x, c->y, h.module, compact)) tryFit(*fit, "symfit");
        }
    }
    return best;
}

// Through the exact transform: how many of the symbol's modules sampling
// at their centres (against the mid-level) and solving from every pixel
// misread, and whether the true modules decode under the mode message
// read there.
void modulesReport(const Sampler& s, const Homography& truth, const std::string& text,
                   const AztecCore::SymbolCandidate& cand, const ModuleModel& model) {
    quarrow_test::ModuleGrid g;
    if (!quarrow_test::encodeAztec(text, {}, g) || g.size != cand.size) return;
    const int m = g.size, half = (m - 1) / 2, n = m + 2;
    const double mid = 0.5 * (model.dark + model.light);
    std::vector<double> centres(static_cast<std::size_t>(n * n));
    for (int x = -1; x <= m; ++x)
        for (int y = -1; y <= m; ++y) {
            const auto p = Aztec::Math::mapPoint(truth, x - half, y - half);
            centres[static_cast<std::size_t>((x + 1) * n + y + 1)] = s.at(p.x, p.y);
        }
    KnownLevels known;
    known.dark = model.dark;
    known.light = model.light;
    const auto solved = solveModuleLevels(s, truth, m, model.sigma, known, std::vector<double>(centres.size(), mid));
    int atCentres = 0, solvedWrong = 0;
    Aztec::ModuleMatrix matrix(static_cast<std::size_t>(m), Aztec::BitList(static_cast<std::size_t>(m)));
    for (int x = 0; x < m; ++x)
        for (int y = 0; y < m; ++y) {
            const std::size_t i = static_cast<std::size_t>((x + 1) * n + y + 1);
            atCentres += (centres[i] < mid) != g.at(y, x);
            solvedWrong += (solved[i] < mid) != g.at(y, x);
            matrix[static_cast<std::size_t>(x)].set(y, g.at(y, x));
        }
    AztecCore::SymbolCandidate unchecked = cand;
    unchecked.modeCorrections = 0;
    std::printf("  modules misread of %d: at their centres %d, solved %d; the true modules decode %s\n", m * m,
                atCentres, solvedWrong,
                Aztec::decodeDataChecked(cand, matrix) ? "yes"
                : Aztec::decodeDataChecked(unchecked, matrix)
                    ? "only unchecked (the mode message needed corrections and the data reads with a word fewer too)"
                    : "no");
}

}  // namespace

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
        const std::uint32_t seed = argc > 4 ? static_cast<std::uint32_t>(std::atoi(argv[4])) : 7;
        if (only >= 0) {
            finderReport(static_cast<quarrow_test::Category>(only), std::atoi(argv[3]), seed);
            return 0;
        }
        for (quarrow_test::Category cat : quarrow_test::kAllCategories) finderReport(cat, std::atoi(argv[3]), seed);
        return 0;
    }
    if (argc < 3) return 2;
    const auto cat = static_cast<quarrow_test::Category>(std::atoi(argv[1]));
    const int count = std::atoi(argv[2]);
    const std::uint32_t seed = argc > 3 ? static_cast<std::uint32_t>(std::atoi(argv[3])) : 7;
    const bool verbose = argc > 4;
    const int from = std::getenv("DIAG_FROM") ? std::atoi(std::getenv("DIAG_FROM")) : 0;
    std::map<std::string, int> stages;
    int failed = 0, truthDecodes = 0;
    for (int i = from; i < count; ++i) {
        const auto c = quarrow_test::makeCase(cat, i, seed);
        if (c.all) continue;  // several symbols: see the accuracy report
        const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
        if (r.outcome == quarrow::Outcome::Read && std::string(r.bytes.begin(), r.bytes.end()) != c.expected.front())
            std::printf("frame %d: WRONG read (%d words corrected)\n", i, r.correctedWords);
        if (r.outcome == quarrow::Outcome::Read && !std::getenv("DIAG_ALL")) continue;
        ++failed;
        const auto& pl = c.placements.front();
        const Homography truth = exactTransform(pl);
        const AztecCore::Point2d centre = Aztec::Math::mapPoint(truth, 0.0, 0.0);
        GreyView v{c.frame.pixels.data(), c.frame.width, c.frame.height, c.frame.width};
        const bool light = c.frame.pixels.empty() ? false : cat == quarrow_test::Category::LightOnDark;
        const Sampler s(v, light);

        // The exact transform: does the symbol decode from it?
        BullseyeFit exact;
        exact.toImage = truth;
        bool exactRead = false;
        for (bool compact : {false, true}) {
            exact.compact = compact;
            const ModuleModel m0 = measureModules(s, exact);
            exact.dark = m0.dark;
            exact.light = m0.light;
            const ModuleModel m = measureModules(s, exact);
            AztecCore::SymbolCandidate cand;
            const bool mode = readModeRing(s, exact, m, cand);
            if (mode && readSymbolData(s, exact, m, cand)) exactRead = true;
            if (mode && std::getenv("DIAG_MODULES")) modulesReport(s, truth, c.expected.front(), cand, m);
        }
        truthDecodes += exactRead;
        if (verbose) {
            // Where the model fit settles when started from the truth.
            for (bool compact : {false, true})
                if (auto m = refineBullseye(s, truth, compact))
                    std::printf("  model fit from the truth %s: err %.2f blur %.2f agreement %.2f\n", compact ? "C" : "F",
                                transformError(m->fit.toImage, truth, compact ? 4.5 : 6.5, pl.module), m->sigma, m->agreement);
        }

        std::string stage = "finder";
        Attempt best;
        std::string hitCounts;
        const double noise = estimateNoise(v);
        for (int round = 0; round < 6; ++round) {
            const int reduction = 1 << (round % 3);
            const auto hits = round < 3 ? hitsAtScale(v, reduction, {}) : noisyHitsAtScale(v, reduction, {}, noise);
            char countText[16];
            std::snprintf(countText, sizeof countText, " %zu", hits.size());
            hitCounts.append(countText);
            for (FinderHit h : hits) {
                if (std::hypot(h.x - centre.x, h.y - centre.y) > (std::getenv("DIAG_R") ? std::atof(std::getenv("DIAG_R")) : 2.0) * pl.module) continue;
                if (verbose) std::printf("  hit /%d (%.1f, %.1f) m=%.2f\n", reduction, h.x, h.y, h.module);
                const Attempt a = attempt(Sampler(v, h.lightOnDark), h, truth, pl.module, verbose);
                auto rank = [](const Attempt& x) { return x.data * 8 + x.mode * 4 + (x.error < 1.0 / 3) * 2 + x.fitted; };
                if (stage == "finder" || rank(a) > rank(best)) best = a;
                stage = "hit";
                if (verbose) {
                    // Where the ring template, the search's last round, puts the rings round this hit.
                    WorkBudget budget(1 << 30);
                    if (const auto rings = matchRings(v, h, budget)) {
                        const FinderHit& r = rings->hit;
                        std::printf("    template: (%.1f, %.1f) m=%.2f score %.2f, centre off %.2f mod\n", r.x, r.y, r.module,
                                    rings->score, std::hypot(r.x - centre.x, r.y - centre.y) / pl.module);
                        attempt(Sampler(v, r.lightOnDark), r, truth, pl.module, verbose, true);
                    }
                }
            }
        }
        if (stage != "finder") {
            stage = !best.fitted ? "fit" : best.error >= 1.0 / 3 ? "off" : !best.mode ? "mode" : !best.data ? "data" : "other";
        }
        ++stages[stage];
        std::printf("frame %d: %-6s exact transform %s  module %.2f blur %.2f noise %.1f size %d  centre (%.1f, %.1f)  fit err %.2f hits%s\n", i,
                    stage.c_str(), exactRead ? "reads" : "fails", pl.module, pl.blur, pl.noise, pl.size, centre.x, centre.y,
                    best.fitted ? best.error : -1.0, hitCounts.c_str());
        if (verbose) {
            char name[64];
            std::snprintf(name, sizeof name, "/tmp/diag_%d.pgm", i);
            quarrow_test::writePgm(name, c.frame);
        }
    }
    std::printf("\n%s: %d of %d frames failed; exact transform reads %d of them\n",
                quarrow_test::categoryName(cat), failed, count - from, truthDecodes);
    for (const auto& [k, n] : stages) std::printf("  %-6s %d\n", k.c_str(), n);
}
