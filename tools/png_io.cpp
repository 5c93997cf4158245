// PNG through libpng's simplified interface: read as 8-bit RGB (transparent
// pixels composited onto white paper) and reduced to grey here, so that the
// luma weights are the same as for every other colour input.
#include <png.h>

#include <cstring>

#include "image_io.h"

namespace quarrow::io {

namespace {
constexpr std::uint8_t kPaper = 0xFF;
constexpr int kRgbBytes = 3;
}  // namespace

IoError decodePng(std::span<const std::uint8_t> data, GreyFrame& out, std::string& detail) {
    out = {};
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) {
        detail = std::string("PNG header: ") + image.message;
        png_image_free(&image);
        return IoError::BadHeader;
    }
    const std::int64_t w = image.width, h = image.height;
    if (w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) {
        detail = "image size " + std::to_string(w) + " x " + std::to_string(h) + " is beyond the limit";
        png_image_free(&image);
        return IoError::TooLarge;
    }
    image.format = PNG_FORMAT_RGB;
    // White where the picture is transparent: the paper behind a symbol.
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w * h) * kRgbBytes, kPaper);
    const png_color background = {kPaper, kPaper, kPaper};
    if (!png_image_finish_read(&image, &background, rgb.data(), 0, nullptr)) {
        const std::string message = image.message;
        png_image_free(&image);
        // libpng names a short file "Read Error" or "Not enough image data".
        const bool short_data = message.find("Read Error") != std::string::npos ||
                                message.find("Not enough") != std::string::npos ||
                                message.find("end") != std::string::npos;
        detail = "PNG data: " + message;
        return short_data ? IoError::Truncated : IoError::Corrupt;
    }
    out.width = static_cast<std::int32_t>(w);
    out.height = static_cast<std::int32_t>(h);
    out.pixels.resize(static_cast<std::size_t>(w * h));
    for (std::size_t i = 0; i < out.pixels.size(); ++i)
        out.pixels[i] = luma(rgb[kRgbBytes * i], rgb[kRgbBytes * i + 1], rgb[kRgbBytes * i + 2]);
    return IoError::Ok;
}

IoError writePngRgb(const std::string& path, std::int32_t width, std::int32_t height,
                    const std::vector<std::uint8_t>& rgb, std::string& detail) {
    if (width <= 0 || height <= 0 ||
        rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kRgbBytes) {
        detail = "picture size does not match its pixels";
        return IoError::WriteFailed;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        detail = "cannot write " + path + ": " + image.message;
        png_image_free(&image);
        return IoError::WriteFailed;
    }
    return IoError::Ok;
}

}  // namespace quarrow::io
