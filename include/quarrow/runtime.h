// The binary interface of the Quarrow runtime components: result codes,
// the immutable UTF-16 string handle, the object interfaces, the reader's
// interface and the two entry points that each component library exports.
//
// On Windows these are the Windows Runtime's own types (HSTRING,
// IInspectable, IActivationFactory, ...), brought into quarrow::platform,
// and the string functions are the system's. An application activates
// "<Namespace>.AztecReader" (RoActivateInstance, or DllGetActivationFactory
// of QuarrowWindows10.dll, ...) and calls it through IAztecReader.
//
// On Linux the same interface is our stand-in: an application loads a
// component library (libQuarrowWindows10.so, ...) with dlopen, looks up the
// two entry points by name and uses them the same way. The string and task
// memory functions live in the shared library quarrow_runtime, which every
// component and application links.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)

#include <windows.h>
#include <objidl.h>
#include <inspectable.h>
#include <activation.h>
#include <winstring.h>
#if __has_include(<weakreference.h>)
#include <weakreference.h>
#define QUARROW_SYSTEM_WEAK_REFERENCE 1
#endif

// mingw-w64's winerror.h lacks this one.
#ifndef E_BOUNDS
#define E_BOUNDS _HRESULT_TYPEDEF_(0x8000000BL)
#endif

// The calling convention of interface methods and entry points (it matters
// on 32-bit x86 only).
#define QUARROW_STDCALL STDMETHODCALLTYPE

namespace quarrow::platform {

// The result codes (S_OK, E_POINTER, ...) are the system's macros.
using ::HRESULT;
using ::HSTRING;
using Guid = ::GUID;
using RefCount = ::ULONG;
using IidCount = ::ULONG;
using ::TrustLevel;
using ::IUnknown;
using ::IInspectable;
using ::IAgileObject;
using ::IActivationFactory;
using ::WindowsCreateString;
using ::WindowsDeleteString;
using ::WindowsGetStringRawBuffer;
using ::CoTaskMemAlloc;
using ::CoTaskMemFree;

// The code unit of the string functions: UTF-16 in both cases.
using HStringChar = wchar_t;

constexpr bool succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool failed(HRESULT hr) { return hr < 0; }

// Our own definitions of the system's identifiers: mingw-w64 declares some
// of them without a library that defines them.
inline constexpr Guid IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr Guid IID_IInspectable = {0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
inline constexpr Guid IID_IAgileObject = {0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};
inline constexpr Guid IID_IActivationFactory = {0x00000035, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

#if defined(QUARROW_SYSTEM_WEAK_REFERENCE)
using ::IWeakReference;
using ::IWeakReferenceSource;
#else
// The Windows SDK's weakreference.h, which mingw-w64 does not ship.
struct IWeakReference : IUnknown {
    virtual HRESULT QUARROW_STDCALL Resolve(const Guid& iid, IInspectable** object) = 0;
};
struct IWeakReferenceSource : IUnknown {
    virtual HRESULT QUARROW_STDCALL GetWeakReference(IWeakReference** reference) = 0;
};
#endif

}  // namespace quarrow::platform

#else  // the stand-in on Linux

#if defined(QUARROW_RUNTIME_BUILDING)
#define QUARROW_RUNTIME_API __attribute__((visibility("default")))
#else
#define QUARROW_RUNTIME_API
#endif

#define QUARROW_STDCALL

namespace quarrow::platform {

// ---- Result codes -------------------------------------------------------

// Negative values are failures. The numbers are those of Windows, so that a
// code read in a log means the same thing on both systems.
using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_BOUNDS = static_cast<HRESULT>(0x8000000Bu);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

constexpr bool succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool failed(HRESULT hr) { return hr < 0; }

// ---- String handle ------------------------------------------------------

// An immutable UTF-16 string with an explicit length; it may hold U+0000.
// The null handle is the empty string. A handle is owned by whoever created
// it (or received it as a result) and is freed with WindowsDeleteString.
struct HStringData;
using HSTRING = HStringData*;
using HStringChar = char16_t;

// Copies `length` code units from `source` into a new handle. A length of 0
// gives the null handle. E_INVALIDARG for a null `string`, E_POINTER for a
// null `source` with a non-zero length, E_OUTOFMEMORY when memory runs out.
QUARROW_RUNTIME_API HRESULT WindowsCreateString(const char16_t* source, std::uint32_t length,
                                                HSTRING* string) noexcept;
// Frees a handle; the null handle is accepted. Always S_OK.
QUARROW_RUNTIME_API HRESULT WindowsDeleteString(HSTRING string) noexcept;
// The code units of a handle, followed by a terminating U+0000 that is not
// counted; u"" for the null handle. `length`, when not null, receives the
// count. The buffer lives as long as the handle.
QUARROW_RUNTIME_API const char16_t* WindowsGetStringRawBuffer(HSTRING string,
                                                              std::uint32_t* length) noexcept;

// ---- Task memory --------------------------------------------------------

// Memory that one side allocates and the other frees (the identifier array
// of GetIids). Null when memory runs out; freeing null does nothing.
QUARROW_RUNTIME_API void* CoTaskMemAlloc(std::size_t size) noexcept;
QUARROW_RUNTIME_API void CoTaskMemFree(void* block) noexcept;

// ---- Object interfaces --------------------------------------------------

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

constexpr bool operator==(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.data4[i] != b.data4[i]) return false;
    }
    return true;
}

using RefCount = std::uint32_t;
using IidCount = std::uint32_t;

// The interface identifiers of Windows.
inline constexpr Guid IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr Guid IID_IInspectable = {0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
inline constexpr Guid IID_IAgileObject = {0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};
inline constexpr Guid IID_IActivationFactory = {0x00000035, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

enum class TrustLevel : std::int32_t { BaseTrust = 0, PartialTrust = 1, FullTrust = 2 };

// Interfaces are abstract classes whose vtables are the binary interface,
// slot for slot those of Windows. Objects are never deleted through them:
// Release() frees an object when its count drops to zero, hence the
// protected non-virtual destructors.
struct IUnknown {
    virtual HRESULT QueryInterface(const Guid& iid, void** object) = 0;
    virtual RefCount AddRef() = 0;
    virtual RefCount Release() = 0;

protected:
    ~IUnknown() = default;
};

// Every runtime object.
struct IInspectable : IUnknown {
    // The identifiers of the object's runtime interfaces (IUnknown and
    // IInspectable not among them), in a new array that the caller frees
    // with CoTaskMemFree.
    virtual HRESULT GetIids(IidCount* iidCount, Guid** iids) = 0;
    // A new handle that the caller frees.
    virtual HRESULT GetRuntimeClassName(HSTRING* className) = 0;
    virtual HRESULT GetTrustLevel(TrustLevel* level) = 0;

protected:
    ~IInspectable() = default;
};

// Marker: the object may be called from any thread. Same vtable as IUnknown.
struct IAgileObject : IUnknown {
protected:
    ~IAgileObject() = default;
};

struct IActivationFactory : IInspectable {
    // A new object with one reference, owned by the caller.
    virtual HRESULT ActivateInstance(IInspectable** instance) = 0;

protected:
    ~IActivationFactory() = default;
};

// A reference that does not keep its object alive.
struct IWeakReference : IUnknown {
    // While the object lives: S_OK and a new reference to its interface
    // `iid` (or that query's failure). Once it is gone: S_OK and null.
    virtual HRESULT Resolve(const Guid& iid, IInspectable** object) = 0;

protected:
    ~IWeakReference() = default;
};

struct IWeakReferenceSource : IUnknown {
    // A new weak reference to the object, owned by the caller.
    virtual HRESULT GetWeakReference(IWeakReference** reference) = 0;

protected:
    ~IWeakReferenceSource() = default;
};

}  // namespace quarrow::platform

#endif  // _WIN32

namespace quarrow::platform {

inline constexpr Guid IID_IWeakReference = {0x00000037, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr Guid IID_IWeakReferenceSource = {0x00000038, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The reader interface, one per component namespace (each namespace has its
// own generated interface; the metadata in src/component/idl/ fixes these).
inline constexpr Guid IID_IAztecReader_QuarrowWindows10 = {0x6A9C92C2, 0xB142, 0x4C37, {0xA0, 0x70, 0x2A, 0x76, 0xED, 0xB4, 0x26, 0x6D}};
inline constexpr Guid IID_IAztecReader_QuarrowWindows81 = {0x32B7C782, 0x858D, 0x47E2, {0xBC, 0x49, 0xEC, 0x52, 0x1A, 0x22, 0x2E, 0x3C}};
inline constexpr Guid IID_IAztecReader_QuarrowWP81 = {0xF7FAAE97, 0xEBD1, 0x4A76, {0x88, 0xBE, 0x64, 0x44, 0x14, 0x36, 0x28, 0xB5}};

// The reader (__IAztecReaderPublicNonVirtuals). `frame` is an 8-bit grey
// image of `frameLength` bytes, rows of exactly `width` bytes from the top.
// `*result` receives the decoded text, one code unit per byte, or the null
// handle when nothing was read; the caller frees it. On a failing result
// code `*result` is null.
struct IAztecReader : IInspectable {
    virtual HRESULT QUARROW_STDCALL readAztecCamera(std::uint32_t frameLength, const std::uint8_t* frame,
                                                    std::int32_t width, std::int32_t height,
                                                    HSTRING* result) = 0;

protected:
    ~IAztecReader() = default;
};

// ---- Component library entry points -------------------------------------

// The names to look up (dlsym, GetProcAddress), and their types.
inline constexpr const char* kGetActivationFactoryExport = "DllGetActivationFactory";
inline constexpr const char* kCanUnloadNowExport = "DllCanUnloadNow";
// CLASS_E_CLASSNOTAVAILABLE and a null factory for an unknown class name.
using DllGetActivationFactoryFn = HRESULT(QUARROW_STDCALL*)(HSTRING className, IActivationFactory** factory);
// S_OK when no object of the library is alive any more, S_FALSE otherwise.
using DllCanUnloadNowFn = HRESULT(QUARROW_STDCALL*)();

}  // namespace quarrow::platform
