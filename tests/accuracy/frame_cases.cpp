#include "accuracy/frame_cases.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "quarrow/quarrow.hpp"

namespace quarrow_test {

namespace {

class Dice {
public:
    explicit Dice(std::uint32_t seed) : engine_(seed) {}
    double uniform(double lo, double hi) { return lo + (hi - lo) * (static_cast<double>(engine_()) / 4294967296.0); }
    int between(int lo, int hi) { return lo + static_cast<int>(uniform(0.0, 1.0) * (hi - lo + 1)); }
    bool coin() { return (engine_() & 1u) != 0; }
    std::uint32_t next() { return engine_(); }

private:
    std::mt19937 engine_;
};

std::uint32_t caseSeed(std::uint32_t seed, int category, int index) {
    return seed * 2654435761u + static_cast<std::uint32_t>(category) * 40503u + static_cast<std::uint32_t>(index) * 97u + 1u;
}

std::string randomText(Dice& d, int minLen, int maxLen) {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,:;-/+!?#";
    const int n = d.between(minLen, maxLen);
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(kChars[d.between(0, static_cast<int>(sizeof kChars) - 2)]);
    return s;
}

ModuleGrid encode(const std::string& text, int size = 0) {
    ModuleGrid g;
    EncodeOptions o;
    o.size = size;
    if (!encodeAztec(text, o, g)) encodeAztec(text, {}, g);
    return g;
}

// A symbol with its text, rendered with `o` onto `scene` (or the background).
Frame renderText(const std::string& text, RenderOptions o, int size = 0) { return renderSymbol(encode(text, size), o); }

// Displacement that keeps the symbol and its quiet zone inside the frame.
void placeWithin(Dice& d, RenderOptions& o, int gridSize, double minShare, double maxShare) {
    const double extent = (gridSize / 2.0 + o.quietZone) * o.moduleSize * 1.45;
    const double a = d.uniform(0.0, 2.0 * std::numbers::pi);
    const double share = d.uniform(minShare, maxShare);
    double dx = std::cos(a) * share * o.width, dy = std::sin(a) * share * o.height;
    const double mx = std::max(0.0, o.width / 2.0 - extent), my = std::max(0.0, o.height / 2.0 - extent);
    o.dx = std::clamp(dx, -mx, mx);
    o.dy = std::clamp(dy, -my, my);
}

// Paper that is not flat, a crumpled or wavy sheet: warped by 0.3-0.8
// module in waves of 24-40 modules (a few centimetres of a printed label).
void warpLikePaper(Dice& d, RenderOptions& o) {
    o.warp = d.uniform(0.3, 0.8) * o.moduleSize;
    o.warpWavelength = d.uniform(24.0, 40.0) * o.moduleSize;
}

FramePoint centreOf(const RenderOptions& o, int size) { return gridToFrame(o, size, size / 2 + 0.5, size / 2 + 0.5); }

FrameCase::Placement placementOf(const RenderOptions& o, int size) {
    FrameCase::Placement p;
    p.size = size;
    p.module = o.moduleSize;
    p.blur = o.blurSigma / o.moduleSize;
    p.noise = o.noiseSigma;
    const double c = size / 2 + 0.5, s = size / 2;
    const double du[4] = {-s, s, s, -s}, dv[4] = {-s, -s, s, s};
    for (int k = 0; k < 4; ++k) p.corners[k] = gridToFrame(o, size, c + du[k], c + dv[k]);
    return p;
}

}  // namespace

const char* categoryName(Category c) {
    switch (c) {
        case Category::Clean: return "clean, upright, every size";
        case Category::Blur30: return "blur 0.30 module, noise 1-3";
        case Category::Blur45: return "blur 0.45 module, noise 1-3";
        case Category::Blur60: return "blur 0.60 module, noise 1-3";
        case Category::Blur75: return "blur 0.75 module, noise 1-3";
        case Category::Blur90: return "blur 0.90 module, noise 1-3";
        case Category::Rotation: return "every degree, plain+mirrored, 3-6 px";
        case Category::Tilt: return "tilt up to 35 degrees";
        case Category::TwoPixel: return "2 px/module, sharp";
        case Category::Fill: return "filling 50-95% of shorter side";
        case Category::Anywhere: return "20-45% off centre, clutter";
        case Category::Several: return "2-3 symbols (readAll, all found)";
        case Category::LightOnDark: return "light on dark, any angle/place";
        case Category::CameraMix: return "camera mix (tilt, blur, noise, JPEG)";
        case Category::Dots60: return "dots 0.6-0.7 of the pitch, 4-8 px";
        case Category::Dots70: return "dots 0.7-0.8 of the pitch, 4-8 px";
        case Category::Dots80: return "dots 0.8-0.9 of the pitch, 4-8 px";
        case Category::Curved30: return "on a cylinder, wrap 29-45 degrees";
        case Category::Curved45: return "on a cylinder, wrap 45-63 degrees";
        case Category::Curved63: return "on a cylinder, wrap 63-92 degrees";
        case Category::Glare: return "glare spot over the symbol";
        case Category::Warped: return "paper not flat, warped 0.3-0.8 module";
        case Category::SmallBlurred: return "2-2.5 px/module, blur 0.5 module";
    }
    return "?";
}

Aztec::Math::Homography exactTransform(const FrameCase::Placement& p) {
    const double s = p.size / 2;
    const AztecCore::Point2d src[4] = {{-s, -s}, {s, -s}, {s, s}, {-s, s}};
    AztecCore::Point2d dst[4];
    for (int k = 0; k < 4; ++k) dst[k] = {p.corners[k].x - 0.5, p.corners[k].y - 0.5};
    return Aztec::Math::fitHomography(src[0], src[1], src[2], src[3], dst[0], dst[1], dst[2], dst[3]);
}

double transformError(const Aztec::Math::Homography& fit, const Aztec::Math::Homography& exact, double r,
                      double module) {
    double best = 1e9;
    for (int d = 0; d < 8; ++d) {
        double worst = 0.0;
        for (int k = 0; k < 8; ++k) {
            const double a = 2.0 * std::numbers::pi * k / 8.0;
            double u = r * std::cos(a), v = r * std::sin(a);
            const auto t = Aztec::Math::mapPoint(exact, u, v);
            if (d & 4) u = -u;
            for (int q = 0; q < (d & 3); ++q) {
                const double w = u;
                u = -v;
                v = w;
            }
            const auto f = Aztec::Math::mapPoint(fit, u, v);
            worst = std::max(worst, std::hypot(f.x - t.x, f.y - t.y) / module);
        }
        best = std::min(best, worst);
    }
    return best;
}

FrameCase makeCase(Category category, int index, std::uint32_t seed) {
    Dice d(caseSeed(seed, static_cast<int>(category), index));
    FrameCase c;
    RenderOptions o;
    o.seed = d.next();
    o.rotationDeg = d.uniform(0.0, 360.0);
    o.mirror = d.coin();
    std::string text = randomText(d, 4, 60);
    int forcedSize = 0;
    // Draws `text` with the options so far, its centre placed at a random
    // share of the frame between lo and hi (left where it is for lo < 0).
    auto drawPlaced = [&](double lo, double hi) {
        const ModuleGrid g = encode(text);
        if (lo >= 0.0) placeWithin(d, o, g.size, lo, hi);
        c.frame = renderSymbol(g, o);
        c.centres.push_back(centreOf(o, g.size));
        c.placements.push_back(placementOf(o, g.size));
    };
    switch (category) {
        case Category::Clean: {
            text = randomText(d, 1, 240);
            forcedSize = d.between(0, 3) == 0 ? d.between(1, 4) : 0;  // compact sizes now and then
            o.rotationDeg = 0.0;
            o.mirror = false;
            o.moduleSize = d.uniform(4.0, 6.0);
            const ModuleGrid g = encode(text, forcedSize);
            if ((g.size + 6) * o.moduleSize > 470) o.moduleSize = 470.0 / (g.size + 6);
            o.width = 640;
            o.height = 480;
            c.frame = renderSymbol(g, o);
            c.centres.push_back(centreOf(o, g.size));
            c.placements.push_back(placementOf(o, g.size));
            break;
        }
        case Category::Blur30:
        case Category::Blur45:
        case Category::Blur60:
        case Category::Blur75:
        case Category::Blur90: {
            const double sigma = category == Category::Blur30   ? 0.30
                                 : category == Category::Blur45 ? 0.45
                                 : category == Category::Blur60 ? 0.60
                                 : category == Category::Blur75 ? 0.75
                                                                : 0.90;
            text = randomText(d, 4, 40);
            o.moduleSize = d.uniform(4.0, 8.0);
            o.blurSigma = sigma * o.moduleSize;
            o.noiseSigma = d.uniform(1.0, 3.0);
            drawPlaced(0.0, 0.1);
            break;
        }
        case Category::Rotation: {
            o.rotationDeg = index % 360;
            o.mirror = (index / 360) % 2 == 1;
            o.moduleSize = d.uniform(3.0, 6.0);
            drawPlaced(0.0, 0.1);
            break;
        }
        case Category::Tilt: {
            const double tilt = d.uniform(0.0, 35.0), dir = d.uniform(0.0, 2.0 * std::numbers::pi);
            o.tiltXDeg = tilt * std::cos(dir);
            o.tiltYDeg = tilt * std::sin(dir);
            o.moduleSize = d.uniform(4.0, 6.0);
            drawPlaced(-1.0, -1.0);
            break;
        }
        case Category::TwoPixel: {
            o.moduleSize = d.uniform(2.0, 2.3);
            drawPlaced(0.0, 0.2);
            break;
        }
        case Category::Fill: {
            text = randomText(d, 4, 120);
            const ModuleGrid g = encode(text);
            o.moduleSize = d.uniform(0.5, 0.95) * o.height / g.size;
            o.rotationDeg = d.uniform(-10.0, 10.0);
            c.frame = renderSymbol(g, o);
            c.centres.push_back(centreOf(o, g.size));
            c.placements.push_back(placementOf(o, g.size));
            break;
        }
        case Category::Anywhere: {
            o.moduleSize = d.uniform(3.5, 6.0);
            o.clutter = 20;
            drawPlaced(0.2, 0.45);
            break;
        }
        case Category::Several: {
            o.width = 1280;
            o.height = 720;
            const int n = d.between(2, 3);
            Frame scene = uniformFrame(o.width, o.height, 120);
            for (int i = 0; i < n; ++i) {
                RenderOptions s = o;
                s.seed = d.next();
                s.rotationDeg = d.uniform(0.0, 360.0);
                s.mirror = d.coin();
                s.moduleSize = d.uniform(3.0, 4.5);
                s.dx = (i + 0.5) * o.width / n - o.width / 2.0 + d.uniform(-40.0, 40.0);
                s.dy = d.uniform(-150.0, 150.0);
                s.scene = &scene;
                const std::string t = randomText(d, 4, 40);
                scene = renderText(t, s);
                c.centres.push_back(centreOf(s, encode(t).size));
                c.placements.push_back(placementOf(s, encode(t).size));
                c.expected.push_back(t);
            }
            c.frame = std::move(scene);
            c.all = true;
            return c;
        }
        case Category::LightOnDark: {
            o.moduleSize = d.uniform(3.0, 6.0);
            o.dark = 225;
            o.light = 25;
            o.background = d.between(30, 200);
            drawPlaced(0.0, 0.4);
            break;
        }
        case Category::CameraMix: {
            const double tilt = d.uniform(0.0, 20.0), dir = d.uniform(0.0, 2.0 * std::numbers::pi);
            o.tiltXDeg = tilt * std::cos(dir);
            o.tiltYDeg = tilt * std::sin(dir);
            o.moduleSize = d.uniform(3.5, 6.0);
            o.blurSigma = d.uniform(1.6, 3.4);
            o.noiseSigma = d.uniform(3.0, 12.0);
            o.gradient = d.uniform(0.0, 0.5);
            o.gradientAngleDeg = d.uniform(0.0, 360.0);
            c.frame = jpegRoundTrip(renderText(text, o), d.between(45, 85));
            c.centres.push_back(centreOf(o, encode(text).size));
            c.placements.push_back(placementOf(o, encode(text).size));
            break;
        }
        case Category::Dots60:
        case Category::Dots70:
        case Category::Dots80: {
            const double low = category == Category::Dots60 ? 0.6 : category == Category::Dots70 ? 0.7 : 0.8;
            o.dotDiameter = d.uniform(low, low + 0.1);
            o.moduleSize = d.uniform(4.0, 8.0);
            o.rotationDeg = d.uniform(-10.0, 10.0);
            o.blurSigma = d.uniform(0.3, 1.0);
            o.noiseSigma = d.uniform(1.0, 3.0);
            drawPlaced(0.0, 0.1);
            break;
        }
        case Category::Curved30:
        case Category::Curved45:
        case Category::Curved63: {
            const double lo = category == Category::Curved30 ? 29.0 : category == Category::Curved45 ? 45.0 : 63.0;
            const double hi = category == Category::Curved30 ? 45.0 : category == Category::Curved45 ? 63.0 : 92.0;
            o.cylinderRadius = 1.0 / (d.uniform(lo, hi) * std::numbers::pi / 180.0);
            o.cylinderAxisDeg = d.uniform(0.0, 180.0);
            const double tilt = d.uniform(0.0, 15.0), dir = d.uniform(0.0, 2.0 * std::numbers::pi);
            o.tiltXDeg = tilt * std::cos(dir);
            o.tiltYDeg = tilt * std::sin(dir);
            o.moduleSize = d.uniform(3.5, 6.0);
            o.blurSigma = d.uniform(0.2, 0.35) * o.moduleSize;
            o.noiseSigma = d.uniform(1.0, 4.0);
            drawPlaced(0.0, 0.15);
            break;
        }
        case Category::Glare: {
            // A highlight of 150-250 grey levels, its radius 8-15 % of the
            // symbol's side, centred anywhere within a third of the side
            // of the symbol's centre: white where the peak saturates, the
            // modules' contrast fading round it.
            const ModuleGrid g = encode(text);
            o.moduleSize = d.uniform(3.5, 6.0);
            o.blurSigma = 0.3 * o.moduleSize;
            o.noiseSigma = d.uniform(2.0, 4.0);
            placeWithin(d, o, g.size, 0.0, 0.1);
            const double side = g.size * o.moduleSize;
            o.glare = d.uniform(150.0, 250.0);
            o.glareRadius = d.uniform(0.08, 0.15) * side;
            o.glareX = o.width / 2.0 + o.dx + d.uniform(-1.0, 1.0) * side / 3.0;
            o.glareY = o.height / 2.0 + o.dy + d.uniform(-1.0, 1.0) * side / 3.0;
            c.frame = renderSymbol(g, o);
            c.centres.push_back(centreOf(o, g.size));
            c.placements.push_back(placementOf(o, g.size));
            break;
        }
        case Category::Warped: {
            o.moduleSize = d.uniform(3.5, 6.0);
            o.blurSigma = 0.3 * o.moduleSize;
            o.noiseSigma = d.uniform(2.0, 4.0);
            warpLikePaper(d, o);
            drawPlaced(0.0, 0.1);
            break;
        }
        case Category::SmallBlurred: {
            o.moduleSize = d.uniform(2.0, 2.5);
            o.blurSigma = 0.5 * o.moduleSize;
            o.noiseSigma = d.uniform(1.0, 3.0);
            drawPlaced(0.0, 0.1);
            break;
        }
    }
    c.expected.push_back(text);
    return c;
}

const char* soakKindName(int kind) {
    static constexpr const char* kNames[kSoakKinds] = {
        "damaged data beyond capacity", "sensor noise",        "text and shapes", "lone bull's-eyes",
        "QR-like patterns",             "Data Matrix-like",    "empty and ramps", "damaged mode message",
    };
    return kind >= 0 && kind < kSoakKinds ? kNames[kind] : "?";
}

SoakCase makeSoakCase(int kind, int index, std::uint32_t seed, SoakStyle style) {
    Dice d(caseSeed(seed, 100 + kind, index));
    SoakCase c;
    RenderOptions o;
    o.width = 320;
    o.height = 240;
    o.seed = d.next();
    o.rotationDeg = d.uniform(0.0, 360.0);
    o.mirror = d.coin();
    o.moduleSize = d.uniform(2.5, 5.0);
    o.noiseSigma = d.uniform(0.0, 4.0);
    if (style.blurred) {
        Dice b(caseSeed(seed, 200 + kind, index));
        o.blurSigma = b.uniform(0.45, 1.0) * o.moduleSize;
        if (style.noisy) o.noiseSigma = b.uniform(3.0, 12.0);
    }
    if (style.glare) {
        Dice g(caseSeed(seed, 300 + kind, index));
        o.glare = g.uniform(150.0, 250.0);
        o.glareRadius = g.uniform(5.0, 30.0);
        o.glareX = g.uniform(0.25, 0.75) * o.width;
        o.glareY = g.uniform(0.25, 0.75) * o.height;
    }
    if (style.warped) {
        Dice w(caseSeed(seed, 400 + kind, index));
        warpLikePaper(w, o);
    }
    switch (kind) {
        case 0:
        case 7: {
            c.original = randomText(d, 4, 40);
            ModuleGrid g = encode(c.original);
            const int centre = g.size / 2;
            // Core: the bull's-eye and mode ring reach 5 (compact) or 7
            // (full-range) modules; the data lies beyond.
            const int core = g.size <= 27 ? 5 : 7;
            const double share = d.uniform(0.3, 0.6);
            for (int r = 0; r < g.size; ++r) {
                for (int col = 0; col < g.size; ++col) {
                    const int dist = std::max(std::abs(r - centre), std::abs(col - centre));
                    const bool flip = kind == 0 ? dist > core && d.uniform(0.0, 1.0) < share
                                                : dist == core && d.uniform(0.0, 1.0) < 0.3;
                    if (flip) g.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(col)] = !g.at(r, col);
                }
            }
            o.clutter = d.between(0, 10);
            c.frame = renderSymbol(g, o);
            break;
        }
        case 1: c.frame = noiseFrame(o.width, o.height, d.uniform(40.0, 200.0), d.uniform(5.0, 60.0), d.next()); break;
        case 2: c.frame = clutterFrame(o.width, o.height, d.between(20, 90), d.next()); break;
        case 3: {
            const bool full = d.coin();
            c.frame = renderSymbol(loneBullseyeGrid(full, full ? 2 * d.between(9, 16) + 1 : 2 * d.between(7, 13) + 1, d.next()), o);
            break;
        }
        case 4:
        case 5: {
            ModuleGrid g;
            g.size = kind == 4 ? 21 + 4 * d.between(0, 5) : 2 * d.between(5, 13);
            g.modules.assign(static_cast<std::size_t>(g.size), std::vector<bool>(static_cast<std::size_t>(g.size)));
            for (auto& row : g.modules)
                for (std::size_t i = 0; i < row.size(); ++i) row[i] = d.coin();
            auto set = [&g](int r, int col, bool v) { g.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(col)] = v; };
            if (kind == 4) {
                // Three finder squares: 7 x 7 dark ring, light ring, 3 x 3 dark centre.
                const int n = g.size;
                for (auto [r0, c0] : {std::pair{0, 0}, std::pair{0, n - 7}, std::pair{n - 7, 0}}) {
                    for (int r = 0; r < 7; ++r)
                        for (int col = 0; col < 7; ++col) {
                            const int dd = std::max(std::abs(r - 3), std::abs(col - 3));
                            set(r0 + r, c0 + col, dd != 2);
                        }
                }
            } else {
                for (int i = 0; i < g.size; ++i) {
                    set(i, 0, true);
                    set(g.size - 1, i, true);
                    set(0, i, i % 2 == 0);
                    set(i, g.size - 1, i % 2 == 1);
                }
            }
            o.clutter = d.between(0, 10);
            c.frame = renderSymbol(g, o);
            break;
        }
        default:
            c.frame = d.coin() ? uniformFrame(o.width, o.height, static_cast<std::uint8_t>(d.between(0, 255)))
                               : gradientFrame(o.width, o.height, static_cast<std::uint8_t>(d.between(0, 255)),
                                               static_cast<std::uint8_t>(d.between(0, 255)), d.uniform(0.0, 360.0));
            break;
    }
    return c;
}

Tally runCategory(Category category, int count, std::uint32_t seed, int step) {
    Tally t;
    for (int i = 0; i < count; ++i) {
        const FrameCase c = makeCase(category, i * step, seed);
        ++t.frames;
        if (c.all) {
            const auto results = quarrow::readAll(c.frame.pixels.data(), c.frame.width, c.frame.height);
            int matched = 0;
            bool wrong = false;
            for (const auto& r : results) {
                if (r.outcome != quarrow::Outcome::Read) continue;
                const std::string got(r.bytes.begin(), r.bytes.end());
                if (std::find(c.expected.begin(), c.expected.end(), got) != c.expected.end()) {
                    ++matched;
                } else {
                    wrong = true;
                }
            }
            if (wrong) ++t.wrong;
            if (!wrong && matched == static_cast<int>(c.expected.size())) ++t.read;
            continue;
        }
        const auto r = quarrow::read(c.frame.pixels.data(), c.frame.width, c.frame.height);
        if (r.outcome != quarrow::Outcome::Read) continue;
        if (std::string(r.bytes.begin(), r.bytes.end()) == c.expected.front()) {
            ++t.read;
            if (category == Category::Clean && r.correctedWords > 0) ++t.cleanCorrections;
        } else {
            ++t.wrong;
        }
    }
    return t;
}

Tally runSoak(int kind, int count, std::uint32_t seed, SoakStyle style) {
    Tally t;
    for (int i = 0; i < count; ++i) {
        const SoakCase c = makeSoakCase(kind, i, seed, style);
        ++t.frames;
        const auto all = quarrow::readAll(c.frame.pixels.data(), c.frame.width, c.frame.height);
        for (const auto& r : all) {
            if (r.outcome != quarrow::Outcome::Read) continue;
            ++t.read;
            if (std::string(r.bytes.begin(), r.bytes.end()) != c.original) ++t.wrong;
        }
    }
    return t;
}

}  // namespace quarrow_test
