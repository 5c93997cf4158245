// Loads a component library the way an application does (dlopen, the two
// entry points by name) and holds references to its objects.
#pragma once

#include <dlfcn.h>

#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "quarrow/runtime.h"

namespace quarrow_test {

using namespace quarrow::platform;

// Owns one reference to a runtime object.
template <class T>
class RefPtr {
public:
    RefPtr() = default;
    ~RefPtr() { reset(); }
    RefPtr(RefPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    RefPtr& operator=(RefPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    RefPtr(const RefPtr&) = delete;
    RefPtr& operator=(const RefPtr&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    void reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

// What the tests know about one deliverable.
struct Deliverable {
    std::string label;          // test name suffix
    std::string path;           // the .so
    std::u16string readerClass; // runtime class name of the reader
    std::u16string factoryClass;
    Guid readerIid;
    bool announcesCalls;        // writes "readAztecCamera" at each call
};

// Test parameters print as their label.
inline void PrintTo(const Deliverable& d, std::ostream* os) { *os << d.label; }

const Deliverable& windows10();
const Deliverable& windows81();
const Deliverable& wp81();

// dlopen on construction, dlclose on destruction.
class LoadedComponent {
public:
    explicit LoadedComponent(const std::string& path);
    ~LoadedComponent();
    LoadedComponent(const LoadedComponent&) = delete;
    LoadedComponent& operator=(const LoadedComponent&) = delete;

    bool loaded() const { return getFactory_ != nullptr && canUnloadNow_ != nullptr; }
    const std::string& error() const { return error_; }

    HRESULT getActivationFactory(std::u16string_view className, IActivationFactory** factory) const;
    HRESULT canUnloadNow() const { return canUnloadNow_(); }

private:
    void* handle_ = nullptr;
    DllGetActivationFactoryFn getFactory_ = nullptr;
    DllCanUnloadNowFn canUnloadNow_ = nullptr;
    std::string error_;
};

// The text of a handle that the caller received, freed afterwards.
std::u16string takeString(HSTRING s);

}  // namespace quarrow_test
