// Base of every runtime object of a component: reference counting, weak
// references, interface queries, the runtime class name and trust level,
// and the live object count of the library's module.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/object_counts.h"
#include "platform/unique_hstring.h"
#include "quarrow/runtime.h"

namespace quarrow::platform {

// `Interface` is the object's own interface, derived from IInspectable. The
// object is agile (it may be called from any thread), hands out weak
// references, and answers the identifiers of IUnknown, IInspectable,
// IAgileObject, IWeakReferenceSource and `interfaceId`.
template <class Interface>
class InspectableObject : public Interface, public IAgileObject, public IWeakReferenceSource {
public:
    HRESULT QUARROW_STDCALL QueryInterface(const Guid& iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IInspectable || iid == interfaceId_) {
            *object = static_cast<Interface*>(this);
        } else if (iid == IID_IAgileObject) {
            *object = static_cast<IAgileObject*>(this);
        } else if (iid == IID_IWeakReferenceSource) {
            *object = static_cast<IWeakReferenceSource*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    RefCount QUARROW_STDCALL AddRef() override { return counts_->addStrong(); }

    RefCount QUARROW_STDCALL Release() override {
        const RefCount remaining = counts_->releaseStrong();
        // The only place where a runtime object is freed: the last strong
        // reference went away, and no caller may touch the object any more
        // (weak references no longer resolve).
        if (remaining == 0) delete this;
        return remaining;
    }

    // The object's own interface only: IUnknown and IInspectable are never
    // listed, and the agile and weak-reference interfaces are plumbing.
    HRESULT QUARROW_STDCALL GetIids(IidCount* iidCount, Guid** iids) override {
        if (iidCount == nullptr || iids == nullptr) return E_POINTER;
        *iidCount = 0;
        *iids = nullptr;
        auto* list = static_cast<Guid*>(CoTaskMemAlloc(sizeof(Guid)));
        if (list == nullptr) return E_OUTOFMEMORY;
        list[0] = interfaceId_;
        *iids = list;
        *iidCount = 1;
        return S_OK;
    }

    HRESULT QUARROW_STDCALL GetRuntimeClassName(HSTRING* className) override {
        if (className == nullptr) return E_POINTER;
        *className = nullptr;
        UniqueHString name;
        const HRESULT hr = makeHString(runtimeClassName_, name);
        if (succeeded(hr)) *className = name.release();
        return hr;
    }

    HRESULT QUARROW_STDCALL GetTrustLevel(TrustLevel* level) override {
        if (level == nullptr) return E_POINTER;
        *level = TrustLevel::BaseTrust;
        return S_OK;
    }

    HRESULT QUARROW_STDCALL GetWeakReference(IWeakReference** reference) override {
        if (reference == nullptr) return E_POINTER;
        counts_->AddRef();
        *reference = counts_;
        return S_OK;
    }

protected:
    // `runtimeClassName` must outlive the object (a string literal).
    InspectableObject(const Guid& interfaceId, std::u16string_view runtimeClassName)
        : counts_(new ObjectCounts(static_cast<Interface*>(this))),
          interfaceId_(interfaceId),
          runtimeClassName_(runtimeClassName) {}
    // Also runs when a derived constructor throws; the block then goes at
    // once, as no weak reference can exist yet.
    virtual ~InspectableObject() { counts_->Release(); }

    InspectableObject(const InspectableObject&) = delete;
    InspectableObject& operator=(const InspectableObject&) = delete;

private:
    ObjectCounts* const counts_;  // one block reference, held until destruction
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
