// The work one whole-frame search may spend, counted in grey-level
// samples. The search's fits and samplings are bounded one by one, but a
// frame may hold many hits that each pass a few of them (damage, heavy
// blur, patterns that resemble rings); one budget per frame, grown with
// its pixels, bounds the frame's cost whatever it holds. Counting samples
// rather than time keeps every answer the same on any machine and load.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace AztecCore::Locate {

class WorkBudget {
public:
    explicit WorkBudget(std::int64_t samples) : left_(samples) {}
    void charge(std::int64_t samples) { left_ -= samples; }
    bool spent() const { return left_ <= 0; }
    // Adds samples held back until now for a later stage.
    void grant(std::int64_t samples) { left_ += samples; }

    // The costliest fallback (curved grids) runs at most kClaimsPerPlace
    // times per place: a symbol found by many hits, scales and fits pays
    // for it at most that often (a second fit now and then reads where
    // the first did not). True when fewer earlier claims lie within
    // `reach` pixels of (x, y), and the place is claimed once more.
    static constexpr int kClaimsPerPlace = 2;
    bool claim(double x, double y, double reach) {
        int near = 0;
        for (const auto& [cx, cy] : claimed_)
            if (std::hypot(cx - x, cy - y) < reach) ++near;
        if (near >= kClaimsPerPlace) return false;
        claimed_.emplace_back(x, y);
        return true;
    }

private:
    std::int64_t left_;
    std::vector<std::pair<double, double>> claimed_;
};

}  // namespace AztecCore::Locate
