// The accuracy report: renders frames of every category of camera trouble,
// reads them through the public API and prints how many were read and how
// many read wrong. With --soak N it reads N frames that must never read
// wrong (damaged symbols, noise, text, lone bull's-eyes, look-alikes) and
// fails when one does; --blurred 1 blurs those frames by 0.45-1.0 module,
// and --noisy 1 then gives them noise of 3-12 grey levels; --glare 1 puts
// a highlight over them; --warped 1 warps them as paper that is not flat.
//
//   quarrow-accuracy [--frames N] [--seed S] [--only CATEGORY]
//                    [--soak N [--kind K] [--blurred 1 [--noisy 1]] [--glare 1] [--warped 1]]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "accuracy/frame_cases.h"

int main(int argc, char** argv) {
    int frames = 200, soak = 0, only = -1, kind = -1;
    quarrow_test::SoakStyle style;
    std::uint32_t seed = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--frames")) frames = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seed")) seed = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        else if (!std::strcmp(argv[i], "--soak")) soak = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--only")) only = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--kind")) kind = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--blurred")) style.blurred = std::atoi(argv[i + 1]) != 0;
        else if (!std::strcmp(argv[i], "--noisy")) style.noisy = std::atoi(argv[i + 1]) != 0;
        else if (!std::strcmp(argv[i], "--glare")) style.glare = std::atoi(argv[i + 1]) != 0;
        else if (!std::strcmp(argv[i], "--warped")) style.warped = std::atoi(argv[i + 1]) != 0;
    }
    using namespace quarrow_test;
    int wrong = 0;
    if (soak > 0) {
        std::printf("| soak frames%s%s%s%s | frames | reads | wrong |\n|---|---|---|---|\n", style.blurred ? ", blurred" : "",
                    style.blurred && style.noisy ? " and noisy" : "", style.glare ? ", under a highlight" : "",
                    style.warped ? ", warped" : "");
        const int per = kind >= 0 ? soak : (soak + kSoakKinds - 1) / kSoakKinds;
        for (int k = 0; k < kSoakKinds; ++k) {
            if (kind >= 0 && k != kind) continue;
            const Tally t = runSoak(k, per, seed, style);
            std::printf("| %s | %d | %d | %d |\n", soakKindName(k), t.frames, t.read, t.wrong);
            std::fflush(stdout);
            wrong += t.wrong;
        }
        return wrong == 0 ? 0 : 1;
    }
    std::printf("| category | frames | read | rate | wrong |\n|---|---|---|---|---|\n");
    std::vector<Category> categories(std::begin(kAllCategories), std::end(kAllCategories));
    categories.insert(categories.end(), std::begin(kDotCategories), std::end(kDotCategories));
    categories.insert(categories.end(), std::begin(kCurvedCategories), std::end(kCurvedCategories));
    categories.insert(categories.end(), std::begin(kGlareCategories), std::end(kGlareCategories));
    categories.insert(categories.end(), std::begin(kWarpedCategories), std::end(kWarpedCategories));
    categories.insert(categories.end(), std::begin(kSmallBlurredCategories), std::end(kSmallBlurredCategories));
    for (Category c : categories) {
        if (only >= 0 && static_cast<int>(c) != only) continue;
        // Every degree plain and mirrored is 720 frames, whatever --frames says.
        const int n = c == Category::Rotation ? 720 : frames;
        const Tally t = runCategory(c, n, seed);
        std::printf("| %s | %d | %d | %.1f %% | %d |", categoryName(c), t.frames, t.read, 100.0 * t.read / t.frames, t.wrong);
        if (c == Category::Clean) std::printf(" (%d read with corrections)", t.cleanCorrections);
        std::printf("\n");
        std::fflush(stdout);
        wrong += t.wrong;
    }
    return wrong == 0 ? 0 : 1;
}
