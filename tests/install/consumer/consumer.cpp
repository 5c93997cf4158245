// Reads a frame given as a PGM file (or a blank frame) with the installed
// C++ interface and prints the outcome and text.
#include <quarrow/quarrow.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::uint8_t> pixels(64 * 48, 200);
    int width = 64, height = 48;
    if (argc > 1) {
        // A binary PGM with a plain "P5 W H 255" header.
        std::ifstream in(argv[1], std::ios::binary);
        std::string magic;
        int maxval = 0;
        in >> magic >> width >> height >> maxval;
        in.get();
        pixels.assign(std::istreambuf_iterator<char>(in), {});
    }
    const quarrow::ReadResult r = quarrow::read(pixels, width, height);
    if (!r.ok()) {
        std::printf("error: %s\n", quarrow::toString(r.status));
        return 1;
    }
    if (quarrow::read(nullptr, 1, 1).status != quarrow::Status::NullFrame) return 1;
    std::printf("%s %s\n", quarrow::toString(r.outcome), r.text.c_str());
    return 0;
}
