// The activation factory of one runtime class: ActivateInstance makes a new
// `Product` with one reference for the caller.
#pragma once

#include <string_view>

#include "platform/exception_translation.h"
#include "platform/runtime_object.h"

namespace quarrow::platform {

// `Product` derives from InspectableObject and has a default constructor.
template <class Product>
class ActivationFactory final : public InspectableObject<IActivationFactory> {
public:
    // `factoryClassName` must outlive the factory (a string literal).
    explicit ActivationFactory(std::u16string_view factoryClassName)
        : InspectableObject(IID_IActivationFactory, factoryClassName) {}

    HRESULT QUARROW_STDCALL ActivateInstance(IInspectable** instance) override {
        if (instance == nullptr) return E_POINTER;
        *instance = nullptr;
        return guardedCall([&] {
            *instance = createObject<Product>();
            return S_OK;
        });
    }

private:
    ~ActivationFactory() override = default;
};

}  // namespace quarrow::platform
