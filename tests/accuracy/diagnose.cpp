// Explains, stage by stage, why frames of a category did not read:
//   quarrow-diagnose CATEGORY_INDEX COUNT [SEED]
#include <cstdio>
#include <cstdlib>

#include "accuracy/frame_cases.h"
#include "locate/bullseye_finder.h"
#include "locate/bullseye_geometry.h"
#include "locate/symbol_sampler.h"
#include "quarrow/quarrow.hpp"

using namespace AztecCore::Locate;

int main(int argc, char** argv) {
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
