// Image input and output for the command-line tools: decodes PGM/PPM, PNG,
// JPEG and Y4M video into 8-bit grey frames, and writes RGB pictures as PNG.
// Every header is checked against the limits below before anything is
// allocated, so a hostile file costs at most what its own bytes justify.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quarrow::io {

enum class IoError {
    Ok = 0,
    OpenFailed,     // the file could not be opened
    ReadFailed,     // an I/O error while reading
    Empty,          // no bytes at all
    UnknownFormat,  // not one of the formats below
    BadHeader,      // a malformed header
    Unsupported,    // a valid file in a variant that is not read (e.g. 10-bit Y4M)
    TooLarge,       // beyond the size limits
    Truncated,      // the data ends early
    Corrupt,        // the data is damaged
    WriteFailed,    // the output file could not be written
};

// A short English text for each error ("truncated data", ...).
const char* toString(IoError error);

// Largest image accepted: 2^28 pixels, at most 2^20 pixels a side, and at
// most 1 GiB of file read into memory for a still image.
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;
inline constexpr std::int64_t kMaxSide = std::int64_t{1} << 20;
inline constexpr std::int64_t kMaxFileBytes = std::int64_t{1} << 30;

// An 8-bit grey image, rows of exactly `width` bytes from the top.
struct GreyFrame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

enum class Format { Unknown, Pnm, Png, Jpeg, Y4m };

// The format that the first bytes of a file announce.
Format sniffFormat(std::span<const std::uint8_t> head);

// Grey level of an RGB pixel with the usual luma weights (0.299, 0.587,
// 0.114), rounded.
inline std::uint8_t luma(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

// Decoders for one still image held in memory. On failure `detail` says
// what was wrong and `out` is left empty.
IoError decodePnm(std::span<const std::uint8_t> data, GreyFrame& out, std::string& detail);
IoError decodePng(std::span<const std::uint8_t> data, GreyFrame& out, std::string& detail);
IoError decodeJpeg(std::span<const std::uint8_t> data, GreyFrame& out, std::string& detail);
// Any still format, chosen by its first bytes.
IoError decodeImage(std::span<const std::uint8_t> data, GreyFrame& out, std::string& detail);

// The frames of one input, in order: one for a still image, one per frame
// for a Y4M video (streamed, never held whole in memory).
class FrameSource {
public:
    FrameSource();
    ~FrameSource();
    FrameSource(const FrameSource&) = delete;
    FrameSource& operator=(const FrameSource&) = delete;

    // Opens a file, or standard input for "-".
    IoError open(const std::string& path, std::string& detail);
    // Reads from a stream that the caller keeps alive.
    IoError open(std::istream& in, std::string& detail);

    enum class Next { Frame, End, Error };
    // The next frame; End after the last one; Error (with `error` and
    // `detail`) ends the input.
    Next next(GreyFrame& frame, IoError& error, std::string& detail);

    bool isVideo() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Writes an RGB picture (3 bytes per pixel, rows of 3 * width bytes) as PNG.
IoError writePngRgb(const std::string& path, std::int32_t width, std::int32_t height,
                    const std::vector<std::uint8_t>& rgb, std::string& detail);

}  // namespace quarrow::io
