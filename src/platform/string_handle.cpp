// The string handle: one heap block per non-empty string, never shared, so
// there is no reference count to keep.
#include "quarrow/runtime.h"

#include <memory>
#include <new>
#include <string>

namespace quarrow::platform {

// The definition behind the opaque HSTRING. std::u16string keeps a
// terminating U+0000 after its length, which the raw buffer promises.
struct HStringData {
    std::u16string text;
};

HRESULT WindowsCreateString(const char16_t* source, std::uint32_t length, HSTRING* string) noexcept {
    if (string == nullptr) return E_INVALIDARG;
    *string = nullptr;
    if (length == 0) return S_OK;
    if (source == nullptr) return E_POINTER;
    try {
        *string = std::make_unique<HStringData>(HStringData{std::u16string(source, length)}).release();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT WindowsDeleteString(HSTRING string) noexcept {
    // Takes the block back from the caller; the unique_ptr frees it.
    std::unique_ptr<HStringData> owned(string);
    return S_OK;
}

const char16_t* WindowsGetStringRawBuffer(HSTRING string, std::uint32_t* length) noexcept {
    if (string == nullptr) {
        if (length != nullptr) *length = 0;
        return u"";
    }
    // Creation takes a 32-bit length, so the size always fits.
    if (length != nullptr) *length = static_cast<std::uint32_t>(string->text.size());
    return string->text.c_str();
}

}  // namespace quarrow::platform
