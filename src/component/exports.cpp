// The two entry points of a component library; the linker's version script
// (exports.map) or, on Windows, the module definition (exports.def) keeps
// every other symbol inside.
#include "component/aztec_reader.h"
#include "component/deliverable.h"
#include "platform/activation_factory.h"
#include "platform/entry_point.h"
#include "platform/exception_translation.h"
#include "platform/module.h"
#include "platform/unique_hstring.h"

using namespace quarrow::platform;
using quarrow::component::AztecReader;

// A new factory for the reader class, with one reference for the caller;
// CLASS_E_CLASSNOTAVAILABLE and a null factory for any other class name.
QUARROW_ENTRY_POINT HRESULT QUARROW_STDCALL DllGetActivationFactory(
    HSTRING className, IActivationFactory** factory) {
    if (factory == nullptr) return E_POINTER;
    *factory = nullptr;
    if (stringView(className) != quarrow::component::kReaderClassName) return CLASS_E_CLASSNOTAVAILABLE;
    return guardedCall([&] {
        *factory = createObject<ActivationFactory<AztecReader>>(quarrow::component::kFactoryClassName);
        return S_OK;
    });
}

// S_OK when no reader or factory of this library is alive, else S_FALSE.
QUARROW_ENTRY_POINT HRESULT QUARROW_STDCALL DllCanUnloadNow() {
    return Module::instance().canUnload() ? S_OK : S_FALSE;
}
