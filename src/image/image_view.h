// A grey image the reader looks at without owning it: the caller's frame,
// or the pixels of a GrayBuf. Rows may be padded (stride >= width).
#pragma once

#include <cstddef>
#include <cstdint>

namespace AztecCore::Image {

struct ImageView {
    const std::uint8_t* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::ptrdiff_t stride = 0;

    bool empty() const { return width <= 0 || height <= 0 || pixels == nullptr; }
    bool contains(std::int32_t x, std::int32_t y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    // Row y, which the caller has checked lies in the image.
    const std::uint8_t* row(std::int32_t y) const { return pixels + stride * y; }
};

}  // namespace AztecCore::Image
