// The reference counts of one runtime object, kept in a block of their own
// so that weak references can outlive the object. The block is also the
// object's weak reference: Resolve takes a strong reference only while the
// count is above zero, so it never revives an object that is going away.
#pragma once

#include <atomic>

#include "quarrow/runtime.h"

namespace quarrow::platform {

class ObjectCounts final : public IWeakReference {
public:
    // The block starts with one strong reference (the creator's) and one
    // reference of its own, held by the object until it is destroyed.
    // `object` is the object's inspectable interface; it is used only while
    // a strong reference is held. Counts as a live object of the module.
    explicit ObjectCounts(IInspectable* object);
    ObjectCounts(const ObjectCounts&) = delete;
    ObjectCounts& operator=(const ObjectCounts&) = delete;

    // The strong count after the change. The object frees itself when
    // releaseStrong answers 0.
    RefCount addStrong() { return strong_.fetch_add(1, std::memory_order_relaxed) + 1; }
    RefCount releaseStrong() { return strong_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

    // IUnknown of the weak reference: counts the block, not the object.
    HRESULT QUARROW_STDCALL QueryInterface(const Guid& iid, void** object) override;
    RefCount QUARROW_STDCALL AddRef() override;
    RefCount QUARROW_STDCALL Release() override;

    HRESULT QUARROW_STDCALL Resolve(const Guid& iid, IInspectable** object) override;

private:
    ~ObjectCounts();

    std::atomic<RefCount> strong_{1};
    std::atomic<RefCount> blockRefs_{1};
    IInspectable* const object_;
};

}  // namespace quarrow::platform
