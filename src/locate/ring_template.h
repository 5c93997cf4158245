// A matched filter over a bull's-eye's rings, for the symbols the finder's
// runs cannot confirm: small modules blurred by most of a module, where
// the rings keep a few per cent of their contrast and sensor noise breaks
// every run. Summed over the whole bull's-eye, that contrast still stands
// well above the noise. Round a finder hit (which such rings leave a module
// or two off, with two to three times the module), a template of square rings
// (dark at even distances from the centre module, light at odd ones, out
// to the fourth ring, which compact and full-range bull's-eyes share) is
// turned to the rings' angle and laid over the frame at a few module sizes
// and places; its normalised correlation with the frame says how well
// rings fit there, and its sign which polarity.
#pragma once

#include <optional>

#include "locate/bullseye_finder.h"
#include "locate/grey_view.h"
#include "locate/work_budget.h"

namespace AztecCore::Locate {

struct RingMatch {
    FinderHit hit;       // where the rings fit best: centre, module, polarity
    double score = 0.0;  // the template's correlation there, 0 .. 1
};

// A match scoring below this is too weak to be read as rings.
inline constexpr double kMinRingScore = 0.35;

// The best place and module size for rings within 1.5 of the hit's modules
// of it, of modules 0.37 to 1 times the hit's (and at least 1.8 pixels);
// nothing when no place fits at all. A best match short of kMinRingScore
// is looked for again round its place with the template turned to the
// diagonal. Charges what it samples to `budget`.
std::optional<RingMatch> matchRings(const GreyView& view, const FinderHit& hit, WorkBudget& budget);

}  // namespace AztecCore::Locate
