#include "platform/module.h"

namespace quarrow::platform {

Module& Module::instance() {
    // Constant-initialised, so it exists before any static constructor runs.
    static constinit Module module;
    return module;
}

}  // namespace quarrow::platform
