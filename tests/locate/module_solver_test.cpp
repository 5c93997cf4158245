// Module levels solved from every pixel: random modules, rendered blurred
// and noisy, solved through the exact transform from no estimate at all.
// A wrong share table, a gradient of the wrong sign or scale, or the grids
// shifted by a module against each other shows as modules misread.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "locate/grey_view.h"
#include "locate/module_solver.h"
#include "math/homography.h"
#include "support/frame_renderer.h"

namespace {

using AztecCore::Locate::KnownLevels;
using AztecCore::Locate::Sampler;
using AztecCore::Locate::solveModuleLevels;
using quarrow_test::RenderOptions;

constexpr int kSize = 23, kHalf = (kSize - 1) / 2, kLevels = kSize + 2;
constexpr int kDark = 30, kLight = 220;

struct Scene {
    quarrow_test::ModuleGrid grid;
    RenderOptions options;
    quarrow_test::Frame frame;
    Aztec::Math::Homography exact{};  // grid u along columns, v along rows
};

Scene render(double blur, double noise, std::uint32_t seed) {
    Scene s;
    s.grid.size = kSize;
    std::uint32_t state = seed;
    for (int r = 0; r < kSize; ++r) {
        s.grid.modules.emplace_back();
        for (int c = 0; c < kSize; ++c) {
            state = state * 1664525u + 1013904223u;
            s.grid.modules.back().push_back((state >> 16) & 1u);
        }
    }
    s.options.moduleSize = 4.0;
    s.options.rotationDeg = 17.0;
    s.options.blurSigma = blur * s.options.moduleSize;
    s.options.noiseSigma = noise;
    s.options.dark = kDark;
    s.options.light = kLight;
    s.options.seed = seed;
    s.frame = quarrow_test::renderSymbol(s.grid, s.options);
    s.exact = quarrow_test::gridTransform(s.options, kSize);
    return s;
}

// Modules of the grid whose level lies on the wrong side of the mid-level.
int misread(const Scene& s, const std::vector<double>& levels) {
    int wrong = 0;
    for (int x = 0; x < kSize; ++x)
        for (int y = 0; y < kSize; ++y) {
            const bool dark = levels[static_cast<std::size_t>((x + 1) * kLevels + y + 1)] < 0.5 * (kDark + kLight);
            wrong += dark != s.grid.at(y, x);
        }
    return wrong;
}

// Read at their centres against the mid-level, 45-60 of these modules
// misread at blur 0.6 and noise 8, and 110-127 at blur 0.8.
TEST(ModuleSolver, ReadsBlurredNoisyModules) {
    struct Case {
        double blur, noise;  // modules; grey levels
        int maxMisread;      // of 529 modules, over three seeds each
    };
    const Case cases[] = {{0.5, 0.0, 0}, {0.6, 8.0, 0}, {0.8, 0.0, 12}, {0.8, 8.0, 12}, {0.9, 12.0, 65}};
    const std::vector<double> start(static_cast<std::size_t>(kLevels * kLevels), 0.5 * (kDark + kLight));
    KnownLevels known;
    known.dark = kDark;
    known.light = kLight;
    for (const Case& c : cases)
        for (const std::uint32_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(testing::Message() << "blur " << c.blur << " noise " << c.noise << " seed " << seed);
            const Scene s = render(c.blur, c.noise, seed);
            const Sampler sampler({s.frame.pixels.data(), s.frame.width, s.frame.height, s.frame.width}, false);
            EXPECT_LE(misread(s, solveModuleLevels(sampler, s.exact, kSize, c.blur, known, start)), c.maxMisread);
        }
    // Held modules come back at their levels whatever the image says: the
    // centre module held light, its neighbour along u dark, both against
    // the grid.
    const Scene s = render(0.5, 0.0, 1);
    const Sampler sampler({s.frame.pixels.data(), s.frame.width, s.frame.height, s.frame.width}, false);
    const std::size_t centre = (kHalf + 1) * kLevels + kHalf + 1, next = centre + kLevels;
    const bool centreDark = s.grid.at(kHalf, kHalf), nextDark = s.grid.at(kHalf, kHalf + 1);
    (centreDark ? known.lightAt : known.darkAt).push_back(centre);
    (nextDark ? known.lightAt : known.darkAt).push_back(next);
    const auto solved = solveModuleLevels(sampler, s.exact, kSize, 0.5, known, start);
    EXPECT_DOUBLE_EQ(solved[centre], centreDark ? kLight : kDark);
    EXPECT_DOUBLE_EQ(solved[next], nextDark ? kLight : kDark);
}

}  // namespace
