// JPEG through libjpeg(-turbo), decoded straight to grey: the luminance of a
// YCbCr JPEG is already 0.299 R + 0.587 G + 0.114 B. Errors leave the
// library by longjmp, so nothing with a destructor lives inside the guarded
// part.
// jpeglib.h needs size_t and FILE declared before it.
#include <algorithm>
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
// A progressive file may repeat scans that cost a few bytes each but a pass
// over every block; real encoders write about ten.
constexpr int kMaxJpegScans = 100;
// Huffman coding spends at least one bit on each 8 x 8 block of a component
// that a scan covers, so a file of n bytes holds at most 8n blocks of its
// coarsest component. Bounding the pixels by that keeps a few hundred bytes
// from declaring a 2^28-pixel image that we would allocate and fill with
// grey. (Arithmetic coding can go below a bit a block, but only on images
// so flat that they hold no symbol; they are held to the same bound.)
constexpr std::int64_t kBitsPerByte = 8;
constexpr std::int64_t kPixelsPerBlock = 64;

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

// Warnings are silent, except that an early end of data ends the decoding:
// the library would otherwise pad the rest of the image with grey, which
// for a short file with a huge declared size costs seconds.
extern "C" void onJpegMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
        err->truncated = true;
        onJpegError(cinfo);
    }
}

extern "C" void onJpegProgress(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
        std::snprintf(err->text, sizeof err->text, "more than %d scans", kMaxJpegScans);
        std::longjmp(err->jump, 1);
    }
}

// Most pixels that `bytes` of Huffman-coded data can describe.
std::int64_t pixelsHeldBy(const jpeg_decompress_struct& cinfo, std::size_t bytes) {
    std::int64_t cheapest = 1;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& comp = cinfo.comp_info[c];
        const std::int64_t share = std::int64_t{cinfo.max_h_samp_factor} * cinfo.max_v_samp_factor /
                                   std::max(1, comp.h_samp_factor * comp.v_samp_factor);
        cheapest = std::max(cheapest, share);
    }
    return static_cast<std::int64_t>(bytes) * kBitsPerByte * kPixelsPerBlock * cheapest;
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
    jpeg_progress_mgr progress{};
    progress.progress_monitor = onJpegProgress;
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
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    const std::int64_t w = cinfo.image_width, h = cinfo.image_height;
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) {
        stage = 1;
        result = IoError::TooLarge;
    } else if (w * h > pixelsHeldBy(cinfo, data.size())) {
        stage = 1;
        result = IoError::Truncated;
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
    if (result == IoError::Truncated) {
        detail = "JPEG data of " + std::to_string(data.size()) + " bytes cannot hold a " + std::to_string(w) + " x " +
                 std::to_string(h) + " image";
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
