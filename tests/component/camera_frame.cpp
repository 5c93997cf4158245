#include "component/camera_frame.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace quarrow_test {

CameraFrame blankFrame(std::int32_t width, std::int32_t height) {
    CameraFrame f;
    f.width = width;
    f.height = height;
    f.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 255);
    return f;
}

CameraFrame symbolFrame(const ModuleGrid& grid, std::int32_t width, std::int32_t height, std::int32_t modulePixels) {
    CameraFrame f = blankFrame(width, height);
    const std::int32_t side = grid.size * modulePixels;
    const std::int32_t left = (width - side) / 2;
    const std::int32_t top = (height - side) / 2;
    for (std::int32_t y = 0; y < side; ++y) {
        for (std::int32_t x = 0; x < side; ++x) {
            if (grid.at(y / modulePixels, x / modulePixels)) {
                f.pixels[static_cast<std::size_t>(top + y) * static_cast<std::size_t>(width) +
                         static_cast<std::size_t>(left + x)] = 0;
            }
        }
    }
    return f;
}

CameraFrame symbolFrame(const std::string& data) {
    ModuleGrid grid;
    std::string error;
    EXPECT_TRUE(encodeAztec(data, {}, grid, &error)) << error;
    // At 4 pixels per module a 640 x 480 frame keeps a quiet zone of several
    // modules for symbols up to about 100 modules.
    EXPECT_LE(grid.size * 4, 480 - 2 * 16);
    return symbolFrame(grid);
}

}  // namespace quarrow_test
