// The whole-frame stage: finds bull's-eyes anywhere in the frame (on the
// frame itself, then on copies reduced two and four times: less noise and
// narrower blur, and close-ups whose modules outgrow the finder's window;
// last a halved copy in which dark dots have grown into their gaps, for
// symbols printed as dots), fits and reads each, nearest to the frame
// centre first, and returns the symbols whose data decoded. A later round
// looks again at the mode rings of heavily blurred fits that read nothing,
// through their transforms turned and scaled a little; the last looks for
// symbols of about two pixels a module in the frame's middle magnified
// twice.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "locate/bullseye_finder.h"
#include "locate/grey_view.h"
#include "locate/symbol_sampler.h"

namespace AztecCore::Locate {

using Quad = std::array<Point2d, 4>;

struct FoundSymbol {
    SymbolRead read;
    bool lightOnDark = false;
    // The symbol's outer corners, clockwise in the frame.
    Quad symbolCorners{};
};

struct FrameSearchOptions {
    bool darkOnLight = true;
    bool lightOnDark = true;
    // Every symbol in the frame, or stop at the first one read.
    bool all = false;
    // Symbols read already (by the centre search): bull's-eyes inside them
    // are not read again.
    std::vector<Quad> known;
    // Grey-level samples the fits and samplings may spend (work_budget.h);
    // 0: the frame's own, which grows with its pixels, times `effort`.
    std::int64_t budget = 0;
    double effort = 1.0;
    // The view's estimateNoise when the caller has it; negative: measured here.
    double noise = -1.0;
};

// Bull's-eyes tried per frame at most, over both scales.
inline constexpr int kMaxCandidatesTried = 24;

std::vector<FoundSymbol> searchFrame(const GreyView& view, const FrameSearchOptions& options);

// The finder's hits on the frame reduced `reduction` times (1, 2 or 4), in
// frame pixels and in the order the search tries them; none when the
// reduced copy would be too small.
std::vector<FinderHit> hitsAtScale(const GreyView& view, int reduction, const FinderOptions& options);

// The same with the hysteresis the search's noise round uses for a frame
// of the given noise (estimateNoise; never below 3 grey levels, for the
// coarse noise JPEG leaves); none when that is no more than the options'
// own.
std::vector<FinderHit> noisyHitsAtScale(const GreyView& view, int reduction, const FinderOptions& options,
                                        double noise);

// True when p lies inside the convex quadrilateral q (either winding).
bool insideQuad(const Quad& q, Point2d p);

}  // namespace AztecCore::Locate
