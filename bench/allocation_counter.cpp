#include "allocation_counter.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {

// Per thread, so that the threaded rows do not mix their counts. Sizes are
// the allocator's usable sizes, taken alike at allocation and release.
thread_local std::uint64_t tAllocations = 0;
thread_local std::size_t tLive = 0;
thread_local std::size_t tPeak = 0;

void* allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    ++tAllocations;
    tLive += malloc_usable_size(p);
    if (tLive > tPeak) tPeak = tLive;
    return p;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    const std::size_t size = malloc_usable_size(p);
    // A block allocated on another thread may be freed here.
    tLive = tLive >= size ? tLive - size : 0;
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

namespace quarrow_bench {

AllocationScope::AllocationScope() : startAllocations_(tAllocations), startLive_(tLive) { tPeak = tLive; }

std::uint64_t AllocationScope::allocations() const { return tAllocations - startAllocations_; }

std::size_t AllocationScope::peakGrowth() const { return tPeak - startLive_; }

}  // namespace quarrow_bench
