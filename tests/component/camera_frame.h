// Clean synthetic camera frames for end-to-end reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/zint_symbol.h"

namespace quarrow_test {

struct CameraFrame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;  // width * height bytes, row-major
};

// A white frame (grey 255) with nothing on it.
CameraFrame blankFrame(std::int32_t width, std::int32_t height);

// `grid` drawn dark (grey 0) on white, `modulePixels` pixels per module
// (nearest neighbour), centred; the frame must leave a quiet zone.
CameraFrame symbolFrame(const ModuleGrid& grid, std::int32_t width = 640, std::int32_t height = 480,
                        std::int32_t modulePixels = 4);

// Encodes `data` with zint (byte input, no conversion) and draws it; fails
// the calling test when zint refuses.
CameraFrame symbolFrame(const std::string& data);

}  // namespace quarrow_test
