// The module object of a component library: it counts the library's live
// runtime objects so that the library can tell whether it may be unloaded.
// A weak reference counts too while it outlives its object: its code is
// the library's (see ObjectCounts).
#pragma once

#include <atomic>
#include <cstdint>

namespace quarrow::platform {

class Module {
public:
    // One per library: the platform code is linked into each component
    // (with hidden visibility on Linux; a DLL exports only what its .def
    // file lists), so every library gets its own instance.
    static Module& instance();

    void objectCreated() { liveObjects_.fetch_add(1, std::memory_order_relaxed); }
    void objectDestroyed() { liveObjects_.fetch_sub(1, std::memory_order_acq_rel); }
    std::int64_t liveObjects() const { return liveObjects_.load(std::memory_order_acquire); }
    bool canUnload() const { return liveObjects() == 0; }

private:
    Module() = default;
    std::atomic<std::int64_t> liveObjects_{0};
};

}  // namespace quarrow::platform
