// Symbols on paper that is not flat: a crumpled parcel label, a folded
// ticket, a label on a soft bag. No single transform, flat or bent round a
// cylinder, places every module; each part of the symbol is displaced from
// the flat transform by its own fraction of a module, smoothly across it.
// The warped grid models that as displacements (in modules, added to the
// grid position before the flat transform) at the nodes of a coarse mesh,
// interpolated bilinearly between them, and finds each node's displacement
// where the modules round it look sharpest: sampled on their centres,
// modules differ most from their neighbours. Sharpness repeats every
// module, so the nodes are tracked outwards from the bull's-eye, where the
// flat transform is right, each searched within half a module of what its
// inner neighbours predict. Reed-Solomon checks what the grid reads.
#pragma once

#include <optional>

#include "common/symbol_candidate.h"
#include "locate/grey_view.h"
#include "locate/symbol_sampler.h"
#include "math/homography.h"

namespace AztecCore::Locate {

// Reads the symbol of `candidate` through a warped grid round the flat
// transform `plane` (centre of the centre module at grid (0, 0)). Charged
// to the sampler's budget; nothing when the warp found does not correct.
std::optional<SymbolRead> readWarpedSymbol(const Sampler& sampler, const Aztec::Math::Homography& plane,
                                           const ModuleModel& model, const SymbolCandidate& candidate);

}  // namespace AztecCore::Locate
