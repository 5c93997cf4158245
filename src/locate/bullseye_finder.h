// The whole-frame finder: one pass over every other row of a frame looks
// for the signature of an Aztec bull's-eye, nine runs of alternating dark
// and light of about one module each across its centre (a compact
// bull's-eye shows exactly these nine; a full-range one shows thirteen, of
// which the middle nine look the same). Under blur the lone centre module
// fades first and its run merges with its two neighbours into one run of
// three modules: seven runs, the middle one three times as wide, are the
// same signature.
//
// Rows are binarised against their own running mean over a couple of
// modules. Across the rings the profile is antisymmetric about every edge,
// so a window centred on an edge averages to exactly the mid-level and the
// edges stay where they are however much blur has flattened the rings.
// Uneven light does not matter, and both polarities are found in the same
// pass: a dark middle run is a dark-on-light symbol, a light one a
// light-on-dark symbol. Row hits are clustered, cross-checked along the
// column and both diagonals, and ranked by distance from the frame centre.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "locate/grey_view.h"

namespace AztecCore::Locate {

struct FinderHit {
    double x = 0.0;       // centre of the bull's-eye, pixels
    double y = 0.0;
    double module = 0.0;  // module size seen along the row, pixels
    bool lightOnDark = false;
    int rows = 0;         // scanned rows that showed the signature
    bool likely = false;  // passed the frame search's ring check (candidate_check.h)
    // Failed it, but lies next to a hit that passed, and is tried just
    // before that one.
    bool nearLikely = false;
    // Its diagonals showed only the bull's-eye's middle runs (see
    // BullseyeFinder::find): kept only as the hit nearest the frame centre.
    bool middleOnly = false;
};

struct FinderOptions {
    bool darkOnLight = true;
    bool lightOnDark = true;
    // At most this many candidates are returned, the ones nearest to the
    // frame centre; bounds the work that a busy frame can cause.
    std::size_t maxCandidates = 24;
    // A pixel changes class only this many grey levels (of the [1 2 1]
    // smoothed row) past the running mean, so that sensor noise round the
    // mean does not break runs into slivers. Noisy frames need more.
    double hysteresis = 1.5;
    // The row pass uses AVX2 where the processor has it; off, the baseline
    // instructions (the same hits: tests compare the two).
    bool wideVectors = true;
    // A later pass's hysteresis: this pass also finds the flips (where a
    // pixel turns dark or light) at that hysteresis, from the same window
    // sums, and keeps them; the later pass of the same finder reads them
    // rather than finding them again. 0: none.
    double keepFlipsFor = 0.0;
};

// Which blocks of a frame are flat (no edges worth following), found once
// per frame and shared by every pass over it.
class FlatMap;

// The finder over one frame: what does not depend on the options is found
// once, so that further passes with other options (the frame search's
// noise round) cost only their own rows. The frame must outlive it.
// `noise` is the frame's sensor noise (estimateNoise), whose span over a
// flat stretch leaves it flat.
class BullseyeFinder {
public:
    explicit BullseyeFinder(const GreyView& view, double noise = 0.0);
    ~BullseyeFinder();
    BullseyeFinder(BullseyeFinder&&) noexcept = default;
    BullseyeFinder& operator=(BullseyeFinder&&) noexcept = default;

    std::vector<FinderHit> find(const FinderOptions& options) const;

private:
    GreyView view_;
    std::unique_ptr<const FlatMap> flat_;  // none when the frame is too small to search
    // Flips a pass kept for a later one (FinderOptions::keepFlipsFor), for
    // the scaled hysteresis `scaled`, rows of `words` words.
    struct KeptFlips {
        int scaled = -1;
        std::size_t words = 0;
        std::vector<std::uint64_t> bits;
    };
    mutable KeptFlips kept_;
};

std::vector<FinderHit> findBullseyes(const GreyView& view, const FinderOptions& options, double noise = 0.0);

// Orders hits by their distance from (x, y), nearest first; equally near
// ones keep their order.
void sortNearestFirst(std::vector<FinderHit>& hits, double x, double y);

// The frame's sensor noise (standard deviation, grey levels), from the
// median size of the second differences along a sample of rows: on smooth
// stretches, which most of a frame is, they are noise alone.
double estimateNoise(const GreyView& view);

}  // namespace AztecCore::Locate
