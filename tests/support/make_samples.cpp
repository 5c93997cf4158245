// Writes the bundled sample frames: for each sample a camera-like frame
// <name>.pgm (binary P5) and <name>.txt holding the exact bytes that a
// read must give. Usage: quarrow-make-samples <output-dir>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine/reader_engine.h"
#include "image/gray_buf.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;

constexpr char kGroupSeparator = '\x1d';

struct Sample {
    std::string name;
    std::string input;     // what libzint encodes
    std::string expected;  // what a read gives
    EncodeOptions encode;
    int quarterTurns;
    RenderOptions render;
};

RenderOptions frame(int width, int height, double moduleSize, std::uint32_t seed) {
    RenderOptions o;
    o.width = width;
    o.height = height;
    o.moduleSize = moduleSize;
    o.seed = seed;
    return o;
}

std::vector<Sample> catalogue() {
    std::vector<Sample> s;

    // A hand-held phone over a boarding pass: a few degrees off, slightly
    // tilted, a little out of focus, uneven light, paper and print round it.
    const std::string pass = "M1DOE/JANE            EABC123 LHRJFKBA 0117 123Y014C0042 100";
    RenderOptions o = frame(1280, 720, 5.0, 2024);
    o.dx = 18;
    o.dy = -12;
    o.rotationDeg = 4.0;
    o.tiltXDeg = 7.0;
    o.tiltYDeg = -5.0;
    o.blurSigma = 0.8;
    o.noiseSigma = 3.0;
    o.gradient = 0.25;
    o.gradientAngleDeg = 30.0;
    o.background = 150;
    o.clutter = 12;
    s.push_back({"boarding-pass", pass, pass, {.size = 8}, 0, o});

    const std::string compact = "Quarrow compact sample 2";
    o = frame(640, 480, 6.0, 7);
    o.noiseSigma = 2.0;
    o.blurSigma = 0.5;
    s.push_back({"compact", compact, compact, {.size = 2}, 0, o});

    const std::string turned = "TURNED A QUARTER CLOCKWISE 90";
    o = frame(800, 600, 5.0, 11);
    o.noiseSigma = 2.0;
    o.blurSigma = 0.6;
    s.push_back({"rotated-90", turned, turned, {.size = 6}, 1, o});

    const std::string tilted = "Tilted 15 and 12 degrees about x and y: perspective sample.";
    o = frame(1280, 720, 5.0, 13);
    o.tiltXDeg = 15.0;
    o.tiltYDeg = 12.0;
    o.blurSigma = 0.7;
    o.noiseSigma = 2.5;
    o.gradient = 0.15;
    s.push_back({"tilted", tilted, tilted, {.size = 9}, 0, o});

    // ECI 26 announces UTF-8; the bytes come back as they were encoded.
    const std::string utf8 = "Gr\xc3\xbc\xc3\x9f" "e aus Z\xc3\xbcrich \xe2\x80\x94 \xe6\x9d\xb1\xe4\xba\xac \xe2\x9c\x93";
    o = frame(800, 600, 5.0, 17);
    o.blurSigma = 0.6;
    o.noiseSigma = 2.0;
    o.rotationDeg = -3.0;
    s.push_back({"utf8-eci26", utf8, utf8, {.eci = 26, .utf8 = true}, 0, o});

    // GS1: the leading FNC1 marks the symbol as GS1 and gives no byte; the
    // FNC1 after the variable-length AI (10) reads as a group separator.
    const std::string gs1 = "[10]AB12[01]09501101530003";
    const std::string gs1Bytes = std::string("10AB12") + kGroupSeparator + "0109501101530003";
    o = frame(640, 480, 5.0, 19);
    o.blurSigma = 0.6;
    o.noiseSigma = 2.0;
    s.push_back({"gs1", gs1, gs1Bytes, {.gs1 = true}, 0, o});
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-dir>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    int failures = 0;
    for (const Sample& s : catalogue()) {
        ModuleGrid grid;
        std::string error;
        if (!encodeAztec(s.input, s.encode, grid, &error)) {
            std::fprintf(stderr, "%s: libzint refused: %s\n", s.name.c_str(), error.c_str());
            ++failures;
            continue;
        }
        const Frame f = renderSymbol(transformGrid(grid, s.quarterTurns, false), s.render);
        const std::string pgm = dir + "/" + s.name + ".pgm";
        std::ofstream text(dir + "/" + s.name + ".txt", std::ios::binary);
        text.write(s.expected.data(), static_cast<std::streamsize>(s.expected.size()));
        if (!writePgm(pgm, f) || !text) {
            std::fprintf(stderr, "%s: cannot write\n", pgm.c_str());
            ++failures;
            continue;
        }
        // Report how today's reader does on it.
        AztecCore::ReaderEngine engine;
        std::string message;
        const auto outcome = engine.read(AztecCore::Image::GrayBuf(f.pixels.data(), f.width, f.height), message);
        const bool exact = outcome == AztecCore::ReadOutcome::Read && engine.dataText() == s.expected;
        std::printf("%-14s %4dx%-4d %3d modules  %s  [%s]\n", s.name.c_str(), f.width, f.height, grid.size,
                    exact ? "reads exactly" : "NOT READ", message.c_str());
    }
    return failures == 0 ? 0 : 1;
}
