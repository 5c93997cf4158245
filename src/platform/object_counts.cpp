#include "platform/object_counts.h"

#include "platform/module.h"

namespace quarrow::platform {

ObjectCounts::ObjectCounts(IInspectable* object) : object_(object) { Module::instance().objectCreated(); }

// The module counts blocks rather than objects: a block outlives its object
// while weak references to it are held, and its code is the library's too.
ObjectCounts::~ObjectCounts() { Module::instance().objectDestroyed(); }

HRESULT ObjectCounts::QueryInterface(const Guid& iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IUnknown || iid == IID_IWeakReference)) return E_NOINTERFACE;
    *object = static_cast<IWeakReference*>(this);
    AddRef();
    return S_OK;
}

RefCount ObjectCounts::AddRef() { return blockRefs_.fetch_add(1, std::memory_order_relaxed) + 1; }

RefCount ObjectCounts::Release() {
    const RefCount remaining = blockRefs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    // The object and every weak reference are gone.
    if (remaining == 0) delete this;
    return remaining;
}

HRESULT ObjectCounts::Resolve(const Guid& iid, IInspectable** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    // Take a strong reference unless the count already reached zero: from
    // zero the object is being destroyed and must stay so.
    RefCount strong = strong_.load(std::memory_order_relaxed);
    do {
        if (strong == 0) return S_OK;
    } while (!strong_.compare_exchange_weak(strong, strong + 1, std::memory_order_acquire,
                                            std::memory_order_relaxed));
    const HRESULT hr = object_->QueryInterface(iid, reinterpret_cast<void**>(object));
    object_->Release();
    return hr;
}

}  // namespace quarrow::platform
