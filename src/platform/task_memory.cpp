// Task memory: blocks handed across a library boundary (the identifier
// array of GetIids), allocated on one side and freed on the other. Both
// sides call these functions of the one shared runtime library.
#include "quarrow/runtime.h"

#include <cstdlib>

namespace quarrow::platform {

void* CoTaskMemAlloc(std::size_t size) noexcept { return std::malloc(size); }

void CoTaskMemFree(void* block) noexcept { std::free(block); }

}  // namespace quarrow::platform
