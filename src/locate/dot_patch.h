// Symbols printed as dots (ink-jet, dot peen): each dark module is a round
// dot narrower than the pitch, so the bull's-eye's rings are rows of dots
// with light between them, and neither the ring edges nor the blurred ring
// model find anything continuous to fit. Smoothed at the scale of the
// dots, the rings are rings again. A smoothed copy of the neighbourhood
// of a finder hit, in which the bull's-eye can be fitted; the symbol is
// then sampled in the frame itself, where each module's centre lies on its
// dot.
#pragma once

#include <cstdint>
#include <vector>

#include "locate/bullseye_finder.h"
#include "locate/grey_view.h"
#include "math/homography.h"

namespace AztecCore::Locate {

struct SmoothedPatch {
    std::vector<std::uint8_t> pixels;
    GreyView view;  // over `pixels`
    int x0 = 0;     // frame position of the patch's top-left pixel
    int y0 = 0;
};

// The square round the hit that holds its bull's-eye and mode ring at any
// scale the bull's-eye fit tries, box-filtered twice over about 0.4 of the
// hit's module. Empty when the hit is too near the edge to leave a patch.
SmoothedPatch smoothedPatch(const GreyView& frame, const FinderHit& hit);

// A transform into patch pixels as one into frame pixels.
Aztec::Math::Homography toFrame(const Aztec::Math::Homography& inPatch, const SmoothedPatch& patch);

}  // namespace AztecCore::Locate
