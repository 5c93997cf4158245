// Turns an exception that reaches a method's binary interface into a
// failing result code, so that no exception crosses a library boundary.
#pragma once

#include "quarrow/runtime.h"

namespace quarrow::platform {

// Call only inside a catch block. std::bad_alloc -> E_OUTOFMEMORY,
// std::out_of_range -> E_BOUNDS, std::invalid_argument -> E_INVALIDARG,
// anything else (also types not derived publicly from std::exception)
// -> E_FAIL.
HRESULT translateCurrentException() noexcept;

// Runs `body` (which answers an HRESULT) and translates what it throws.
template <class Body>
HRESULT guardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return translateCurrentException();
    }
}

}  // namespace quarrow::platform
