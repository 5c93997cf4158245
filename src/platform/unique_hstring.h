// Owning wrapper of a string handle, and conversions to and from views.
// HStringChar and char16_t are both UTF-16 code units (on Windows the
// system's wchar_t), so the views are reinterpreted, never converted.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "quarrow/runtime.h"

namespace quarrow::platform {

// The code units of a handle with their full length (U+0000 included).
inline std::u16string_view stringView(HSTRING s) {
    std::uint32_t length = 0;
    const HStringChar* chars = WindowsGetStringRawBuffer(s, &length);
    return {reinterpret_cast<const char16_t*>(chars), length};
}

// Owns one handle and frees it on destruction; null is the empty string.
class UniqueHString {
public:
    UniqueHString() = default;
    explicit UniqueHString(HSTRING s) : handle_(s) {}
    ~UniqueHString() { WindowsDeleteString(handle_); }
    UniqueHString(UniqueHString&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHString& operator=(UniqueHString&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    UniqueHString(const UniqueHString&) = delete;
    UniqueHString& operator=(const UniqueHString&) = delete;

    HSTRING get() const { return handle_; }
    std::u16string_view view() const { return stringView(handle_); }
    // Frees the current handle and takes `s`.
    void reset(HSTRING s = nullptr) { WindowsDeleteString(std::exchange(handle_, s)); }
    // Frees the current handle and hands out the slot for an out parameter.
    HSTRING* put() {
        reset();
        return &handle_;
    }
    // Gives up ownership, e.g. to return the handle through an out parameter.
    HSTRING release() { return std::exchange(handle_, nullptr); }

private:
    HSTRING handle_ = nullptr;
};

// A new handle holding `text`; E_OUTOFMEMORY when memory runs out.
inline HRESULT makeHString(std::u16string_view text, UniqueHString& out) {
    if (text.size() > UINT32_MAX) return E_INVALIDARG;
    return WindowsCreateString(reinterpret_cast<const HStringChar*>(text.data()),
                               static_cast<std::uint32_t>(text.size()), out.put());
}

}  // namespace quarrow::platform
