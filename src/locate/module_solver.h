// A blurred symbol's module levels solved from every pixel it covers.
//
// Sampling each module round its centre uses a few of the dozen or more
// pixels a module covers, and under heavy blur the rest carry as much of
// its level. Here each module is taken as a square of one level, blurred
// by a Gaussian of sigma modules, so that its share of the image at grid
// point (u, v) is G(u - a) G(v - b) for the module at (a, b), G a
// difference of two error functions. The image is sampled on a fine grid
// over the symbol, and the modules' darkness V (0 light, 1 dark) is the
// least-squares fit of those shares to the samples' darkness D:
// minimising |T V T' - D|^2, T the table of shares along one axis, the
// fit solves H V H = T' D T with H = T'T. The values are held within
// [0, 1] (modules are two-valued, and the bound keeps the noise from
// swamping the finest detail) and known modules at their values, by
// accelerated projected gradient from a first estimate.
#pragma once

#include <cstddef>
#include <vector>

#include "locate/grey_view.h"
#include "math/homography.h"

namespace AztecCore::Locate {

// What a symbol fixes of an n x n grid of its module levels round its
// centre (n odd, entry (u + c) * n + (v + c) for c = (n - 1) / 2): the
// entries of its known dark and light modules, and the levels those have
// without blur.
struct KnownLevels {
    std::vector<std::size_t> darkAt, lightAt;
    double dark = 0.0, light = 255.0;
};

// The levels of a symbol of m modules a side and of one module round it
// ((m + 2)^2 entries, entry (x + 1) * (m + 2) + (y + 1) for grid
// u = x - (m - 1) / 2, v = y - (m - 1) / 2), seen through `toImage` under
// a blur of `sigma` modules, between known.dark and known.light. `start`
// (the same layout) is where the solution starts; known's modules are
// held (entries beyond the grid are ignored).
std::vector<double> solveModuleLevels(const Sampler& sampler, const Aztec::Math::Homography& toImage, int m,
                                      double sigma, const KnownLevels& known, const std::vector<double>& start);

}  // namespace AztecCore::Locate
