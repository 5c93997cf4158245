// Counts the heap allocations of the calling thread, by replacing the
// global operator new and delete for the whole benchmark program: how many
// allocations a read makes and how far its live heap bytes rise above where
// they started.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarrow_bench {

// One scope at a time per thread: constructing one restarts the peak.
class AllocationScope {
public:
    AllocationScope();
    std::uint64_t allocations() const;  // since construction, this thread
    std::size_t peakGrowth() const;     // highest live bytes above the start

private:
    std::uint64_t startAllocations_;
    std::size_t startLive_;
};

}  // namespace quarrow_bench
