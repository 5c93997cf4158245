// The work one whole-frame search may spend, counted in grey-level
// samples. The search's fits and samplings are bounded one by one, but a
// frame may hold many hits that each pass a few of them (damage, heavy
// blur, patterns that resemble rings); one budget per frame, grown with
// its pixels, bounds the frame's cost whatever it holds. Counting samples
// rather than time keeps every answer the same on any machine and load.
#pragma once

#include <cstdint>

namespace AztecCore::Locate {

class WorkBudget {
public:
    explicit WorkBudget(std::int64_t samples) : left_(samples) {}
    void charge(std::int64_t samples) { left_ -= samples; }
    bool spent() const { return left_ <= 0; }

private:
    std::int64_t left_;
};

}  // namespace AztecCore::Locate
