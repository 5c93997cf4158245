// A quick look at a finder hit before the bull's-eye fit: along 16 rays
// from the hit's centre, do the four innermost ring edges (which compact
// and full-range bull's-eyes share) lie where evenly spaced square rings put
// them? A bull's-eye seen from its centre shows them on most rays at any
// angle, blurred or tilted; a stretch of data or clutter that happened to
// show the row and column signature rarely does. The look costs a few
// hundred samples against the fit's tens of thousands, so the frame search
// tries the hits that pass it first. It is a preference, not a verdict:
// a true bull's-eye whose hit lies a module off its centre fails it and is
// still tried, later.
#pragma once

#include "locate/bullseye_finder.h"
#include "locate/grey_view.h"

namespace AztecCore::Locate {

bool looksLikeBullseye(const GreyView& view, const FinderHit& hit);

// The number of the 16 rays whose edges lie as rings put them (for
// diagnosis).
int regularRays(const GreyView& view, const FinderHit& hit);

}  // namespace AztecCore::Locate
