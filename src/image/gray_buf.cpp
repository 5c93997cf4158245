#include "image/gray_buf.h"

#include <algorithm>
#include <cstring>

namespace AztecCore::Image {

GrayBuf::GrayBuf() { plane.stride = 1; }

GrayBuf::GrayBuf(const std::uint8_t* frame, std::int32_t width, std::int32_t height) {
    plane.stride = 0;
    if (width <= 0 || height <= 0) return;
    resize(width, height);
    // Rows are contiguous and stride == width after resize, so the copy is
    // one block: the same bytes the per-pixel set() loop would store.
    std::memcpy(plane.pixels.data(), frame,
                static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
}

GrayBuf::GrayBuf(const GrayBuf& other)
    : width_(other.width_), height_(other.height_) {
    plane.pixels = other.plane.pixels;
    plane.stride = other.plane.stride;
    plane.rowStart = 0;
}

GrayBuf& GrayBuf::operator=(const GrayBuf& other) {
    if (this != &other) {
        GrayBuf copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void GrayBuf::resize(std::int32_t w, std::int32_t h) {
    if (w == width_ && h == height_) return;
    const std::int64_t area = static_cast<std::int64_t>(w) * h;
    if (area > static_cast<std::int64_t>(plane.pixels.size())) {
        // A fresh vector rather than resize(): same result, and it sidesteps
        // a false -Warray-bounds of GCC 12 on the inlined grow path.
        std::vector<std::uint8_t> grown(static_cast<std::size_t>(area), 0);
        std::copy(plane.pixels.begin(), plane.pixels.end(), grown.begin());
        plane.pixels.swap(grown);
    }
    plane.stride = w;
    width_ = w;
    height_ = h;
}

void GrayBuf::set(std::int32_t x, std::int32_t y, std::uint8_t value) {
    if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
    plane.pixels.at(plane.index(x, y)) = value;
}

}  // namespace AztecCore::Image
