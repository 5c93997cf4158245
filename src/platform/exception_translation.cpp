#include "platform/exception_translation.h"

#include <new>
#include <stdexcept>

namespace quarrow::platform {

HRESULT translateCurrentException() noexcept {
    // Rethrowing the active exception is the portable way to learn its type.
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::out_of_range&) {
        return E_BOUNDS;
    } catch (const std::invalid_argument&) {
        return E_INVALIDARG;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace quarrow::platform
