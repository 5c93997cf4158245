#include "component/loaded_component.h"

#include "platform/unique_hstring.h"

namespace quarrow_test {

const Deliverable& windows10() {
    static const Deliverable d{"Windows10", QUARROW_WINDOWS10_PATH, u"QuarrowWindows10.AztecReader",
                               u"QuarrowWindows10.__AztecReaderActivationFactory",
                               IID_IAztecReader_QuarrowWindows10, false};
    return d;
}

const Deliverable& windows81() {
    static const Deliverable d{"Windows81", QUARROW_WINDOWS81_PATH, u"QuarrowWindows81.AztecReader",
                               u"QuarrowWindows81.__AztecReaderActivationFactory",
                               IID_IAztecReader_QuarrowWindows81, true};
    return d;
}

const Deliverable& wp81() {
    static const Deliverable d{"WP81", QUARROW_WP81_PATH, u"QuarrowWP81.AztecReader",
                               u"QuarrowWP81.__AztecReaderActivationFactory", IID_IAztecReader_QuarrowWP81, true};
    return d;
}

LoadedComponent::LoadedComponent(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error_ = dlerror();
        return;
    }
    getFactory_ = reinterpret_cast<DllGetActivationFactoryFn>(dlsym(handle_, kGetActivationFactoryExport));
    canUnloadNow_ = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle_, kCanUnloadNowExport));
    if (!loaded()) error_ = "entry points missing in " + path;
}

LoadedComponent::~LoadedComponent() {
    if (handle_ != nullptr) dlclose(handle_);
}

HRESULT LoadedComponent::getActivationFactory(std::u16string_view className, IActivationFactory** factory) const {
    quarrow::platform::UniqueHString name;
    const HRESULT hr = quarrow::platform::makeHString(className, name);
    if (failed(hr)) return hr;
    return getFactory_(name.get(), factory);
}

std::u16string takeString(HSTRING s) {
    quarrow::platform::UniqueHString owned(s);
    return std::u16string(owned.view());
}

}  // namespace quarrow_test
