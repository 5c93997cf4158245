// Marks the two entry points of a component library. Nothing else leaves
// the library: on Linux the linker's version script keeps every other
// symbol local, on Windows the module definition (.def) file lists the
// exports by name.
#pragma once

#include "quarrow/runtime.h"

#if defined(_WIN32)
#define QUARROW_ENTRY_POINT extern "C"
#else
#define QUARROW_ENTRY_POINT extern "C" __attribute__((visibility("default")))
#endif
