// quarrow-read as its users run it: files in, lines out, exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image_io.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace {

using namespace quarrow_test;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Per process, so that suites run side by side do not share files.
std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "quarrow_read_" + std::to_string(getpid()) + "_" + name;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// Runs the tool with `args` (already shell-quoted); stdin from `input`
// when given.
ToolRun run(const std::string& args, const std::string& input = "") {
    const std::string outPath = tempPath("stdout"), errPath = tempPath("stderr");
    std::string cmd = std::string("'") + QUARROW_READ_EXE + "' " + args;
    if (!input.empty()) cmd += " < '" + input + "'";
    cmd += " > '" + outPath + "' 2> '" + errPath + "'";
    ToolRun r;
    const int rc = std::system(cmd.c_str());
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
}

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

Frame symbolFrame(const std::string& data, bool utf8 = false) {
    ModuleGrid g;
    EncodeOptions opt;
    opt.utf8 = utf8;
    EXPECT_TRUE(encodeAztec(data, opt, g));
    RenderOptions r;
    r.width = 320;
    r.height = 240;
    return renderSymbol(g, r);
}

std::string pgmFile(const std::string& name, const Frame& f) {
    const std::string path = tempPath(name);
    EXPECT_TRUE(writePgm(path, f));
    return path;
}

std::string y4m(const std::vector<Frame>& frames) {
    std::string s = "YUV4MPEG2 W" + std::to_string(frames[0].width) + " H" + std::to_string(frames[0].height) + " F25:1 C420jpeg\n";
    const std::size_t chroma = 2 * static_cast<std::size_t>((frames[0].width + 1) / 2) * static_cast<std::size_t>((frames[0].height + 1) / 2);
    for (const Frame& f : frames) {
        s += "FRAME\n";
        s.append(f.pixels.begin(), f.pixels.end());
        s.append(chroma, '\x80');
    }
    return s;
}

TEST(QuarrowRead, JsonOneObjectPerFileInOrder) {
    const std::string good = pgmFile("good.pgm", symbolFrame("Hello JSON"));
    const std::string blank = pgmFile("blank.pgm", uniformFrame(200, 150, 200));
    const std::string shortFile = tempPath("short.pgm");
    spit(shortFile, "P5 100 100 255\nabc");
    const ToolRun r = run("--json '" + good + "' '" + tempPath("missing.pgm") + "' '" + blank + "' '" + shortFile + "'");
    EXPECT_EQ(r.status, 1);
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 4u) << r.out;
    EXPECT_NE(l[0].find("\"file\":\"" + good + "\""), std::string::npos);
    EXPECT_NE(l[0].find("\"outcome\":\"Read\""), std::string::npos) << l[0];
    EXPECT_NE(l[0].find("\"text\":\"Hello JSON\""), std::string::npos);
    EXPECT_NE(l[0].find("\"bytes_hex\":\"48656c6c6f204a534f4e\""), std::string::npos);
    // The engine's message, line feed and all, as a JSON string.
    EXPECT_NE(l[0].find("\"message\":\"Read data (C 0' L: "), std::string::npos);
    EXPECT_NE(l[0].find("\\n #err=0\""), std::string::npos);
    EXPECT_NE(l[1].find("\"outcome\":\"Error\""), std::string::npos);
    EXPECT_NE(l[1].find("\"error\":\"cannot open file"), std::string::npos);
    EXPECT_NE(l[1].find("\"bytes_hex\":\"\""), std::string::npos);
    EXPECT_NE(l[2].find("\"outcome\":\"NotLocated\""), std::string::npos);
    EXPECT_NE(l[2].find("\"text\":\"\""), std::string::npos);
    EXPECT_NE(l[3].find("\"outcome\":\"Error\""), std::string::npos);
    EXPECT_NE(l[3].find("truncated"), std::string::npos);
}

TEST(QuarrowRead, PlainTextLinesAndStatus) {
    const std::string good = pgmFile("plain.pgm", symbolFrame("Plain text"));
    const std::string blank = pgmFile("plain_blank.pgm", uniformFrame(100, 100, 90));
    ToolRun r = run("'" + good + "' '" + blank + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Plain text\n\n");
    // Not a terminal: no progress bar, but a summary of the two files.
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    EXPECT_NE(r.err.find("2 files"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 read, 1 not read, 0 errors"), std::string::npos) << r.err;
    r = run("'" + good + "' /nonexistent/x.pgm");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Plain text\n\n");
    EXPECT_NE(r.err.find("/nonexistent/x.pgm"), std::string::npos);
    // A folder is named as one, not as a "read error: read error".
    r = run("'" + ::testing::TempDir() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open file: cannot open " + ::testing::TempDir() + ": it is a folder, not a file"),
              std::string::npos) << r.err;
    r = run("--quiet '" + good + "' '" + blank + "'");
    EXPECT_EQ(r.err, "");
    r = run("--progress '" + good + "' '" + blank + "'");
    EXPECT_NE(r.err.find("\r["), std::string::npos);
}

// In a terminal (here the pseudo-terminal of script(1)) several files get
// the progress bar without asking.
TEST(QuarrowRead, ProgressBarInATerminal) {
    if (std::system("command -v script > /dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) is not installed";
    const std::string a = pgmFile("tty_a.pgm", uniformFrame(64, 48, 90)), b = pgmFile("tty_b.pgm", uniformFrame(64, 48, 90));
    const std::string log = tempPath("tty.log");
    const std::string inner = std::string("'") + QUARROW_READ_EXE + "' '" + a + "' '" + b + "'";
    const std::string cmd = "script -qec \"" + inner + "\" /dev/null > '" + log + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string out = slurp(log);
    EXPECT_NE(out.find("\r["), std::string::npos) << out;
    EXPECT_NE(out.find("2 files"), std::string::npos) << out;
}

TEST(QuarrowRead, LatinOneAndControlBytesBecomeJsonEscapes) {
    // Bytes 0xFC and 0xDF (u umlaut, sharp s in ISO-8859-1), a tab and quotes.
    const std::string data = "Gr\xFC\xDF\t\"x\"\\";
    const std::string f = pgmFile("latin.pgm", symbolFrame(data));
    const ToolRun r = run("--json '" + f + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"text\":\"Gr\xC3\xBC\xC3\x9F\\t\\\"x\\\"\\\\\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"bytes_hex\":\"4772fcdf092278225c\""), std::string::npos) << r.out;
    const ToolRun plain = run("'" + f + "'");
    EXPECT_EQ(plain.out, data + "\n");
}

TEST(QuarrowRead, VideoFramesAndStandardInput) {
    const Frame a = symbolFrame("frame A"), b = symbolFrame("frame B");
    const Frame none = uniformFrame(a.width, a.height, 128);
    const std::string video = tempPath("clip.y4m");
    spit(video, y4m({a, none, b}));
    ToolRun r = run("--json '" + video + "'");
    EXPECT_EQ(r.status, 0);
    auto l = lines(r.out);
    ASSERT_EQ(l.size(), 3u) << r.out;
    EXPECT_NE(l[0].find("\"frame\":0"), std::string::npos);
    EXPECT_NE(l[0].find("\"text\":\"frame A\""), std::string::npos);
    EXPECT_NE(l[1].find("\"frame\":1"), std::string::npos);
    EXPECT_NE(l[1].find("\"outcome\":\"NotLocated\""), std::string::npos);
    EXPECT_NE(l[2].find("\"frame\":2"), std::string::npos);
    EXPECT_NE(l[2].find("\"text\":\"frame B\""), std::string::npos);
    r = run("-", video);
    EXPECT_EQ(r.out, "frame A\n\nframe B\n");
    // A stream cut inside its last frame: two frames, then an error.
    const std::string full = y4m({a, b});
    const std::string cut = tempPath("cut.y4m");
    spit(cut, full.substr(0, full.size() - 100));
    r = run("--json '" + cut + "'");
    EXPECT_EQ(r.status, 1);
    l = lines(r.out);
    ASSERT_EQ(l.size(), 2u) << r.out;
    EXPECT_NE(l[1].find("\"frame\":1,\"outcome\":\"Error\""), std::string::npos) << l[1];
}

TEST(QuarrowRead, DebugImageIsWritten) {
    const std::string f = pgmFile("debug.pgm", symbolFrame("debug me"));
    const std::string out = tempPath("debug.png");
    std::remove(out.c_str());
    const ToolRun r = run("--json --debug-image '" + out + "' '" + f + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"debug_image\":"), std::string::npos);
    quarrow::io::FrameSource src;
    std::string detail;
    ASSERT_EQ(src.open(out, detail), quarrow::io::IoError::Ok) << detail;
    quarrow::io::GreyFrame pic;
    quarrow::io::IoError e;
    ASSERT_EQ(src.next(pic, e, detail), quarrow::io::FrameSource::Next::Frame);
    // 320 x 240 is drawn three times larger.
    EXPECT_EQ(pic.width, 960);
    EXPECT_EQ(pic.height, 720);
    EXPECT_EQ(run("--debug-image /nonexistent-dir/d.png '" + f + "'").status, 1);
}

TEST(QuarrowRead, NumberedDebugImagesForEveryFrame) {
    const Frame a = symbolFrame("frame A"), b = uniformFrame(320, 240, 128);
    const std::string video = tempPath("debug.y4m");
    spit(video, y4m({a, b}));
    const std::string pattern = tempPath("debug-%d.png");
    const std::string first = tempPath("debug-1.png"), second = tempPath("debug-2.png");
    std::remove(first.c_str());
    std::remove(second.c_str());
    const ToolRun r = run("--debug-image '" + pattern + "' '" + video + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "frame A\n\n");
    for (const std::string& p : {first, second}) {
        std::ifstream in(p, std::ios::binary);
        EXPECT_TRUE(in.good()) << p;
    }
}

TEST(QuarrowRead, AllSymbolsAndCentreSearch) {
    const std::string good = pgmFile("all.pgm", symbolFrame("Every one"));
    const std::string blank = pgmFile("all_blank.pgm", uniformFrame(100, 100, 90));
    ToolRun r = run("--all --quiet '" + good + "' '" + blank + "'");
    EXPECT_EQ(r.out, "Every one\n\n");
    r = run("--json --all '" + good + "' '" + blank + "'");
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 2u) << r.out;
    EXPECT_NE(l[0].find("\"symbols\":[{\"outcome\":\"Read\",\"bytes_hex\":\"4576657279206f6e65\""), std::string::npos) << l[0];
    EXPECT_NE(l[0].find("\"light_on_dark\":false"), std::string::npos);
    EXPECT_NE(l[1].find("\"outcome\":\"NotLocated\""), std::string::npos);
    EXPECT_NE(l[1].find("\"symbols\":[]"), std::string::npos) << l[1];
    r = run("--json '" + good + "'");
    EXPECT_EQ(r.out.find("\"symbols\""), std::string::npos);
    EXPECT_EQ(run("--centre --no-light-on-dark '" + good + "'").out, "Every one\n");
    EXPECT_EQ(run("--effort 0.25 '" + good + "'").out, "Every one\n");
    for (const char* bad : {"--effort 0", "--effort=5", "--effort x", "--effort=nan", "--effort"})
        EXPECT_EQ(run(std::string(bad) + " '" + good + "'").status, 2) << bad;
}

// Many files and a video's frames on several threads: the same lines, in
// the same order, as one thread gives.
TEST(QuarrowRead, ThreadsKeepTheInputOrder) {
    namespace fs = std::filesystem;
    const std::string dir = tempPath("tree");
    fs::remove_all(dir);
    fs::create_directories(dir + "/b/c");
    std::string expected;
    for (int i = 0; i < 12; ++i) {
        // Names sort as numbers; every third frame has no symbol.
        const std::string name = std::string(i < 6 ? "/a" : "/b/c/f") + std::to_string(10 + i) + ".pgm";
        const Frame f = i % 3 == 2 ? uniformFrame(160, 120, 200) : symbolFrame("file " + std::to_string(i));
        ASSERT_TRUE(writePgm(dir + name, f));
        expected += i % 3 == 2 ? "\n" : "file " + std::to_string(i) + "\n";
    }
    spit(dir + "/b/notes.txt", "not an image");
    spit(dir + "/b/video.y4m", y4m({symbolFrame("v0"), uniformFrame(320, 240, 90), symbolFrame("v2")}));
    expected += "v0\n\nv2\n";  // b/video.y4m sorts after b/c/
    for (const char* jobs : {"1", "3"}) {
        const ToolRun r = run(std::string("--quiet --recursive --jobs ") + jobs + " '" + dir + "'");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, expected) << "jobs " << jobs;
    }
    const ToolRun only = run("--quiet -r --jobs=2 --only-read --json '" + dir + "'");
    EXPECT_EQ(lines(only.out).size(), 10u) << only.out;
    EXPECT_EQ(only.out.find("NotLocated"), std::string::npos);
    // Without --recursive a folder is an input error that names it.
    const ToolRun folder = run("--quiet '" + dir + "'");
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("it is a folder, not a file"), std::string::npos) << folder.err;
    EXPECT_EQ(run("--jobs 0 x.pgm").status, 2);
    EXPECT_EQ(run("--jobs x.pgm").status, 2);
}

// Two symbols side by side, neither at the centre: the default search reads
// the nearer one, --all both (nearest the centre first), --centre neither.
TEST(QuarrowRead, WholeFrameSearchAndEverySymbol) {
    Frame f = uniformFrame(480, 200, 220);
    const char* texts[] = {"Left one", "Right one"};
    const int lefts[] = {20, 290};  // centres 150 and 120 pixels from the frame's
    for (int k = 0; k < 2; ++k) {
        ModuleGrid g;
        ASSERT_TRUE(encodeAztec(texts[k], {}, g));
        RenderOptions r;
        r.width = 140;
        r.height = 140;
        r.moduleSize = 4;
        const Frame part = renderSymbol(g, r);
        for (int y = 0; y < part.height; ++y)
            for (int x = 0; x < part.width; ++x)
                f.pixels[static_cast<std::size_t>(y + 30) * 480 + static_cast<std::size_t>(x + lefts[k])] = part.at(x, y);
    }
    const std::string path = pgmFile("two.pgm", f);
    EXPECT_EQ(run("--quiet '" + path + "'").out, "Right one\n");
    EXPECT_EQ(run("--quiet --all '" + path + "'").out, "Right one\nLeft one\n");
    EXPECT_EQ(run("--quiet --centre '" + path + "'").out, "\n");
}

TEST(QuarrowRead, JoinsStructuredAppendParts) {
    std::vector<std::string> files;
    for (int i = 3; i >= 1; --i) {  // in reverse order
        ModuleGrid g;
        ASSERT_TRUE(encodeAztec("<" + std::to_string(i) + ">", {.partIndex = i, .partCount = 3, .partId = "Q"}, g));
        RenderOptions r;
        r.width = 320;
        r.height = 240;
        files.push_back(pgmFile("part" + std::to_string(i) + ".pgm", renderSymbol(g, r)));
    }
    ToolRun r = run("--join --quiet '" + files[0] + "' '" + files[1] + "' '" + files[2] + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "<1><2><3>\n");
    r = run("--json '" + files[0] + "'");
    EXPECT_NE(r.out.find("\"structured_append\":{\"index\":3,\"count\":3,\"id\":\"Q\"}"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"symbology_identifier\":\"]z6\""), std::string::npos);
    EXPECT_NE(r.out.find("\"rune\":null,\"reader_init\":false"), std::string::npos);
    ModuleGrid rune;
    ASSERT_TRUE(encodeRune(25, rune));
    const ToolRun runeRun = run("--json '" + pgmFile("rune.pgm", renderSymbol(rune, {.width = 160, .height = 120})) + "'");
    EXPECT_NE(runeRun.out.find("\"text\":\"25\""), std::string::npos) << runeRun.out;
    EXPECT_NE(runeRun.out.find("\"symbology_identifier\":\"]zC\",\"rune\":25"), std::string::npos);
    ModuleGrid init;
    ASSERT_TRUE(encodeAztec("SET 1", {.readerInit = true}, init));
    const ToolRun initRun = run("--json '" + pgmFile("init.pgm", renderSymbol(init, {.width = 160, .height = 120})) + "'");
    EXPECT_NE(initRun.out.find("\"text\":\"SET 1\""), std::string::npos) << initRun.out;
    EXPECT_NE(initRun.out.find("\"reader_init\":true"), std::string::npos);
    r = run("--join --quiet '" + files[0] + "' '" + files[2] + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("join: missing part 2 of 3"), std::string::npos) << r.err;
    r = run("--join --json --quiet '" + files[0] + "' '" + files[2] + "'");
    EXPECT_EQ(r.out, "{\"outcome\":\"Error\",\"error\":\"missing part 2 of 3\"}\n");
}

TEST(QuarrowRead, HelpAndUsageErrors) {
    ToolRun r = run("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* opt : {"--json", "--all", "--centre", "--no-light-on-dark", "--effort", "--jobs", "--recursive", "--only-read", "--join", "--debug-image", "--progress",
                            "--no-progress", "--quiet", "--help", "Exit status"})
        EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
    EXPECT_EQ(run("--bogus x.pgm").status, 2);
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("--debug-image").status, 2);
}

}  // namespace
