// quarrow-read: reads the Aztec symbol of each image or video frame given on
// the command line and prints its text, or one JSON object per frame.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "debug_image.h"
#include "api/read_frame.h"
#include "image_io.h"
#include "json_text.h"
#include "ordered_pool.h"

namespace {

using quarrow::io::FrameSource;
using quarrow::io::GreyFrame;
using quarrow::io::IoError;
namespace qt = quarrow::tools;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitSomeUnreadable = 1;
constexpr int kExitUsage = 2;

constexpr int kMaxJobs = 256;
// Frames read ahead of the one printed next, per thread: enough to keep the
// threads busy, few enough to bound memory and open files.
constexpr std::size_t kPendingPerJob = 4;

constexpr const char* kUsage =
    "Usage: quarrow-read [OPTION]... FILE...\n"
    "Reads the Aztec Code symbol of each image and prints its text: the one near\n"
    "the centre if there is one, else the nearest to the centre anywhere in the\n"
    "frame.\n"
    "\n"
    "FILE is a binary PGM (P5) or PPM (P6) with any maxval, a PNG, a JPEG, or a\n"
    "Y4M video (8-bit mono, 4:1:1, 4:2:0, 4:2:2 or 4:4:4; every frame is read).\n"
    "'-' reads standard input. Colour is reduced to grey with the luma weights\n"
    "0.299 R + 0.587 G + 0.114 B; transparent PNG pixels count as white; of a\n"
    "video only the Y plane is used.\n"
    "\n"
    "Options:\n"
    "  --all                read every symbol of each frame, nearest to the centre\n"
    "                       first: one line per symbol read (one empty line when\n"
    "                       none was); with --json, `symbols` lists them\n"
    "  --centre             look only near the centre of the frame, where the user\n"
    "                       aims (the runtime component's search)\n"
    "  --no-light-on-dark   do not look for light symbols on a dark ground\n"
    "  --effort E           the work the whole-frame search may spend on a frame,\n"
    "                       as a share of its own allowance (default 1, above 0\n"
    "                       and at most 4): less bounds hard frames' time (at 0.25\n"
    "                       a 640 x 480 frame takes under 30 ms), more tries harder\n"
    "  --jobs N             read on N threads (default: one per core); the output\n"
    "                       keeps the input order\n"
    "  --recursive          read the images and videos in folders given as FILE and\n"
    "                       in their subfolders (.pgm .ppm .pnm .png .jpg .jpeg .y4m,\n"
    "                       in name order)\n"
    "  --only-read          print only the frames that were read\n"
    "  --join               join the parts of a structured-append message read from\n"
    "                       all inputs (any order) and print the whole message\n"
    "                       instead of each frame's; with --json one object with\n"
    "                       outcome Joined (bytes_hex, text) or Error (error)\n"
    "  --json               one JSON object per frame, one per line, in input order:\n"
    "                       file, frame, outcome (Read, Located, NotLocated or\n"
    "                       Error with an error text), bytes_hex, text (the bytes\n"
    "                       as ISO-8859-1), message (the reader's diagnostic), and\n"
    "                       the symbol's facts (light_on_dark among them); with\n"
    "                       --all also `symbols`, a list of objects with the same\n"
    "                       fields, one per symbol read (the frame's own fields\n"
    "                       are those of the first)\n"
    "  --debug-image OUT.png  draw what the centre search saw over the frame: seeds tried\n"
    "                       (cyan), blob centres (magenta), bull's-eye corners\n"
    "                       (green), symbol outline (red), sampled modules (blue\n"
    "                       dark, yellow light). Without '%d' in OUT only the first\n"
    "                       frame is drawn; '%d' is replaced by a running frame\n"
    "                       count from 1 and every frame is drawn\n"
    "  --progress           show the progress bar even when stderr is not a terminal\n"
    "  --no-progress        never show the progress bar\n"
    "  --quiet              no progress bar and no summary line\n"
    "  --help               show this text and exit\n"
    "  --                   end of options; later arguments are files\n"
    "\n"
    "Without --json each frame's decoded bytes are written as they are, followed\n"
    "by a line feed (an empty line when nothing was read); errors go to stderr.\n"
    "A progress bar is shown on stderr when several files are read and stderr is a\n"
    "terminal; a summary line (files, read, not read, errors, time) follows when\n"
    "more than one file was given or the bar was shown.\n"
    "\n"
    "Exit status: 0 when every file could be read as an image (whether or not a\n"
    "symbol was found), 1 when some file could not (or a debug image could not be\n"
    "written), 2 for a usage error.\n";

struct Options {
    bool json = false;
    bool all = false;
    bool onlyRead = false;
    bool join = false;
    bool recursive = false;
    int jobs = 0;  // 0: one per core
    quarrow::ReadOptions read;
    std::string debugImage;
    enum class Progress { Auto, Always, Never } progress = Progress::Auto;
    bool quiet = false;
    std::vector<std::string> files;
};

// What one frame gave: the reader's result, or an error of the input.
struct FrameReport {
    std::string outcome;  // Read, Located, NotLocated, Error
    std::string error;
    quarrow::ReadResult result;
    std::vector<quarrow::ReadResult> symbols;  // with --all: every symbol read
    std::int32_t width = 0, height = 0;
    bool decoded = false;  // the input gave a frame (which counts for debug pictures)
    std::optional<qt::DebugPicture> picture;
    std::string debugImage;  // where the picture was written
};

struct Tally {
    std::size_t files = 0, frames = 0, read = 0, notRead = 0, errors = 0;
};

std::string pointJson(quarrow::Point p) {
    std::string s("[");
    s.append(qt::jsonNumber(p.x)).append(",").append(qt::jsonNumber(p.y)).append("]");
    return s;
}

std::string cornersJson(const std::array<quarrow::Point, 4>& c) {
    std::string s("[");
    for (int i = 0; i < 4; ++i) s.append(i ? "," : "").append(pointJson(c[static_cast<std::size_t>(i)]));
    return s.append("]");
}

// The fields that describe one read symbol (or the frame's only attempt).
void symbolFields(qt::JsonObject& o, const quarrow::ReadResult& r) {
    o.str("text_eci", r.text).str("text_note", r.textNote).boolean("gs1", r.gs1);
    std::string ecis("[");
    for (std::size_t i = 0; i < r.ecis.size(); ++i) {
        qt::JsonObject e;
        e.num("eci", r.ecis[i].eci).num("position", static_cast<std::int64_t>(r.ecis[i].position));
        ecis.append(i ? "," : "").append(e.done());
    }
    o.raw("ecis", ecis.append("]"));
    const bool located = r.outcome != quarrow::Outcome::NotLocated;
    o.str("type", quarrow::toString(r.type)).num("layers", r.layers).num("data_words", r.dataWords).num("word_bits", r.wordBits);
    o.num("total_words", r.totalWords).num("ecc_percent", r.eccPercent).num("corrected_words", r.correctedWords);
    o.num("rotation", r.rotation).boolean("mirrored", r.mirrored).boolean("light_on_dark", r.lightOnDark);
    if (r.structuredAppend) {
        qt::JsonObject sa;
        sa.num("index", r.structuredAppend->index).num("count", r.structuredAppend->count);
        sa.str("id", qt::latin1ToUtf8(r.structuredAppend->id));
        o.raw("structured_append", sa.done());
    } else {
        o.raw("structured_append", "null");
    }
    o.str("symbology_identifier", r.symbologyIdentifier);
    o.raw("rune", r.rune ? std::to_string(*r.rune) : "null").boolean("reader_init", r.readerInit);
    o.raw("centre", located ? pointJson(r.centre) : "null");
    o.raw("bullseye_corners", located ? cornersJson(r.bullseyeCorners) : "null");
    o.raw("symbol_corners", located ? cornersJson(r.symbolCorners) : "null");
}

void bytesFields(qt::JsonObject& o, const quarrow::ReadResult& r) {
    const std::string text(r.bytes.begin(), r.bytes.end());
    o.str("bytes_hex", qt::hexBytes(r.bytes)).str("text", qt::latin1ToUtf8(text)).str("message", qt::latin1ToUtf8(r.message));
}

std::string jsonLine(const std::string& file, std::size_t frame, const FrameReport& rep, bool all) {
    const quarrow::ReadResult& r = rep.result;
    qt::JsonObject o;
    o.str("file", qt::repairUtf8(file)).num("frame", static_cast<std::int64_t>(frame)).str("outcome", rep.outcome);
    if (rep.outcome == "Error") o.str("error", qt::repairUtf8(rep.error));
    bytesFields(o, r);
    if (rep.outcome == "Error") return o.done();
    o.num("width", rep.width).num("height", rep.height);
    symbolFields(o, r);
    if (all) {
        std::string list("[");
        for (std::size_t i = 0; i < rep.symbols.size(); ++i) {
            qt::JsonObject sym;
            sym.str("outcome", quarrow::toString(rep.symbols[i].outcome));
            bytesFields(sym, rep.symbols[i]);
            symbolFields(sym, rep.symbols[i]);
            list.append(i ? "," : "").append(sym.done());
        }
        o.raw("symbols", list.append("]"));
    }
    if (!rep.debugImage.empty()) o.str("debug_image", qt::repairUtf8(rep.debugImage));
    return o.done();
}

// The debug picture's file name for the n-th frame (from 1), or "" when
// this frame is not drawn.
std::string debugPath(const std::string& pattern, std::size_t n) {
    const std::size_t at = pattern.find("%d");
    if (at == std::string::npos) return n == 1 ? pattern : "";
    return pattern.substr(0, at) + std::to_string(n) + pattern.substr(at + 2);
}

// Reads one frame. With `picture`, the centre search's trace is drawn into
// the report for the caller to write.
FrameReport readFrame(const GreyFrame& frame, const Options& opt, bool picture) {
    FrameReport rep;
    rep.decoded = true;
    rep.width = frame.width;
    rep.height = frame.height;
    AztecCore::DetectorTrace trace;
    if (opt.all) {
        rep.symbols = quarrow::detail::readAllFrame(frame.pixels.data(), frame.width, frame.height, frame.width,
                                                    frame.pixels.size(), opt.read);
        if (rep.symbols.size() == 1 && !rep.symbols.front().ok()) rep.symbols.clear();
    }
    if (!rep.symbols.empty() && !picture) {
        rep.result = rep.symbols.front();
    } else {
        // Nothing read (or a picture wanted): one read tells how far it got.
        rep.result = quarrow::detail::readFrame(frame.pixels.data(), frame.width, frame.height, frame.width,
                                                frame.pixels.size(), opt.read, picture ? &trace : nullptr);
    }
    if (!rep.result.ok()) {
        rep.outcome = "Error";
        rep.error = std::string("the reader failed: ") + quarrow::toString(rep.result.status);
        if (!rep.result.message.empty()) rep.error += " (" + rep.result.message + ")";
        rep.result.message.clear();
        return rep;
    }
    rep.outcome = quarrow::toString(rep.result.outcome);
    if (picture) rep.picture = qt::drawTrace(frame, trace);
    return rep;
}

class ProgressBar {
public:
    ProgressBar(bool on, std::size_t total) : on_(on), total_(total) {}
    void show(std::size_t done) {
        if (!on_) return;
        constexpr std::size_t kWidth = 40;
        const std::size_t filled = total_ ? done * kWidth / total_ : kWidth;
        std::string bar(filled, '#');
        bar.resize(kWidth, '.');
        std::fprintf(stderr, "\r[%s] %zu/%zu files", bar.c_str(), done, total_);
        std::fflush(stderr);
    }
    void clear() {
        if (!on_) return;
        std::fprintf(stderr, "\r%*s\r", 80, "");
        std::fflush(stderr);
    }

private:
    bool on_;
    std::size_t total_;
};

int parseArgs(int argc, char** argv, Options& opt) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
            opt.files.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--json") {
            opt.json = true;
        } else if (a == "--all") {
            opt.all = true;
        } else if (a == "--join") {
            opt.join = true;
            opt.all = true;  // a frame may hold several parts
        } else if (a == "--only-read") {
            opt.onlyRead = true;
        } else if (a == "--recursive" || a == "-r") {
            opt.recursive = true;
        } else if (a == "--jobs" || a.rfind("--jobs=", 0) == 0 || a == "-j") {
            std::string value;
            if (a == "--jobs" || a == "-j") {
                if (i + 1 < argc) value = argv[++i];
            } else {
                value = a.substr(std::strlen("--jobs="));
            }
            char* end = nullptr;
            const long n = value.empty() ? 0 : std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > kMaxJobs) {
                std::fprintf(stderr, "quarrow-read: --jobs needs a number from 1 to %d\n", kMaxJobs);
                return kExitUsage;
            }
            opt.jobs = static_cast<int>(n);
        } else if (a == "--centre" || a == "--center") {
            opt.read.search = quarrow::Search::Centre;
        } else if (a == "--no-light-on-dark") {
            opt.read.lightOnDark = false;
        } else if (a == "--effort" || a.rfind("--effort=", 0) == 0) {
            std::string value;
            if (a == "--effort") {
                if (i + 1 < argc) value = argv[++i];
            } else {
                value = a.substr(std::strlen("--effort="));
            }
            char* end = nullptr;
            const double e = value.empty() ? 0.0 : std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !quarrow::validEffort(e)) {
                std::fprintf(stderr, "quarrow-read: --effort needs a number above 0 and at most 4\n");
                return kExitUsage;
            }
            opt.read.effort = e;
        } else if (a == "--debug-image" || a.rfind("--debug-image=", 0) == 0) {
            if (a == "--debug-image") {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "quarrow-read: --debug-image needs a file name\n");
                    return kExitUsage;
                }
                opt.debugImage = argv[++i];
            } else {
                opt.debugImage = a.substr(std::strlen("--debug-image="));
            }
            if (opt.debugImage.empty()) {
                std::fprintf(stderr, "quarrow-read: --debug-image needs a file name\n");
                return kExitUsage;
            }
        } else if (a == "--progress") {
            opt.progress = Options::Progress::Always;
        } else if (a == "--no-progress") {
            opt.progress = Options::Progress::Never;
        } else if (a == "--quiet") {
            opt.quiet = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        } else {
            std::fprintf(stderr, "quarrow-read: unknown option %s (see --help)\n", a.c_str());
            return kExitUsage;
        }
    }
    if (opt.files.empty()) {
        std::fprintf(stderr, "quarrow-read: no input files (see --help)\n");
        return kExitUsage;
    }
    return kExitOk;
}

bool isMediaFile(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* known : {".pgm", ".ppm", ".pnm", ".png", ".jpg", ".jpeg", ".y4m"})
        if (ext == known) return true;
    return false;
}

// The files to read, with folders expanded when --recursive asks for it.
// A folder that cannot be walked stays in the list and fails when opened.
std::vector<std::string> expandInputs(const Options& opt) {
    namespace fs = std::filesystem;
    std::vector<std::string> out;
    for (const std::string& f : opt.files) {
        std::error_code ec;
        if (!opt.recursive || f == "-" || !fs::is_directory(f, ec)) {
            out.push_back(f);
            continue;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator it(f, fs::directory_options::skip_permission_denied, ec), end;
        if (ec) {
            out.push_back(f);
            continue;
        }
        for (; it != end; it.increment(ec)) {
            if (ec) break;
            std::error_code typeError;
            if (it->is_regular_file(typeError) && isMediaFile(it->path())) found.push_back(it->path().string());
        }
        std::sort(found.begin(), found.end());
        out.insert(out.end(), found.begin(), found.end());
    }
    return out;
}

FrameReport errorReport(IoError err, const std::string& detail) {
    FrameReport report;
    report.outcome = "Error";
    report.error = std::string(quarrow::io::toString(err)) + (detail.empty() ? "" : ": " + detail);
    return report;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (const int rc = parseArgs(argc, argv, opt); rc != kExitOk) return rc < 0 ? kExitOk : rc;
    const std::vector<std::string> files = expandInputs(opt);
    int jobs = opt.jobs;
    if (jobs == 0) jobs = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));

    const bool progress = !opt.quiet && (opt.progress == Options::Progress::Always ||
                                         (opt.progress == Options::Progress::Auto && files.size() > 1 && isatty(2)));
    ProgressBar bar(progress, files.size());
    Tally tally;
    bool failed = false;
    const auto start = std::chrono::steady_clock::now();
    std::size_t drawn = 0;
    std::atomic<bool> firstPictureTaken{false};
    const bool everyPicture = opt.debugImage.find("%d") != std::string::npos;
    // A picture is drawn for every frame, or only until the first is written.
    auto wantPicture = [&] {
        return !opt.debugImage.empty() && (everyPicture || !firstPictureTaken.load(std::memory_order_relaxed));
    };

    struct Done {
        std::string file;
        std::size_t frameNo = 0;
        bool endsFile = false;
        FrameReport report;
        bool marker = false;  // only marks the end of a video: nothing to print
    };
    std::size_t filesDone = 0;
    std::vector<quarrow::ReadResult> parts;  // with --join: every symbol read
    auto emit = [&](Done&& done) {
        if (done.marker) {
            bar.show(++filesDone);
            return;
        }
        FrameReport& report = done.report;
        ++tally.frames;
        if (report.decoded && !opt.debugImage.empty()) {
            const std::string debugFile = debugPath(opt.debugImage, ++drawn);
            if (!debugFile.empty() && report.picture) {
                firstPictureTaken = true;
                std::string detail;
                if (quarrow::io::writePngRgb(debugFile, report.picture->width, report.picture->height,
                                             report.picture->rgb, detail) == IoError::Ok) {
                    report.debugImage = debugFile;
                } else {
                    bar.clear();
                    std::fprintf(stderr, "quarrow-read: debug image: %s\n", detail.c_str());
                    failed = true;
                }
            }
        }
        const bool read = report.outcome == "Read";
        if (report.outcome == "Error") {
            ++tally.errors;
            failed = true;
        } else if (read) {
            ++tally.read;
        } else {
            ++tally.notRead;
        }
        if (report.outcome == "Error" && !opt.json) {
            bar.clear();
            std::fprintf(stderr, "quarrow-read: %s: %s\n", done.file.c_str(), report.error.c_str());
        }
        if (opt.join) {
            if (!report.symbols.empty())
                parts.insert(parts.end(), report.symbols.begin(), report.symbols.end());
            else if (read)
                parts.push_back(report.result);
        } else if (!opt.onlyRead || read) {
            if (opt.json) {
                const std::string line = jsonLine(done.file, done.frameNo, report, opt.all);
                std::fwrite(line.data(), 1, line.size(), stdout);
            } else if (opt.all && report.symbols.size() > 1) {
                for (std::size_t i = 0; i < report.symbols.size(); ++i) {
                    const auto& b = report.symbols[i].bytes;
                    // fwrite must not see the null data pointer of an empty vector.
                    if (!b.empty()) std::fwrite(b.data(), 1, b.size(), stdout);
                    if (i + 1 < report.symbols.size()) std::fputc('\n', stdout);
                }
            } else if (!report.result.bytes.empty()) {
                std::fwrite(report.result.bytes.data(), 1, report.result.bytes.size(), stdout);
            }
            std::fputc('\n', stdout);
            // A long run reaches a pipe frame by frame.
            std::fflush(stdout);
        }
        if (done.endsFile) bar.show(++filesDone);
    };

    quarrow::tools::OrderedPool<Done> pool(jobs, static_cast<std::size_t>(jobs) * kPendingPerJob);
    auto submit = [&](std::function<Done()> job) {
        while (pool.full()) emit(*pool.takeOldest());
        pool.submit(std::move(job));
        while (auto ready = pool.takeReady()) emit(std::move(*ready));
    };
    auto submitDone = [&](Done done) { submit([d = std::make_shared<Done>(std::move(done))] { return std::move(*d); }); };

    bar.show(0);
    for (const std::string& file : files) {
        ++tally.files;
        auto source = std::make_shared<FrameSource>();
        std::string detail;
        if (const IoError err = source->open(file, detail); err != IoError::Ok) {
            submitDone({file, 0, true, errorReport(err, detail)});
            continue;
        }
        if (!source->isVideo()) {
            // A still image is decoded and read on a worker thread.
            const bool picture = wantPicture();
            submit([&opt, file, source, picture] {
                Done done{file, 0, true, {}};
                try {
                    GreyFrame frame;
                    IoError err = IoError::Ok;
                    std::string why;
                    if (source->next(frame, err, why) == FrameSource::Next::Frame)
                        done.report = readFrame(frame, opt, picture);
                    else
                        done.report = errorReport(err, why);
                } catch (const std::bad_alloc&) {
                    done.report = errorReport(IoError::TooLarge, "out of memory");
                }
                return done;
            });
            continue;
        }
        // Video frames are taken from the stream here, in order, and read
        // on the worker threads.
        for (std::size_t frameNo = 0;; ++frameNo) {
            auto frame = std::make_shared<GreyFrame>();
            IoError err = IoError::Ok;
            const FrameSource::Next next = source->next(*frame, err, detail);
            if (next == FrameSource::Next::End) {
                // Every input answers at least once, even a video without frames.
                if (frameNo == 0) submitDone({file, 0, true, errorReport(IoError::Empty, "the video holds no frames")});
                else submitDone({file, frameNo, true, {}, true});
                break;
            }
            if (next == FrameSource::Next::Error) {
                submitDone({file, frameNo, true, errorReport(err, detail)});
                break;
            }
            const bool picture = wantPicture();
            submit([&opt, file, frameNo, frame, picture] {
                return Done{file, frameNo, false, readFrame(*frame, opt, picture)};
            });
        }
    }
    while (auto rest = pool.takeOldest()) emit(std::move(*rest));
    bar.clear();
    if (opt.join) {
        const quarrow::JoinedMessage joined = quarrow::joinStructuredAppend(parts);
        if (opt.json) {
            qt::JsonObject o;
            o.str("outcome", joined.ok ? "Joined" : "Error");
            if (joined.ok) o.str("bytes_hex", qt::hexBytes(joined.bytes)).str("text", joined.text);
            else o.str("error", joined.error);
            const std::string line = o.done() + "\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
        } else if (joined.ok) {
            if (!joined.bytes.empty()) std::fwrite(joined.bytes.data(), 1, joined.bytes.size(), stdout);
            std::fputc('\n', stdout);
        }
        if (!joined.ok) {
            if (!opt.json) std::fprintf(stderr, "quarrow-read: join: %s\n", joined.error.c_str());
            failed = true;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!opt.quiet && (progress || files.size() > 1)) {
        std::fprintf(stderr, "quarrow-read: %zu file%s, %zu frame%s: %zu read, %zu not read, %zu error%s, %.2f s\n",
                     tally.files, tally.files == 1 ? "" : "s", tally.frames, tally.frames == 1 ? "" : "s", tally.read,
                     tally.notRead, tally.errors, tally.errors == 1 ? "" : "s", seconds);
    }
    std::fflush(stdout);
    return failed ? kExitSomeUnreadable : kExitOk;
}
