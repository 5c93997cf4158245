// JPEG through libjpeg(-turbo), decoded straight to grey: the luminance of a
// YCbCr JPEG is already 0.299 R + 0.587 G + 0.114 B. Errors leave the
// library by longjmp, so nothing with a destructor lives inside the guarded
// part.
// jpeglib.h needs size_t and FILE declared before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "image_io.h"

namespace quarrow::io {

namespace {

// libjpeg's working memory for one image, enough for progressive frames of
// the largest accepted size.
constexpr long kMaxJpegMemory = 1L << 30;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    bool truncated;
    char text[JMSG_LENGTH_MAX];
};

extern "C" void onJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->text);
    std::longjmp(err->jump, 1);
}

// Warnings are silent, except that an early end of data is remembered: the
// library would otherwise pad the image with grey and carry on.
extern "C" void onJpegMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) err->truncated = true;
}

}  // namespace

IoError decodeJpeg(std::span<const std::uint8_t> data, GreyFrame& out, std::string& detail) {
    out = {};
    // Everything that outlives a longjmp is set up before setjmp.
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    err.truncated = false;
    err.text[0] = '\0';
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = onJpegError;
    err.base.emit_message = onJpegMessage;
    std::vector<std::uint8_t> pixels;
    IoError result = IoError::Ok;
    // volatile: written after setjmp and read after a longjmp.
    volatile int stage = 0;  // 0 header, 1 size rejected, 2 pixels
    jpeg_create_decompress(&cinfo);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        out = {};
        detail = std::string(stage == 0 ? "JPEG header: " : "JPEG data: ") + err.text;
        // A file cut short usually fails only after the early end was noticed.
        if (err.truncated) return IoError::Truncated;
        return stage == 0 ? IoError::BadHeader : IoError::Corrupt;
    }
    cinfo.mem->max_memory_to_use = kMaxJpegMemory;
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    const std::int64_t w = cinfo.image_width, h = cinfo.image_height;
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) {
        stage = 1;
        result = IoError::TooLarge;
    } else {
        stage = 2;
        cinfo.out_color_space = JCS_GRAYSCALE;
        jpeg_start_decompress(&cinfo);
        pixels.resize(static_cast<std::size_t>(w * h));
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels.data() + static_cast<std::size_t>(cinfo.output_scanline) * static_cast<std::size_t>(w);
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
    }
    jpeg_destroy_decompress(&cinfo);
    if (result == IoError::TooLarge) {
        detail = "image size " + std::to_string(w) + " x " + std::to_string(h) + " is beyond the limit";
        return result;
    }
    if (err.truncated) {
        detail = "JPEG data ends early";
        return IoError::Truncated;
    }
    out.width = static_cast<std::int32_t>(w);
    out.height = static_cast<std::int32_t>(h);
    out.pixels = std::move(pixels);
    return IoError::Ok;
}

}  // namespace quarrow::io
