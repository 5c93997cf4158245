// The work one whole-frame search may spend, counted in grey-level
// samples. The search's fits and samplings are bounded one by one, but a
// frame may hold many hits that each pass a few of them (damage, heavy
// blur, patterns that resemble rings); one budget per frame, grown with
// its pixels, bounds the frame's cost whatever it holds. Counting samples
// rather than time keeps every answer the same on any machine and load.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace AztecCore::Locate {

class WorkBudget {
public:
    explicit WorkBudget(std::int64_t samples) : left_(samples) {}
    void charge(std::int64_t samples) { left_ -= samples; }
    bool spent() const { return left_ <= 0; }
    // Adds samples held back until now for a later stage.
    void grant(std::int64_t samples) { left_ += samples; }

    // The costliest fallbacks run a bounded number of times per place: a
    // symbol found by many hits, scales and fits pays for each at most
    // that often. Curved grids run twice (a second fit now and then reads
    // where the first did not), warped grids once (their mesh costs more,
    // and a second fit seldom tracks it better). Fits whose centres lie
    // within kSamePlaceModules of each other are of one symbol. True when
    // fewer earlier claims of the same fallback lie that near (x, y), a fit
    // of `module` pixels, and the place is claimed once more.
    enum class Fallback { Curved, Warped };
    static constexpr int kCurvedClaimsPerPlace = 2;
    static constexpr int kWarpedClaimsPerPlace = 1;
    static constexpr double kSamePlaceModules = 2.0;
    bool claim(double x, double y, double module, Fallback which) {
        const double reach = kSamePlaceModules * module;
        int near = 0;
        for (const Claim& c : claimed_)
            if (c.which == which && std::hypot(c.x - x, c.y - y) < reach) ++near;
        if (near >= (which == Fallback::Curved ? kCurvedClaimsPerPlace : kWarpedClaimsPerPlace)) return false;
        claimed_.push_back({x, y, which});
        return true;
    }

private:
    std::int64_t left_;
    struct Claim {
        double x, y;
        Fallback which;
    };
    std::vector<Claim> claimed_;
};

}  // namespace AztecCore::Locate
