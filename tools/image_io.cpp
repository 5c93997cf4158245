// Format sniffing, PGM/PPM, Y4M and the frame source over files and streams.
#include "image_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>

namespace quarrow::io {

namespace {

constexpr std::string_view kY4mMagic = "YUV4MPEG2";
constexpr std::string_view kY4mFrame = "FRAME";
// Longest stream or frame header line accepted (real ones are ~60 bytes).
constexpr std::size_t kMaxY4mHeader = 4096;
// Bytes read per step, so that a huge header on a short file never
// allocates more than the file holds.
constexpr std::size_t kReadChunk = std::size_t{1} << 20;
constexpr std::uint32_t kMaxPnmValue = 65535;
constexpr std::uint32_t kEightBitMax = 255;
// Header numbers beyond this are rejected before they can overflow.
constexpr std::uint64_t kMaxHeaderNumber = 1000000000;

bool isPnmSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

IoError checkSize(std::int64_t w, std::int64_t h, std::string& detail) {
    if (w <= 0 || h <= 0) {
        detail = "image size " + std::to_string(w) + " x " + std::to_string(h) + " is empty";
        return IoError::BadHeader;
    }
    if (w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) {
        detail = "image size " + std::to_string(w) + " x " + std::to_string(h) + " is beyond the limit of " +
                 std::to_string(kMaxPixels) + " pixels, " + std::to_string(kMaxSide) + " a side";
        return IoError::TooLarge;
    }
    return IoError::Ok;
}

// Reads up to `limit` bytes, growing `buf` step by step. Returns false on a
// stream error (not on a short read).
bool readUpTo(std::istream& in, std::vector<std::uint8_t>& buf, std::size_t limit) {
    while (buf.size() < limit && in) {
        const std::size_t step = std::min(kReadChunk, limit - buf.size());
        const std::size_t old = buf.size();
        buf.resize(old + step);
        in.read(reinterpret_cast<char*>(buf.data() + old), static_cast<std::streamsize>(step));
        buf.resize(old + static_cast<std::size_t>(in.gcount()));
    }
    return !in.bad();
}

// Header field reader for PGM/PPM: whitespace and '#' comments between
// fields, decimal numbers only.
struct PnmHeader {
    std::span<const std::uint8_t> data;
    std::size_t pos = 2;

    // Needs at least one whitespace (or comment) before the number.
    bool number(std::uint64_t& value, const char* what, std::string& detail) {
        bool separated = false;
        while (pos < data.size()) {
            if (isPnmSpace(data[pos])) {
                separated = true;
                ++pos;
            } else if (data[pos] == '#') {
                separated = true;
                while (pos < data.size() && data[pos] != '\n' && data[pos] != '\r') ++pos;
            } else {
                break;
            }
        }
        if (pos >= data.size()) {
            detail = std::string("header ends before the ") + what;
            return false;
        }
        if (!separated || data[pos] < '0' || data[pos] > '9') {
            detail = std::string("the ") + what + " is not a decimal number";
            return false;
        }
        value = 0;
        while (pos < data.size() && data[pos] >= '0' && data[pos] <= '9') {
            value = value * 10 + (data[pos] - '0');
            if (value > kMaxHeaderNumber) {
                detail = std::string("the ") + what + " is out of range";
                return false;
            }
            ++pos;
        }
        if (pos < data.size() && !isPnmSpace(data[pos]) && data[pos] != '#') {
            detail = std::string("the ") + what + " is followed by a stray character";
            return false;
        }
        return true;
    }
};

}  // namespace

const char* toString(IoError error) {
    switch (error) {
        case IoError::Ok: return "ok";
        case IoError::OpenFailed: return "cannot open file";
        case IoError::ReadFailed: return "read error";
        case IoError::Empty: return "empty file";
        case IoError::UnknownFormat: return "unknown image format";
        case IoError::BadHeader: return "malformed header";
        case IoError::Unsupported: return "unsupported image variant";
        case IoError::TooLarge: return "image too large";
        case IoError::Truncated: return "truncated data";
        case IoError::Corrupt: return "corrupt data";
        case IoError::WriteFailed: return "cannot write file";
    }
    return "unknown error";
}

Format sniffFormat(std::span<const std::uint8_t> head) {
    static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (head.size() >= sizeof kPng && std::memcmp(head.data(), kPng, sizeof kPng) == 0) return Format::Png;
    if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return Format::Jpeg;
    if (head.size() >= kY4mMagic.size() + 1 && std::memcmp(head.data(), kY4mMagic.data(), kY4mMagic.size()) == 0 &&
        head[kY4mMagic.size()] == ' ')
        return Format::Y4m;
    if (head.size() >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7') return Format::Pnm;
    return Format::Unknown;
}

IoError decodePnm(std::span<const std::uint8_t> data, GreyFrame& out, std::string& detail) {
    out = {};
    if (data.size() < 2 || data[0] != 'P' || data[1] < '1' || data[1] > '7') {
        detail = "not a PGM/PPM file";
        return IoError::UnknownFormat;
    }
    const char kind = static_cast<char>(data[1]);
    if (kind != '5' && kind != '6') {
        detail = std::string("P") + kind + " files are not read; only binary PGM (P5) and PPM (P6)";
        return IoError::Unsupported;
    }
    const int channels = kind == '6' ? 3 : 1;
    PnmHeader h{data};
    std::uint64_t w = 0, hgt = 0, maxval = 0;
    if (!h.number(w, "width", detail) || !h.number(hgt, "height", detail) || !h.number(maxval, "maxval", detail))
        return IoError::BadHeader;
    // Exactly one whitespace byte separates maxval from the pixels.
    if (h.pos >= data.size() || !isPnmSpace(data[h.pos])) {
        detail = "no whitespace after the maxval";
        return h.pos >= data.size() ? IoError::Truncated : IoError::BadHeader;
    }
    ++h.pos;
    if (maxval < 1 || maxval > kMaxPnmValue) {
        detail = "maxval " + std::to_string(maxval) + " is outside 1..65535";
        return IoError::BadHeader;
    }
    if (IoError e = checkSize(static_cast<std::int64_t>(w), static_cast<std::int64_t>(hgt), detail); e != IoError::Ok)
        return e;
    const std::size_t sampleBytes = maxval > kEightBitMax ? 2 : 1;
    const std::size_t samples = static_cast<std::size_t>(w * hgt) * channels;
    const std::size_t need = samples * sampleBytes;
    if (data.size() - h.pos < need) {
        detail = "pixel data holds " + std::to_string(data.size() - h.pos) + " of " + std::to_string(need) + " bytes";
        return IoError::Truncated;
    }
    const std::uint8_t* p = data.data() + h.pos;
    const auto mv = static_cast<std::uint32_t>(maxval);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w * hgt));
    auto sample = [&](std::size_t i) -> std::uint32_t {
        return sampleBytes == 2 ? (std::uint32_t{p[2 * i]} << 8) | p[2 * i + 1] : p[i];
    };
    // Scales a sample to 0..255, rounded; false for a sample above maxval.
    bool ok = true;
    auto scaled = [&](std::uint32_t v) -> std::uint32_t {
        if (v > mv) ok = false;
        return mv == kEightBitMax ? v : (std::min(v, mv) * kEightBitMax + mv / 2) / mv;
    };
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (channels == 1) {
            pixels[i] = static_cast<std::uint8_t>(scaled(sample(i)));
        } else {
            pixels[i] = luma(scaled(sample(3 * i)), scaled(sample(3 * i + 1)), scaled(sample(3 * i + 2)));
        }
    }
    if (!ok) {
        detail = "a sample exceeds the maxval " + std::to_string(mv);
        return IoError::Corrupt;
    }
    out.width = static_cast<std::int32_t>(w);
    out.height = static_cast<std::int32_t>(hgt);
    out.pixels = std::move(pixels);
    return IoError::Ok;
}

IoError decodeImage(std::span<const std::uint8_t> data, GreyFrame& out, std::string& detail) {
    out = {};
    if (data.empty()) {
        detail = "the file is empty";
        return IoError::Empty;
    }
    switch (sniffFormat(data)) {
        case Format::Pnm: return decodePnm(data, out, detail);
        case Format::Png: return decodePng(data, out, detail);
        case Format::Jpeg: return decodeJpeg(data, out, detail);
        case Format::Y4m: detail = "Y4M video is read through FrameSource"; return IoError::Unsupported;
        case Format::Unknown: break;
    }
    detail = "not a PGM, PPM, PNG, JPEG or Y4M file";
    return IoError::UnknownFormat;
}

// ---------------------------------------------------------------------------
// FrameSource

struct FrameSource::State {
    std::unique_ptr<std::ifstream> file;
    std::istream* in = nullptr;
    Format format = Format::Unknown;
    bool done = false;
    // Still images: the whole file. Y4M: the frame geometry.
    std::vector<std::uint8_t> head;
    std::int32_t width = 0, height = 0;
    std::uint64_t chromaBytes = 0;
};

FrameSource::FrameSource() : state_(std::make_unique<State>()) {}
FrameSource::~FrameSource() = default;

IoError FrameSource::open(const std::string& path, std::string& detail) {
    state_ = std::make_unique<State>();
    if (path == "-") return open(std::cin, detail);
    // A folder opens as a stream on Linux and fails only at the first read,
    // which would say nothing but "read error".
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        detail = "cannot open " + path + ": it is a folder, not a file";
        return IoError::OpenFailed;
    }
    auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
    if (!*file) {
        detail = "cannot open " + path + ": " + std::strerror(errno);
        return IoError::OpenFailed;
    }
    std::istream& in = *file;
    IoError e = open(in, detail);
    state_->file = std::move(file);
    return e;
}

namespace {

// One header line of a Y4M stream, without its line feed.
IoError readY4mLine(std::istream& in, std::string& line, std::string& detail) {
    line.clear();
    for (;;) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) {
            detail = "the stream ends inside a header line";
            return in.bad() ? IoError::ReadFailed : IoError::Truncated;
        }
        if (c == '\n') return IoError::Ok;
        if (line.size() >= kMaxY4mHeader) {
            detail = "a header line is longer than " + std::to_string(kMaxY4mHeader) + " bytes";
            return IoError::BadHeader;
        }
        line.push_back(static_cast<char>(c));
    }
}

bool parseY4mNumber(std::string_view s, std::int64_t& v) {
    if (s.empty() || s.size() > 9) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    return true;
}

}  // namespace

IoError FrameSource::open(std::istream& in, std::string& detail) {
    state_ = std::make_unique<State>();
    State& s = *state_;
    s.in = &in;
    // Enough bytes to tell the formats apart.
    if (!readUpTo(in, s.head, kY4mMagic.size() + 1)) {
        detail = "the input cannot be read";
        return IoError::ReadFailed;
    }
    if (s.head.empty()) {
        detail = "the file is empty";
        return IoError::Empty;
    }
    s.format = sniffFormat(s.head);
    if (s.format != Format::Y4m) {
        if (!readUpTo(in, s.head, static_cast<std::size_t>(kMaxFileBytes) + 1)) {
            detail = "the input cannot be read after " + std::to_string(s.head.size()) + " bytes";
            return IoError::ReadFailed;
        }
        if (s.head.size() > static_cast<std::size_t>(kMaxFileBytes)) {
            s.head.clear();
            detail = "the file is larger than " + std::to_string(kMaxFileBytes) + " bytes";
            return IoError::TooLarge;
        }
        return IoError::Ok;
    }
    // Stream header: "YUV4MPEG2" then space-separated tagged parameters.
    std::string line;
    if (IoError e = readY4mLine(in, line, detail); e != IoError::Ok) return e;
    std::int64_t w = -1, h = -1;
    std::string colour = "420jpeg";
    std::string_view rest(line);
    std::size_t start = 0;
    while (start < rest.size()) {
        std::size_t end = rest.find(' ', start);
        if (end == std::string_view::npos) end = rest.size();
        const std::string_view token = rest.substr(start, end - start);
        start = end + 1;
        if (token.empty()) continue;
        if (token[0] == 'W' && !parseY4mNumber(token.substr(1), w)) {
            detail = "bad width parameter";
            return IoError::BadHeader;
        }
        if (token[0] == 'H' && !parseY4mNumber(token.substr(1), h)) {
            detail = "bad height parameter";
            return IoError::BadHeader;
        }
        if (token[0] == 'C') colour = std::string(token.substr(1));
        // F (rate), I (interlacing), A (aspect) and X (extensions) do not
        // change where the Y plane lies.
    }
    if (w < 0 || h < 0) {
        detail = "the stream header lacks a width or height";
        return IoError::BadHeader;
    }
    if (IoError e = checkSize(w, h, detail); e != IoError::Ok) return e;
    const std::uint64_t cw2 = static_cast<std::uint64_t>((w + 1) / 2), ch2 = static_cast<std::uint64_t>((h + 1) / 2);
    const std::uint64_t area = static_cast<std::uint64_t>(w * h);
    if (colour == "mono") {
        s.chromaBytes = 0;
    } else if (colour == "420jpeg" || colour == "420paldv" || colour == "420mpeg2" || colour == "420") {
        s.chromaBytes = 2 * cw2 * ch2;
    } else if (colour == "422") {
        s.chromaBytes = 2 * cw2 * static_cast<std::uint64_t>(h);
    } else if (colour == "411") {
        s.chromaBytes = 2 * static_cast<std::uint64_t>((w + 3) / 4) * static_cast<std::uint64_t>(h);
    } else if (colour == "444") {
        s.chromaBytes = 2 * area;
    } else if (colour == "444alpha") {
        s.chromaBytes = 3 * area;
    } else {
        detail = "colour space C" + colour + " is not read (8-bit mono, 411, 420, 422, 444 only)";
        return IoError::Unsupported;
    }
    s.width = static_cast<std::int32_t>(w);
    s.height = static_cast<std::int32_t>(h);
    s.head.clear();
    return IoError::Ok;
}

bool FrameSource::isVideo() const { return state_->format == Format::Y4m; }

FrameSource::Next FrameSource::next(GreyFrame& frame, IoError& error, std::string& detail) {
    State& s = *state_;
    frame = {};
    if (s.done || !s.in) return Next::End;
    if (s.format != Format::Y4m) {
        s.done = true;
        error = decodeImage(s.head, frame, detail);
        s.head.clear();
        s.head.shrink_to_fit();
        return error == IoError::Ok ? Next::Frame : Next::Error;
    }
    std::istream& in = *s.in;
    auto fail = [&](IoError e, std::string text) {
        s.done = true;
        error = e;
        detail = std::move(text);
        return Next::Error;
    };
    // A clean end of stream falls exactly between two frames.
    if (in.peek() == std::char_traits<char>::eof()) {
        s.done = true;
        if (in.bad()) return fail(IoError::ReadFailed, "read error");
        return Next::End;
    }
    std::string line;
    if (IoError e = readY4mLine(in, line, detail); e != IoError::Ok) return fail(e, detail);
    if (line.compare(0, kY4mFrame.size(), kY4mFrame) != 0 || (line.size() > kY4mFrame.size() && line[kY4mFrame.size()] != ' '))
        return fail(IoError::Corrupt, "a frame does not start with FRAME");
    const std::size_t area = static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height);
    if (!readUpTo(in, frame.pixels, area)) return fail(IoError::ReadFailed, "read error");
    if (frame.pixels.size() < area) {
        frame = {};
        return fail(IoError::Truncated, "the stream ends inside a frame");
    }
    in.ignore(static_cast<std::streamsize>(s.chromaBytes));
    if (static_cast<std::uint64_t>(in.gcount()) < s.chromaBytes) {
        frame = {};
        return fail(in.bad() ? IoError::ReadFailed : IoError::Truncated, "the stream ends inside a frame's colour planes");
    }
    frame.width = s.width;
    frame.height = s.height;
    error = IoError::Ok;
    return Next::Frame;
}

}  // namespace quarrow::io
