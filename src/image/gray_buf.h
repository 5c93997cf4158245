// The one image type of the reader: 8-bit grey levels, one byte per pixel.
#pragma once

#include <cstdint>
#include <vector>

namespace AztecCore::Image {

// The pixel store of a GrayBuf. Pixel (x, y) lives at stride * y + x. Reads
// are checked only against the size of the store, so an x past the width
// that stays inside the store reads a pixel of a later row; an index
// outside the store throws std::out_of_range.
class Plane {
public:
    Plane() : pixels(1, 0) {}

    std::uint8_t get(std::int32_t x, std::int32_t y) const {
        return pixels.at(index(x, y));
    }
    void selectRow(std::int32_t y) { rowStart = static_cast<std::int64_t>(stride) * y; }
    // Pixel x of the row chosen with selectRow, range-checked like get().
    std::uint8_t& rowPixel(std::int32_t x) { return pixels.at(checkedIndex(rowStart + x)); }
    std::uint8_t rowPixel(std::int32_t x) const { return pixels.at(checkedIndex(rowStart + x)); }

    std::vector<std::uint8_t> pixels;
    std::int32_t stride = 0;
    std::int64_t rowStart = 0;

private:
    friend class GrayBuf;
    std::size_t index(std::int32_t x, std::int32_t y) const {
        return checkedIndex(static_cast<std::int64_t>(stride) * y + x);
    }
    // Negative indices become huge unsigned values, which at() rejects.
    static std::size_t checkedIndex(std::int64_t i) { return static_cast<std::size_t>(i); }
};

class GrayBuf {
public:
    // 0 x 0 with a single zero pixel byte.
    GrayBuf();
    // Copies the first width * height bytes of a row-major frame whose rows
    // are exactly `width` bytes long. A width or height of zero or less
    // copies nothing. The caller guarantees that many bytes exist.
    GrayBuf(const std::uint8_t* frame, std::int32_t width, std::int32_t height);
    GrayBuf(const GrayBuf& other);
    GrayBuf& operator=(const GrayBuf& other);
    GrayBuf(GrayBuf&&) noexcept = default;
    GrayBuf& operator=(GrayBuf&&) noexcept = default;

    // Changes the size. The store only grows (new bytes 0); existing bytes
    // keep their indices and nothing is cleared.
    void resize(std::int32_t w, std::int32_t h);
    // Writes a pixel inside the image; coordinates outside are ignored.
    void set(std::int32_t x, std::int32_t y, std::uint8_t value);

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }

    Plane plane;

private:
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
};

}  // namespace AztecCore::Image
