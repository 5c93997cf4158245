// Base of every runtime object of a component: reference counting,
// interface queries, the runtime class name and trust level, and the live
// object count of the library's module.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/module.h"
#include "platform/unique_hstring.h"
#include "quarrow/runtime.h"

namespace quarrow::platform {

// `Interface` is the object's own interface, derived from IInspectable. The
// object is agile (it may be called from any thread) and answers the
// identifiers of IUnknown, IInspectable, IAgileObject and `interfaceId`.
template <class Interface>
class InspectableObject : public Interface, public IAgileObject {
public:
    HRESULT QueryInterface(const Guid& iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IInspectable || iid == interfaceId_) {
            *object = static_cast<Interface*>(this);
        } else if (iid == IID_IAgileObject) {
            *object = static_cast<IAgileObject*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    std::uint32_t AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

    std::uint32_t Release() override {
        const std::uint32_t remaining = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        // The only place where a runtime object is freed: the last reference
        // went away, and no caller may touch the object any more.
        if (remaining == 0) delete this;
        return remaining;
    }

    HRESULT GetRuntimeClassName(HSTRING* className) override {
        if (className == nullptr) return E_POINTER;
        *className = nullptr;
        UniqueHString name;
        const HRESULT hr = makeHString(runtimeClassName_, name);
        if (succeeded(hr)) *className = name.release();
        return hr;
    }

    HRESULT GetTrustLevel(TrustLevel* level) override {
        if (level == nullptr) return E_POINTER;
        *level = TrustLevel::BaseTrust;
        return S_OK;
    }

protected:
    // `runtimeClassName` must outlive the object (a string literal).
    InspectableObject(const Guid& interfaceId, std::u16string_view runtimeClassName)
        : interfaceId_(interfaceId), runtimeClassName_(runtimeClassName) {
        Module::instance().objectCreated();
    }
    virtual ~InspectableObject() { Module::instance().objectDestroyed(); }

    InspectableObject(const InspectableObject&) = delete;
    InspectableObject& operator=(const InspectableObject&) = delete;

private:
    std::atomic<std::uint32_t> refs_{1};
    const Guid interfaceId_;
    const std::u16string_view runtimeClassName_;
};

// A new `Object` (derived from InspectableObject) holding one reference,
// which the caller owns. Throws what the constructor throws (std::bad_alloc
// at least). Ownership goes to the reference count at once: Release() of
// the last reference frees the object.
template <class Object, class... Args>
Object* createObject(Args&&... args) {
    return new Object(std::forward<Args>(args)...);
}

}  // namespace quarrow::platform
