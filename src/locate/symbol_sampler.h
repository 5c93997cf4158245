// From a fitted bull's-eye to decoded data. The blur of the frame is
// measured on the bull's-eye, whose modules are known. The mode ring is
// sampled and offered to the mode-message decoder at a few thresholds
// between the bull's-eye's dark and light levels, as sampled and with the
// measured blur undone (freely, and within the levels a module can have).
// Then every module of the symbol is sampled over a small area round its
// centre (full-range symbols through their reference grid) and classified
// against the mean of its neighbourhood. A bounded list of attempts
// follows one another until the codewords correct: the blur undone (as
// measured, a little less, a little more), the levels as sampled or
// sharpened against their neighbours, the bull's-eye's mid-level as
// threshold, the transform refitted to the whole symbol as classified, and
// moved by a fraction of a module. Heavy blur gets more: the blur undone
// within the levels' bounds, and the transform refitted from a middle part
// of the symbol that grows outwards. Reed-Solomon checks every attempt, so
// a retry can only find the right data or nothing. When no flat transform
// reads the symbol, grids bent round a cylinder are tried last
// (curved_grid.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "common/symbol_candidate.h"
#include "decode/data_codewords.h"
#include "locate/bullseye_geometry.h"
#include "locate/grey_view.h"

namespace AztecCore::Locate {

struct SymbolRead {
    SymbolCandidate candidate;  // kind, orientation, layers, words; centre and bull's-eye corners
    Aztec::DecodedData data;
    Aztec::Math::Homography toImage{};  // symbol grid to image pixels
    // The symbol's outer corners (grid (-s, -s), (s, -s), (s, s), (-s, s),
    // s half the size) when toImage places only its centre well: a curved
    // grid's.
    std::optional<std::array<Point2d, 4>> outline;
};

// How the camera renders modules, measured on the bull's-eye, whose
// modules are known: the blur (Gaussian sigma, in modules) and the grey
// levels a dark and a light module would have without it. Blur mixes each
// module's level with its neighbours'; knowing how much lets the sampler
// undo it.
struct ModuleModel {
    double sigma = 0.0;
    double dark = 0.0;
    double light = 255.0;
    // How far the bull's-eye's module levels spread about the model (RMS,
    // grey levels): sensor noise and compression errors as module samples
    // see them.
    double noise = 0.0;
};

ModuleModel measureModules(const Sampler& sampler, const BullseyeFit& fit);

// Reads the mode message round a fitted bull's-eye into `candidate` (type,
// rotation, mirrored, layers, dataWords and the size facts), and the ring's
// modules as read into `ring` (true for dark, clockwise from the corner
// module (-h, -h)). False when no threshold gives a mode message that
// corrects, nor, on fits blurred at most half a module, any reading of
// each module against the bull's-eye's rings inside it (light changing
// across the ring), erasures of its least certain words included; a ring
// read with erasures is not handed back in `ring`.
bool readModeRing(const Sampler& sampler, const BullseyeFit& fit, const ModuleModel& model,
                  SymbolCandidate& candidate, Aztec::BitList* ring = nullptr);

// The last try for a heavily blurred bull's-eye (blur over 0.45 module)
// whose ring readModeRing did not read. Blurred rings are nearly round,
// and leave the fit's turn and scale uncertain by a few degrees and per
// cent: enough to put the ring's corners half a module off. The ring is
// looked for through the fit's transform turned and scaled a little each
// way, nearest first; the first that reads is the best start for the data
// too (better than the middle of all that read). `through` receives it.
// Runes are not read this way.
bool readTurnedModeRing(const Sampler& sampler, const BullseyeFit& fit, const ModuleModel& model,
                        SymbolCandidate& candidate, Aztec::BitList& ring, Aztec::Math::Homography& through);

// Each module's level is the mean of its centre and four points this far
// (modules) along its axes: enough to average sensor noise, little enough
// to stay off the neighbours. The fallback grids sample so too.
inline constexpr double kModuleSpread = 0.2;

// The points of a module's cross, as moves from its centre along the
// grid's axes (modules), in the order their levels are summed.
inline constexpr double kCrossMoves[5][2] = {
    {0.0, 0.0}, {-kModuleSpread, 0.0}, {kModuleSpread, 0.0}, {0.0, -kModuleSpread}, {0.0, kModuleSpread}};

// A module's level through `at`, which maps the module's centre moved by
// (du, dv) modules along the grid's axes into the image.
template <typename At>
double crossLevel(const Sampler& s, const At& at) {
    double sum = 0.0;
    for (const auto& move : kCrossMoves) {
        const Point2d p = at(move[0], move[1]);
        sum += s.at(p.x, p.y);
    }
    return sum / 5.0;
}

// The levels of a symbol of m modules and one module round it as
// decodeModuleLevels takes them, `level(u, v)` giving grid module (u, v)'s
// (five samples each, charged).
template <typename Level>
std::vector<double> symbolLevels(const Sampler& s, int m, const Level& level) {
    const int n = m + 2, half = (m - 1) / 2;
    std::vector<double> levels(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    s.charge(5 * static_cast<std::int64_t>(n) * n);
    for (int x = -1; x <= m; ++x)
        for (int y = -1; y <= m; ++y)
            levels[static_cast<std::size_t>((x + 1) * n + (y + 1))] = level(static_cast<double>(x - half), static_cast<double>(y - half));
    return levels;
}

// The fallback grids (curved_grid.h, warped_grid.h) decode many samplings
// of a symbol that no flat transform reads, and every bend, pass and
// classification is one more chance for damage to decode into other
// bytes: each decoding must be one that random words reach less than once
// in 10^8 (a few hundred decodings stay below once in 10^5, as the modern
// front ends demand of a single one).
inline constexpr double kFallbackMaxLog10Chance = -8.0;

// A fallback grid's read: the data, `plane` (which places the centre), and
// the outline where `map(u, v)` puts the symbol's outer corners.
template <typename Map>
SymbolRead fallbackRead(const SymbolCandidate& candidate, Aztec::DecodedData data, const Aztec::Math::Homography& plane,
                        const Map& map) {
    SymbolRead read;
    read.candidate = candidate;
    read.data = std::move(data);
    read.toImage = plane;
    const double e = candidate.size / 2.0;
    read.outline = std::array<Point2d, 4>{map(-e, -e), map(e, -e), map(e, e), map(-e, e)};
    return read;
}

// Blur (modules, as measureModules gives it) up to which a symbol counts
// as sharp: its levels are taken as sampled, not deblurred, and the
// whole-frame search first reads it through its rings' edges alone.
inline constexpr double kSharpBlur = 0.25;

// The symbol read through the fit as it stands, its levels deblurred for
// `blur` (modules) as readSymbolData deblurs them (a sharp full-range one
// also read through its reference grid's correction of the fit),
// classified once: taken only when no data word needs a correction, so
// that every check word confirms it. The cheap first read, before any
// refit. Nothing for runes.
std::optional<SymbolRead> readAsFitted(const Sampler& sampler, const BullseyeFit& fit, const SymbolCandidate& candidate,
                                       double blur);

// Samples and decodes the symbol whose mode message `candidate` holds.
// With the mode ring's modules it is first read by readAsFitted, then the
// transform is refined against the whole core, now known.
std::optional<SymbolRead> readSymbolData(const Sampler& sampler, const BullseyeFit& fit, const ModuleModel& model,
                                         const SymbolCandidate& candidate, const Aztec::BitList* ring = nullptr,
                                         bool curved = true);

// Module levels sampled round a symbol of candidate.size modules and one
// module beyond it ((size + 2)^2 of them, entry (x + 1) * (size + 2) +
// (y + 1) for grid u = x - (size - 1) / 2, v = y - (size - 1) / 2),
// classified the ways readSymbolData classifies its first sampling (`mid`
// the fixed threshold of the last) and decoded. Nothing when none corrects,
// nor when a block of random words would decode with as many corrections
// more often than 10^maxLog10Chance (a caller that tries many samplings
// asks for less).
std::optional<Aztec::DecodedData> decodeModuleLevels(const Sampler& sampler, const SymbolCandidate& candidate,
                                                     const std::vector<double>& levels, const ModuleModel& model,
                                                     double mid, double maxLog10Chance);


}  // namespace AztecCore::Locate
