// Writes a clean camera frame of one Aztec symbol as a PGM, for the
// install test's consumers to read.
#include <cstdio>

#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_frame TEXT OUT.pgm\n");
        return 2;
    }
    quarrow_test::ModuleGrid grid;
    if (!quarrow_test::encodeAztec(argv[1], {}, grid)) return 1;
    quarrow_test::RenderOptions options;
    options.moduleSize = 8.0;
    return quarrow_test::writePgm(argv[2], quarrow_test::renderSymbol(grid, options)) ? 0 : 1;
}
