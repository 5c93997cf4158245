#include "support/frame_renderer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>

#include <jpeglib.h>

#include "decode/mode_message.h"
#include "support/grid_reading.h"

namespace quarrow_test {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
// Focal length as a share of the longer frame side: about a 65 degree
// field of view, like a phone camera.
constexpr double kFocalShare = 0.8;
// Extra pixels drawn round the projected quiet zone so its anti-aliased
// edge is complete.
constexpr int kEdgeMargin = 2;
// Gaussian kernels reach this many sigmas.
constexpr double kBlurReach = 3.0;
constexpr int kMaxGrey = 255;

// Seeded generator with its own distributions, so frames are the same
// whatever standard library built the tests.
class Rng {
public:
    explicit Rng(std::uint32_t seed) : engine_(seed) {}
    // Uniform in [0, 1), 32 random bits.
    double uniform() { return static_cast<double>(engine_()) / 4294967296.0; }
    // Uniform integer in [lo, hi].
    int between(int lo, int hi) { return lo + static_cast<int>(uniform() * (hi - lo + 1)); }
    bool coin() { return (engine_() & 1u) != 0; }
    // Standard normal by Box-Muller.
    double gaussian() {
        if (haveSpare_) {
            haveSpare_ = false;
            return spare_;
        }
        const double u1 = 1.0 - uniform();  // (0, 1], safe for log
        const double u2 = uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        spare_ = r * std::sin(2.0 * std::numbers::pi * u2);
        haveSpare_ = true;
        return r * std::cos(2.0 * std::numbers::pi * u2);
    }

private:
    std::mt19937 engine_;
    double spare_ = 0.0;
    bool haveSpare_ = false;
};

// Grey levels while rendering, before blur and noise.
struct FloatImage {
    int width = 0;
    int height = 0;
    std::vector<float> v;

    FloatImage(int w, int h, float fill) : width(w), height(h), v(static_cast<std::size_t>(w) * h, fill) {}
    float& at(int x, int y) { return v[static_cast<std::size_t>(y) * width + x]; }
    float at(int x, int y) const { return v[static_cast<std::size_t>(y) * width + x]; }
};

// 3x3 projective map, row-major.
struct Homography {
    std::array<double, 9> m{};

    FramePoint map(double u, double v) const {
        const double w = m[6] * u + m[7] * v + m[8];
        return {(m[0] * u + m[1] * v + m[2]) / w, (m[3] * u + m[4] * v + m[5]) / w};
    }
    // False when the point lies behind the projection centre.
    bool mapForward(double u, double v, double& x, double& y) const {
        const double w = m[6] * u + m[7] * v + m[8];
        if (w <= 0.0) return false;
        x = (m[0] * u + m[1] * v + m[2]) / w;
        y = (m[3] * u + m[4] * v + m[5]) / w;
        return true;
    }
    Homography times(const Homography& b) const {
        Homography r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k) r.m[i * 3 + j] += m[i * 3 + k] * b.m[k * 3 + j];
        return r;
    }
    Homography inverse() const {
        const auto& a = m;
        Homography r;
        r.m = {a[4] * a[8] - a[5] * a[7], a[2] * a[7] - a[1] * a[8], a[1] * a[5] - a[2] * a[4],
               a[5] * a[6] - a[3] * a[8], a[0] * a[8] - a[2] * a[6], a[2] * a[3] - a[0] * a[5],
               a[3] * a[7] - a[4] * a[6], a[1] * a[6] - a[0] * a[7], a[0] * a[4] - a[1] * a[3]};
        const double det = a[0] * r.m[0] + a[1] * r.m[3] + a[2] * r.m[6];
        for (double& x : r.m) x /= det;
        return r;
    }
};

// Symbol plane (u, v in modules, origin at the symbol centre, v down) to
// frame pixels: mirror, scale and rotate in the plane, tilt the plane in
// 3-D at the focal distance, project through a pinhole centred on the
// displaced frame centre.
Homography planeToFrame(const RenderOptions& o) {
    const double s = o.moduleSize;
    const double c = std::cos(o.rotationDeg * kDegree);
    const double sn = std::sin(o.rotationDeg * kDegree);
    const double mir = o.mirror ? -1.0 : 1.0;
    Homography inPlane;
    inPlane.m = {s * c * mir, -s * sn, 0.0, s * sn * mir, s * c, 0.0, 0.0, 0.0, 1.0};

    // Columns 0 and 1 of R = Ry(tiltY) * Rx(tiltX).
    const double cx = std::cos(o.tiltXDeg * kDegree), sx = std::sin(o.tiltXDeg * kDegree);
    const double cy = std::cos(o.tiltYDeg * kDegree), sy = std::sin(o.tiltYDeg * kDegree);
    const double r0x = cy, r0y = 0.0, r0z = -sy;
    const double r1x = sy * sx, r1y = cx, r1z = cy * sx;

    const double f = kFocalShare * std::max(o.width, o.height);
    const double ox = o.width / 2.0 + o.dx;
    const double oy = o.height / 2.0 + o.dy;
    // K * [r0 r1 t] with t = (0, 0, f): the plane sits at the focal
    // distance, so an untilted symbol keeps moduleSize pixels per module.
    Homography camera;
    camera.m = {f * r0x + ox * r0z, f * r1x + ox * r1z, ox * f,
                f * r0y + oy * r0z, f * r1y + oy * r1z, oy * f,
                r0z,                r1z,                f};
    return camera.times(inPlane);
}

// A symbol wrapped round a cylinder. The plane frame is planeToFrame's
// before the tilt (pixels at the focal distance, z away from the camera);
// the symbol's centre touches the plane at the origin and the cylinder's
// axis runs through (0, 0, radius) along `axis`. Arc length across the
// axis is distance in the symbol's plane.
class CylinderView {
public:
    CylinderView(const RenderOptions& o, int gridSize) {
        const double s = o.moduleSize;
        const double c = std::cos(o.rotationDeg * kDegree), sn = std::sin(o.rotationDeg * kDegree);
        const double mir = o.mirror ? -1.0 : 1.0;
        l_ = {s * c * mir, -s * sn, s * sn * mir, s * c};
        const double det = l_[0] * l_[3] - l_[1] * l_[2];
        li_ = {l_[3] / det, -l_[1] / det, -l_[2] / det, l_[0] / det};
        ax_ = std::cos(o.cylinderAxisDeg * kDegree);
        ay_ = std::sin(o.cylinderAxisDeg * kDegree);
        radius_ = o.cylinderRadius * gridSize * s;
        const double cx = std::cos(o.tiltXDeg * kDegree), sx = std::sin(o.tiltXDeg * kDegree);
        const double cy = std::cos(o.tiltYDeg * kDegree), sy = std::sin(o.tiltYDeg * kDegree);
        // R = Ry(tiltY) Rx(tiltX), row-major, as planeToFrame's.
        rot_ = {cy, sy * sx, sy * cx, 0.0, cx, -sx, -sy, cy * sx, cy * cx};
        f_ = kFocalShare * std::max(o.width, o.height);
        ox_ = o.width / 2.0 + o.dx;
        oy_ = o.height / 2.0 + o.dy;
    }

    // Plane position (u, v), modules from the symbol centre, to the frame.
    bool forward(double u, double v, double& x, double& y) const {
        const double px = l_[0] * u + l_[1] * v, py = l_[2] * u + l_[3] * v;
        const double across = -ay_ * px + ax_ * py, along = ax_ * px + ay_ * py;
        const double theta = across / radius_;
        const double p[3] = {along * ax_ - radius_ * std::sin(theta) * ay_, along * ay_ + radius_ * std::sin(theta) * ax_,
                             radius_ * (1.0 - std::cos(theta))};
        const double cam[3] = {rot_[0] * p[0] + rot_[1] * p[1] + rot_[2] * p[2],
                               rot_[3] * p[0] + rot_[4] * p[1] + rot_[5] * p[2],
                               rot_[6] * p[0] + rot_[7] * p[1] + rot_[8] * p[2] + f_};
        if (cam[2] <= 0.0) return false;
        x = f_ * cam[0] / cam[2] + ox_;
        y = f_ * cam[1] / cam[2] + oy_;
        return true;
    }

    // Frame point to plane position: the pixel's ray meets the cylinder's
    // near side, whose arc length and axial distance give the position.
    bool backward(double x, double y, double& u, double& v) const {
        const double dc[3] = {(x - ox_) / f_, (y - oy_) / f_, 1.0};
        // Ray origin and direction in the plane frame (R transposed).
        const double o[3] = {-f_ * rot_[6], -f_ * rot_[7], -f_ * rot_[8]};
        const double d[3] = {rot_[0] * dc[0] + rot_[3] * dc[1] + rot_[6] * dc[2],
                             rot_[1] * dc[0] + rot_[4] * dc[1] + rot_[7] * dc[2],
                             rot_[2] * dc[0] + rot_[5] * dc[1] + rot_[8] * dc[2]};
        const double w0 = -ay_ * o[0] + ax_ * o[1], dw = -ay_ * d[0] + ax_ * d[1];
        const double n0 = o[2] - radius_, dn = d[2];
        const double a = dw * dw + dn * dn, b = 2.0 * (w0 * dw + n0 * dn), c = w0 * w0 + n0 * n0 - radius_ * radius_;
        const double disc = b * b - 4.0 * a * c;
        if (a <= 0.0 || disc < 0.0) return false;
        const double t = (-b - std::sqrt(disc)) / (2.0 * a);
        if (t <= 0.0) return false;
        const double across = radius_ * std::atan2(w0 + t * dw, -(n0 + t * dn));
        const double along = ax_ * (o[0] + t * d[0]) + ay_ * (o[1] + t * d[1]);
        const double px = along * ax_ - across * ay_, py = along * ay_ + across * ax_;
        u = li_[0] * px + li_[1] * py;
        v = li_[2] * px + li_[3] * py;
        return true;
    }

private:
    std::array<double, 4> l_{}, li_{};  // in-plane scale, rotation and mirror, and its inverse
    double ax_ = 1.0, ay_ = 0.0;        // the axis in the plane
    double radius_ = 1.0;
    std::array<double, 9> rot_{};
    double f_ = 1.0, ox_ = 0.0, oy_ = 0.0;
};

void fillRect(FloatImage& img, int x0, int y0, int x1, int y1, float value) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, img.width);
    y1 = std::min(y1, img.height);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) img.at(x, y) = value;
}

// Random filled rectangles and lines of letter-sized blobs.
void drawClutter(FloatImage& img, int items, Rng& rng) {
    const int w = img.width, h = img.height;
    for (int i = 0; i < items; ++i) {
        if (rng.coin()) {
            const int rw = rng.between(8, std::max(8, w / 6));
            const int rh = rng.between(8, std::max(8, h / 6));
            const int x = rng.between(-rw / 2, w - rw / 2);
            const int y = rng.between(-rh / 2, h - rh / 2);
            fillRect(img, x, y, x + rw, y + rh, static_cast<float>(rng.between(0, kMaxGrey)));
        } else {
            const int letterH = rng.between(6, 22);
            const int letters = rng.between(4, 30);
            const float ink = static_cast<float>(rng.between(10, 90));
            const float paper = static_cast<float>(rng.between(150, 240));
            int x = rng.between(0, w - 1);
            const int y = rng.between(0, h - 1);
            for (int k = 0; k < letters; ++k) {
                const int letterW = std::max(2, letterH * rng.between(4, 9) / 10);
                if (rng.between(0, 5) == 0) {  // word gap
                    x += letterW;
                    continue;
                }
                fillRect(img, x, y, x + letterW, y + letterH, ink);
                const int stroke = std::max(1, letterH / 6);
                if (rng.coin() && letterW > 2 * stroke)  // a counter, as in 'o'
                    fillRect(img, x + stroke, y + stroke, x + letterW - stroke, y + letterH - stroke, paper);
                x += letterW + std::max(1, letterH / 5);
            }
        }
    }
}

// Multiplies by a light level that falls linearly by `amount` across the
// frame in the direction angleDeg.
void applyIllumination(FloatImage& img, double amount, double angleDeg) {
    if (amount == 0.0) return;
    const double c = std::cos(angleDeg * kDegree), s = std::sin(angleDeg * kDegree);
    const std::array<double, 4> corner = {0.0, img.width * c, img.height * s, img.width * c + img.height * s};
    const double lo = *std::min_element(corner.begin(), corner.end());
    const double hi = *std::max_element(corner.begin(), corner.end());
    const double span = std::max(hi - lo, 1.0);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const double t = ((x + 0.5) * c + (y + 0.5) * s - lo) / span;
            img.at(x, y) = static_cast<float>(img.at(x, y) * (1.0 - amount * t));
        }
}

void applyGlare(FloatImage& img, const RenderOptions& o) {
    if (o.glare <= 0.0 || o.glareRadius <= 0.0) return;
    const double k = 1.0 / (2.0 * o.glareRadius * o.glareRadius);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const double dx = x + 0.5 - o.glareX, dy = y + 0.5 - o.glareY;
            img.at(x, y) = static_cast<float>(img.at(x, y) + o.glare * std::exp(-(dx * dx + dy * dy) * k));
        }
}

// Separable Gaussian, edges clamped.
void blur(FloatImage& img, double sigma) {
    if (sigma <= 0.0) return;
    const int radius = std::max(1, static_cast<int>(std::ceil(kBlurReach * sigma)));
    std::vector<float> kernel(static_cast<std::size_t>(2 * radius + 1));
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        const double k = std::exp(-(i * i) / (2.0 * sigma * sigma));
        kernel[static_cast<std::size_t>(i + radius)] = static_cast<float>(k);
        sum += k;
    }
    for (float& k : kernel) k = static_cast<float>(k / sum);

    FloatImage tmp(img.width, img.height, 0.0f);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            float acc = 0.0f;
            for (int i = -radius; i <= radius; ++i)
                acc += kernel[static_cast<std::size_t>(i + radius)] * img.at(std::clamp(x + i, 0, img.width - 1), y);
            tmp.at(x, y) = acc;
        }
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            float acc = 0.0f;
            for (int i = -radius; i <= radius; ++i)
                acc += kernel[static_cast<std::size_t>(i + radius)] * tmp.at(x, std::clamp(y + i, 0, img.height - 1));
            img.at(x, y) = acc;
        }
}

Frame quantise(const FloatImage& img, double noiseSigma, Rng& rng) {
    Frame f;
    f.width = img.width;
    f.height = img.height;
    f.pixels.resize(img.v.size());
    for (std::size_t i = 0; i < img.v.size(); ++i) {
        double v = img.v[i];
        if (noiseSigma > 0.0) v += noiseSigma * rng.gaussian();
        f.pixels[i] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, static_cast<long>(kMaxGrey)));
    }
    return f;
}

}  // namespace

FramePoint gridToFrame(const RenderOptions& options, int gridSize, double col, double row) {
    const double half = gridSize / 2.0;
    if (options.cylinderRadius > 0.0) {
        FramePoint p;
        CylinderView(options, gridSize).forward(col - half, row - half, p.x, p.y);
        return p;
    }
    return planeToFrame(options).map(col - half, row - half);
}

Aztec::Math::Homography gridTransform(const RenderOptions& options, int gridSize) {
    const double half = (gridSize - 1) / 2;
    const auto at = [&](double u, double v) {
        const FramePoint p = gridToFrame(options, gridSize, u + half + 0.5, v + half + 0.5);
        return AztecCore::Point2d{p.x - 0.5, p.y - 0.5};
    };
    return Aztec::Math::fitHomography({-half, -half}, {half, -half}, {half, half}, {-half, half}, at(-half, -half),
                                      at(half, -half), at(half, half), at(-half, half));
}

Frame renderSymbol(const ModuleGrid& grid, const RenderOptions& o) {
    Rng rng(o.seed);
    FloatImage scene(o.width, o.height, static_cast<float>(o.background));
    if (o.scene && o.scene->width == o.width && o.scene->height == o.height) {
        for (std::size_t i = 0; i < scene.v.size(); ++i) scene.v[i] = o.scene->pixels[i];
    }
    drawClutter(scene, o.clutter, rng);
    FloatImage img = scene;

    const Homography forward = planeToFrame(o);
    const Homography backward = forward.inverse();
    const int n = grid.size;
    const double half = n / 2.0;
    const double outer = half + o.quietZone;

    // Only pixels near the projected quiet zone can see the symbol.
    double minX = o.width, minY = o.height, maxX = 0.0, maxY = 0.0;
    const std::array<std::array<double, 2>, 4> corners = {{{-outer, -outer}, {outer, -outer}, {outer, outer}, {-outer, outer}}};
    const bool curved = o.cylinderRadius > 0.0;
    const CylinderView cylinder(o, n);
    auto extend = [&](bool mapped, double x, double y) {
        if (!mapped) return;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    };
    if (curved) {
        // A curved edge bulges between the corners: its points all count.
        constexpr int kEdgePoints = 64;
        for (int k = 0; k < 4; ++k) {
            const auto& [u0, v0] = corners[static_cast<std::size_t>(k)];
            const auto& [u1, v1] = corners[static_cast<std::size_t>((k + 1) % 4)];
            for (int i = 0; i < kEdgePoints; ++i) {
                const double t = static_cast<double>(i) / kEdgePoints;
                double x = 0.0, y = 0.0;
                const bool mapped = cylinder.forward(u0 + t * (u1 - u0), v0 + t * (v1 - v0), x, y);
                extend(mapped, x, y);
            }
        }
    } else {
        for (const auto& [u, v] : corners) {
            double x = 0.0, y = 0.0;
            const bool mapped = forward.mapForward(u, v, x, y);
            extend(mapped, x, y);
        }
    }
    const int xFrom = static_cast<int>(std::floor(minX)) - kEdgeMargin, yFrom = static_cast<int>(std::floor(minY)) - kEdgeMargin;
    const int xTo = static_cast<int>(std::ceil(maxX)) + kEdgeMargin, yTo = static_cast<int>(std::ceil(maxY)) + kEdgeMargin;

    // The warp's phases, drawn apart so that frames without one keep their
    // clutter and noise.
    const bool warped = o.warp > 0.0 && o.warpWavelength > 0.0;
    double phase[4] = {};
    if (warped) {
        Rng waves(o.seed ^ 0x5eedu);
        for (double& f : phase) f = waves.uniform() * 2.0 * std::numbers::pi;
    }
    const double waveNumber = warped ? 2.0 * std::numbers::pi / o.warpWavelength : 0.0;
    const int reach = warped ? static_cast<int>(std::ceil(o.warp)) : 0;
    const int x0 = std::max(0, xFrom - reach), y0 = std::max(0, yFrom - reach);
    const int x1 = std::min(o.width, xTo + reach), y1 = std::min(o.height, yTo + reach);
    const int ss = std::max(1, o.supersample);
    const double step = 1.0 / ss;
    const float darkLevel = static_cast<float>(o.dark), lightLevel = static_cast<float>(o.light);
    const auto& b = backward.m;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            float sum = 0.0f;
            for (int j = 0; j < ss; ++j) {
                const double sy = y + (j + 0.5) * step;
                for (int i = 0; i < ss; ++i) {
                    const double sx = x + (i + 0.5) * step;
                    double px = sx, py = sy;
                    if (warped) {
                        px += o.warp * (0.6 * std::sin(waveNumber * sx + phase[0]) + 0.4 * std::sin(waveNumber * sy + phase[1]));
                        py += o.warp * (0.6 * std::sin(waveNumber * sy + phase[2]) + 0.4 * std::sin(waveNumber * sx + phase[3]));
                    }
                    double w = b[6] * px + b[7] * py + b[8];
                    double u = 0.0, v = 0.0;
                    if (curved) {
                        w = cylinder.backward(px, py, u, v) ? 1.0 : -1.0;
                    } else {
                        u = (b[0] * px + b[1] * py + b[2]) / w;
                        v = (b[3] * px + b[4] * py + b[5]) / w;
                    }
                    float value = scene.at(x, y);
                    if (w > 0.0 && std::abs(u) < outer && std::abs(v) < outer) {
                        value = lightLevel;
                        const int col = static_cast<int>(std::floor(u + half));
                        const int row = static_cast<int>(std::floor(v + half));
                        if (col >= 0 && col < n && row >= 0 && row < n && grid.at(row, col)) {
                            // A dot printer leaves light round each dot.
                            const double du = u + half - col - 0.5, dv = v + half - row - 0.5;
                            if (o.dotDiameter <= 0.0 || 4.0 * (du * du + dv * dv) <= o.dotDiameter * o.dotDiameter)
                                value = darkLevel;
                        }
                    }
                    sum += value;
                }
            }
            img.at(x, y) = sum / static_cast<float>(ss * ss);
        }
    }

    applyIllumination(img, o.gradient, o.gradientAngleDeg);
    applyGlare(img, o);
    blur(img, o.blurSigma);
    return quantise(img, o.noiseSigma, rng);
}

Frame jpegRoundTrip(const Frame& frame, int quality) {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct c{};
    jpeg_error_mgr cerr{};
    c.err = jpeg_std_error(&cerr);
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = static_cast<JDIMENSION>(frame.width);
    c.image_height = static_cast<JDIMENSION>(frame.height);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(frame.pixels.data() + static_cast<std::size_t>(c.next_scanline) * static_cast<std::size_t>(frame.width));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);

    Frame out{frame.width, frame.height, std::vector<std::uint8_t>(frame.pixels.size())};
    jpeg_decompress_struct d{};
    jpeg_error_mgr derr{};
    d.err = jpeg_std_error(&derr);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, buffer, size);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out.pixels.data() + static_cast<std::size_t>(d.output_scanline) * static_cast<std::size_t>(frame.width);
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::free(buffer);
    return out;
}

Frame uniformFrame(int width, int height, std::uint8_t value) {
    return Frame{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height, value)};
}

Frame noiseFrame(int width, int height, double mean, double sigma, std::uint32_t seed) {
    Rng rng(seed);
    return quantise(FloatImage(width, height, static_cast<float>(mean)), sigma, rng);
}

Frame withNoise(Frame frame, double sigma, std::uint32_t seed) {
    const Frame noise = noiseFrame(frame.width, frame.height, 128.0, sigma, seed);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i)
        frame.pixels[i] = static_cast<std::uint8_t>(std::clamp(frame.pixels[i] + noise.pixels[i] - 128, 0, 255));
    return frame;
}

Frame gradientFrame(int width, int height, std::uint8_t from, std::uint8_t to, double angleDeg) {
    FloatImage img(width, height, static_cast<float>(from));
    const double c = std::cos(angleDeg * kDegree), s = std::sin(angleDeg * kDegree);
    const std::array<double, 4> corner = {0.0, width * c, height * s, width * c + height * s};
    const double lo = *std::min_element(corner.begin(), corner.end());
    const double span = std::max(*std::max_element(corner.begin(), corner.end()) - lo, 1.0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double t = ((x + 0.5) * c + (y + 0.5) * s - lo) / span;
            img.at(x, y) = static_cast<float>(from + (to - from) * t);
        }
    Rng rng(0);
    return quantise(img, 0.0, rng);
}

Frame clutterFrame(int width, int height, int items, std::uint32_t seed) {
    Rng rng(seed);
    FloatImage img(width, height, static_cast<float>(rng.between(90, 170)));
    drawClutter(img, items, rng);
    return quantise(img, 0.0, rng);
}

ModuleGrid loneBullseyeGrid(bool fullRange, int size, std::uint32_t seed) {
    // A real finder and orientation marks, taken from a libzint symbol.
    ModuleGrid real;
    encodeAztec("LONE", {.size = fullRange ? 5 : 1}, real);
    const int ringRadius = fullRange ? 7 : 5;  // the mode ring round the bull's-eye
    const int realCentre = real.size / 2;
    const int centre = size / 2;

    Rng rng(seed);
    for (;;) {
        ModuleGrid g;
        g.size = size;
        g.modules.assign(static_cast<std::size_t>(size), std::vector<bool>(static_cast<std::size_t>(size)));
        for (int r = 0; r < size; ++r) {
            for (int c = 0; c < size; ++c) {
                const int du = c - centre, dv = r - centre;
                const int d = std::max(std::abs(du), std::abs(dv));
                // Orientation marks: the corner module of the mode ring and its two ring neighbours.
                const bool mark = d == ringRadius && std::abs(du) >= ringRadius - 1 && std::abs(dv) >= ringRadius - 1;
                const bool keep = d < ringRadius || mark;
                g.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
                    keep ? real.at(realCentre + dv, realCentre + du) : rng.coin();
            }
        }
        AztecCore::SymbolCandidate cand;
        cand.type = fullRange ? AztecCore::SymbolType::FullRange : AztecCore::SymbolType::Compact;
        if (bullseyeType(g) == cand.type && !Aztec::decodeModeMessage(cand, ringBits(g, cand.type))) return g;
    }
}

bool writePgm(const std::string& path, const Frame& frame) {
    std::ofstream out(path, std::ios::binary);
    if (!out) return false;
    out << "P5\n" << frame.width << " " << frame.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(frame.pixels.data()), static_cast<std::streamsize>(frame.pixels.size()));
    return static_cast<bool>(out);
}

bool readPgm(const std::string& path, Frame& frame) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // Header fields are separated by white space; '#' starts a comment.
    auto field = [&in](std::string& tok) {
        tok.clear();
        for (int ch = in.get(); ch != EOF; ch = in.get()) {
            if (ch == '#') {
                while (ch != EOF && ch != '\n') ch = in.get();
                continue;
            }
            if (std::isspace(ch)) {
                if (!tok.empty()) return true;
                continue;
            }
            tok.push_back(static_cast<char>(ch));
        }
        return !tok.empty();
    };
    std::string magic, w, h, maxval;
    if (!field(magic) || magic != "P5" || !field(w) || !field(h) || !field(maxval) || maxval != "255") return false;
    frame.width = std::atoi(w.c_str());
    frame.height = std::atoi(h.c_str());
    constexpr long kMaxSide = 1 << 14;  // far beyond any camera frame we test with
    if (frame.width <= 0 || frame.height <= 0 || frame.width > kMaxSide || frame.height > kMaxSide) return false;
    frame.pixels.resize(static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height));
    in.read(reinterpret_cast<char*>(frame.pixels.data()), static_cast<std::streamsize>(frame.pixels.size()));
    return in.gcount() == static_cast<std::streamsize>(frame.pixels.size());
}

}  // namespace quarrow_test
