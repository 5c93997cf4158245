#include "debug_image.h"

#include <algorithm>
#include <cmath>

namespace quarrow::tools {

namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

constexpr Rgb kSeed = {0, 200, 255};
constexpr Rgb kBlob = {255, 0, 255};
constexpr Rgb kBullseye = {0, 220, 0};
constexpr Rgb kOutline = {255, 40, 40};
constexpr Rgb kDarkModule = {30, 90, 255};
constexpr Rgb kLightModule = {255, 200, 0};
// Frames are enlarged until their longer side reaches this, by at most kMaxScale.
constexpr std::int32_t kTargetSide = 1024;
constexpr std::int32_t kMaxScale = 4;
constexpr std::int32_t kCrossArm = 3;

class Canvas {
public:
    Canvas(DebugPicture& pic, std::int32_t scale) : pic_(pic), scale_(scale) {}

    void put(std::int32_t x, std::int32_t y, Rgb c) {
        if (x < 0 || y < 0 || x >= pic_.width || y >= pic_.height) return;
        const std::size_t i = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(pic_.width) + static_cast<std::size_t>(x));
        pic_.rgb[i] = c.r;
        pic_.rgb[i + 1] = c.g;
        pic_.rgb[i + 2] = c.b;
    }
    // Frame coordinates in, picture coordinates out; NaN and far-off
    // points are dropped.
    bool toPicture(AztecCore::Point2d p, std::int32_t& x, std::int32_t& y) const {
        const double px = p.x * scale_, py = p.y * scale_;
        const double limit = 4.0 * std::max(pic_.width, pic_.height);
        if (!std::isfinite(px) || !std::isfinite(py) || std::fabs(px) > limit || std::fabs(py) > limit) return false;
        x = static_cast<std::int32_t>(std::floor(px));
        y = static_cast<std::int32_t>(std::floor(py));
        return true;
    }
    void dot(AztecCore::Point2d p, std::int32_t radius, Rgb c) {
        std::int32_t x, y;
        if (!toPicture(p, x, y)) return;
        for (std::int32_t dy = -radius; dy <= radius; ++dy)
            for (std::int32_t dx = -radius; dx <= radius; ++dx) put(x + dx, y + dy, c);
    }
    void cross(AztecCore::Point2d p, std::int32_t arm, Rgb c) {
        std::int32_t x, y;
        if (!toPicture(p, x, y)) return;
        for (std::int32_t d = -arm; d <= arm; ++d) {
            put(x + d, y, c);
            put(x, y + d, c);
        }
    }
    void line(AztecCore::Point2d a, AztecCore::Point2d b, Rgb c) {
        std::int32_t x0, y0, x1, y1;
        if (!toPicture(a, x0, y0) || !toPicture(b, x1, y1)) return;
        // Bresenham.
        const std::int32_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const std::int32_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        std::int32_t err = dx + dy;
        for (;;) {
            put(x0, y0, c);
            if (x0 == x1 && y0 == y1) break;
            const std::int32_t e2 = 2 * err;
            if (e2 >= dy) { err += dy; x0 += sx; }
            if (e2 <= dx) { err += dx; y0 += sy; }
        }
    }
    void quad(const AztecCore::Point2d* corners, Rgb c) {
        for (int i = 0; i < 4; ++i) line(corners[i], corners[(i + 1) % 4], c);
    }

private:
    DebugPicture& pic_;
    std::int32_t scale_;
};

}  // namespace

DebugPicture drawTrace(const io::GreyFrame& frame, const AztecCore::DetectorTrace& trace) {
    DebugPicture pic;
    if (frame.width <= 0 || frame.height <= 0) return pic;
    const std::int32_t side = std::max(frame.width, frame.height);
    const std::int32_t scale = std::clamp(kTargetSide / side, 1, kMaxScale);
    pic.width = frame.width * scale;
    pic.height = frame.height * scale;
    pic.rgb.resize(static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height) * 3);
    for (std::int32_t y = 0; y < pic.height; ++y) {
        for (std::int32_t x = 0; x < pic.width; ++x) {
            const std::uint8_t v = frame.pixels[static_cast<std::size_t>(y / scale) * static_cast<std::size_t>(frame.width) +
                                                static_cast<std::size_t>(x / scale)];
            const std::size_t i = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(pic.width) + static_cast<std::size_t>(x));
            pic.rgb[i] = pic.rgb[i + 1] = pic.rgb[i + 2] = v;
        }
    }
    Canvas canvas(pic, scale);
    const std::int32_t moduleRadius = scale >= 3 ? 1 : 0;
    for (const auto& m : trace.modules) canvas.dot(m.at, moduleRadius, m.dark ? kDarkModule : kLightModule);
    // Seeds are pixels; their centre is half a pixel in.
    for (const auto& s : trace.seeds) canvas.cross({s.x + 0.5, s.y + 0.5}, kCrossArm * scale, kSeed);
    for (const auto& b : trace.blobCentres) canvas.dot(b, scale, kBlob);
    if (trace.located) {
        canvas.quad(trace.bullseyeCorners, kBullseye);
        canvas.quad(trace.symbolCorners, kOutline);
    }
    return pic;
}

}  // namespace quarrow::tools
