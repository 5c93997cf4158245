// The bundled sample frames: each samples/<name>.pgm must read as exactly
// the bytes of samples/<name>.txt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/engine_cases.h"

namespace {

using namespace quarrow_test;
namespace fs = std::filesystem;

TEST(EngineSamples, EverySampleReadsAsItsText) {
    const fs::path dir = QUARROW_SAMPLES_DIR;
    int samples = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".pgm") continue;
        ++samples;
        const std::string name = entry.path().filename().string();
        Frame frame;
        ASSERT_TRUE(readPgm(entry.path().string(), frame)) << name;
        fs::path textPath = entry.path();
        textPath.replace_extension(".txt");
        std::ifstream in(textPath, std::ios::binary);
        ASSERT_TRUE(in) << "no expected text for " << name;
        std::ostringstream text;
        text << in.rdbuf();
        const ReadResult r = readFrame(frame);
        EXPECT_EQ(r.outcome, AztecCore::ReadOutcome::Read) << name << ": " << r.message << r.what;
        EXPECT_EQ(r.bytes, text.str()) << name;
        std::printf("  %s: %s\n", name.c_str(), r.message.c_str());
    }
    EXPECT_GE(samples, 1) << "no samples in " << dir;
}

}  // namespace
