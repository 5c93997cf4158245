// The WebAssembly face of the C++ API: a few C functions that the module's
// JavaScript (quarrow_api.js) calls. A read comes back as JSON text that
// the JavaScript parses into a plain object, so no binding library is
// needed and the field names match the C++ result one for one.
//
// Colour frames (RGBA, as canvas ImageData holds them) are turned into grey
// here with the BT.601 luma weights, the same weights a camera's Y plane
// carries.
#include <emscripten/emscripten.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "quarrow/quarrow.hpp"

namespace {

// The last answer; the JavaScript copies it out before the next call (the
// module is single-threaded: one instance per worker).
std::string lastJson;
std::vector<std::uint8_t> greyFrame;

void appendString(std::string& out, const std::string& s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(ch);  // UTF-8 passes through; JSON text is UTF-8
        }
    }
    out.push_back('"');
}

// JSON has no NaN or infinity; a coordinate without a value becomes null.
void appendNumber(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    out += buf;
}

void appendPoint(std::string& out, const quarrow::Point& p) {
    out += "{\"x\":";
    appendNumber(out, p.x);
    out += ",\"y\":";
    appendNumber(out, p.y);
    out.push_back('}');
}

void appendField(std::string& out, const char* name) {
    if (out.back() != '{') out.push_back(',');
    out.push_back('"');
    out += name;
    out += "\":";
}

void appendInt(std::string& out, const char* name, long long v) {
    appendField(out, name);
    out += std::to_string(v);
}

void appendBool(std::string& out, const char* name, bool v) {
    appendField(out, name);
    out += v ? "true" : "false";
}

void appendResult(std::string& out, const quarrow::ReadResult& r) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('{');
    appendField(out, "status");
    appendString(out, quarrow::toString(r.status));
    appendField(out, "outcome");
    appendString(out, quarrow::toString(r.outcome));
    // Bytes travel as hex; the JavaScript makes a Uint8Array of them.
    appendField(out, "bytesHex");
    out.push_back('"');
    for (std::uint8_t b : r.bytes) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    out.push_back('"');
    appendField(out, "text");
    appendString(out, r.text);
    appendField(out, "textNote");
    appendString(out, r.textNote);
    appendField(out, "message");
    appendString(out, r.message);
    appendField(out, "type");
    appendString(out, quarrow::toString(r.type));
    appendInt(out, "layers", r.layers);
    appendInt(out, "dataWords", r.dataWords);
    appendInt(out, "wordBits", r.wordBits);
    appendInt(out, "totalWords", r.totalWords);
    appendInt(out, "eccPercent", r.eccPercent);
    appendInt(out, "correctedWords", r.correctedWords);
    appendInt(out, "rotation", r.rotation);
    appendBool(out, "mirrored", r.mirrored);
    appendBool(out, "lightOnDark", r.lightOnDark);
    appendBool(out, "gs1", r.gs1);
    appendBool(out, "readerInit", r.readerInit);
    appendField(out, "symbologyIdentifier");
    appendString(out, r.symbologyIdentifier);
    appendField(out, "rune");
    out += r.rune ? std::to_string(*r.rune) : "null";
    appendField(out, "ecis");
    out.push_back('[');
    for (std::size_t k = 0; k < r.ecis.size(); ++k) {
        if (k) out.push_back(',');
        out += "{\"eci\":" + std::to_string(r.ecis[k].eci) + ",\"position\":" + std::to_string(r.ecis[k].position) +
               "}";
    }
    out.push_back(']');
    appendField(out, "structuredAppend");
    if (r.structuredAppend) {
        out += "{\"index\":" + std::to_string(r.structuredAppend->index) +
               ",\"count\":" + std::to_string(r.structuredAppend->count) + ",\"id\":";
        appendString(out, r.structuredAppend->id);
        out.push_back('}');
    } else {
        out += "null";
    }
    appendField(out, "centre");
    appendPoint(out, r.centre);
    for (const auto& [name, quad] : {std::pair{"bullseyeCorners", &r.bullseyeCorners},
                                     std::pair{"symbolCorners", &r.symbolCorners}}) {
        appendField(out, name);
        out.push_back('[');
        for (std::size_t k = 0; k < 4; ++k) {
            if (k) out.push_back(',');
            appendPoint(out, (*quad)[k]);
        }
        out.push_back(']');
    }
    out.push_back('}');
}

quarrow::ReadResult rejected(quarrow::Status status) {
    quarrow::ReadResult r;
    r.status = status;
    return r;
}

}  // namespace

extern "C" {

// Reads `size` bytes at `pixels`: grey rows `stride` bytes apart when
// `channels` is 1, packed RGBA rows when it is 4. `all` asks for every
// symbol (a JSON array) instead of one result (a JSON object). Returns the
// JSON text, valid until the next call; quarrow_web_result_size gives its
// length.
EMSCRIPTEN_KEEPALIVE const char* quarrow_web_read(const std::uint8_t* pixels, std::size_t size, int width, int height,
                                                  int stride, int channels, int search, int lightOnDark, double effort,
                                                  int all) {
    quarrow::ReadOptions options;
    options.search = search == 1 ? quarrow::Search::Centre : quarrow::Search::Frame;
    options.lightOnDark = lightOnDark != 0;
    options.effort = effort;
    std::span<const std::uint8_t> frame(pixels, pixels ? size : 0);

    std::vector<quarrow::ReadResult> results;
    bool checked = true;
    if (channels == 4) {
        // The size checks that the grey read would make, made here for the
        // colour frame before it is converted.
        if (!pixels) {
            results.push_back(rejected(quarrow::Status::NullFrame));
            checked = false;
        } else if (width < 1 || height < 1) {
            results.push_back(rejected(quarrow::Status::BadSize));
            checked = false;
        } else if (static_cast<std::int64_t>(width) * height > quarrow::kMaxPixels) {
            results.push_back(rejected(quarrow::Status::TooLarge));
            checked = false;
        } else if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4 > size) {
            results.push_back(rejected(quarrow::Status::ShortBuffer));
            checked = false;
        } else {
            const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
            greyFrame.resize(n);
            std::uint8_t* grey = greyFrame.data();
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint8_t* p = pixels + 4 * i;
                grey[i] = static_cast<std::uint8_t>((77u * p[0] + 150u * p[1] + 29u * p[2] + 128u) >> 8);
            }
            frame = std::span<const std::uint8_t>(greyFrame.data(), n);
            stride = width;
        }
    } else if (channels != 1) {
        results.push_back(rejected(quarrow::Status::BadSize));
        checked = false;
    }
    if (checked) {
        if (all)
            results = quarrow::readAll(frame, width, height, stride, options);
        else
            results.push_back(quarrow::read(frame, width, height, stride, options));
    }

    lastJson.clear();
    if (all) lastJson.push_back('[');
    for (std::size_t k = 0; k < results.size(); ++k) {
        if (k) lastJson.push_back(',');
        appendResult(lastJson, results[k]);
        if (!all) break;
    }
    if (all) lastJson.push_back(']');
    return lastJson.c_str();
}

EMSCRIPTEN_KEEPALIVE std::size_t quarrow_web_result_size() { return lastJson.size(); }

}  // extern "C"
