// PNG through libpng's simplified interface: read as 8-bit RGB (transparent
// pixels composited onto white paper) and reduced to grey here, so that the
// luma weights are the same as for every other colour input.
#include <png.h>

#include <algorithm>
#include <cstring>

#include "image_io.h"

namespace quarrow::io {

namespace {
constexpr std::uint8_t kPaper = 0xFF;
constexpr int kRgbBytes = 3;

// A PNG is an 8-byte signature and chunks: a 4-byte big-endian length, a
// 4-byte type, the data and a 4-byte CRC. IHDR comes first; its data holds
// width, height (4 bytes each), bit depth and colour type. The pixels are
// the zlib stream split over the IDAT chunks.
constexpr std::size_t kSignatureBytes = 8;
constexpr std::size_t kChunkOverhead = 12;
constexpr std::size_t kBitDepthAt = kSignatureBytes + 8 + 8;
constexpr std::size_t kColourTypeAt = kBitDepthAt + 1;
// Deflate never expands more than 1032 to 1: a 258-byte match costs at
// least one bit for its length code and one for its distance code.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Bytes of compressed pixel data present in the file: the IDAT chunk
// lengths, each cut to what the file really holds.
std::uint64_t compressedBytes(std::span<const std::uint8_t> data) {
    std::uint64_t total = 0;
    for (std::size_t pos = kSignatureBytes; pos + 8 <= data.size();) {
        const std::uint64_t length = bigEndian32(data.data() + pos);
        const bool idat = std::memcmp(data.data() + pos + 4, "IDAT", 4) == 0;
        const std::uint64_t present = std::min<std::uint64_t>(length, data.size() - pos - 8);
        if (idat) total += present;
        if (present < length) break;
        pos += static_cast<std::size_t>(length) + kChunkOverhead;
    }
    return total;
}

// Fewest bits per pixel that the colour type and bit depth store.
std::uint64_t bitsPerPixel(std::span<const std::uint8_t> data) {
    const std::uint64_t depth = data[kBitDepthAt];
    switch (data[kColourTypeAt]) {
        case 2: return 3 * depth;  // RGB
        case 4: return 2 * depth;  // grey and alpha
        case 6: return 4 * depth;  // RGBA
        default: return depth;     // grey, palette
    }
}
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
    // The filtered rows hold at least w * h * bits / 8 bytes (interlaced or
    // not), which the compressed data must be able to expand to; otherwise
    // a file of a few dozen bytes could make us allocate and fill 800 MB.
    // libpng has accepted the signature and IHDR, so their bytes are there.
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) * bitsPerPixel(data) / 8;
    const std::uint64_t compressed = compressedBytes(data);
    if (rowBytes > compressed * kMaxDeflateRatio) {
        detail = "PNG data of " + std::to_string(compressed) + " bytes cannot hold a " + std::to_string(w) + " x " +
                 std::to_string(h) + " image";
        png_image_free(&image);
        return IoError::Truncated;
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
