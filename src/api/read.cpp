#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <new>

#include "api/decoded_facts.h"
#include "api/read_frame.h"
#include "engine/reader_engine.h"
#include "locate/bullseye_finder.h"
#include "locate/frame_search.h"
#include "math/homography.h"

namespace quarrow {

const char* toString(Status status) {
    switch (status) {
        case Status::Ok: return "ok";
        case Status::NullFrame: return "frame is null";
        case Status::BadSize: return "width and height must be at least 1 and stride at least width";
        case Status::ShortBuffer: return "frame buffer is shorter than width, height and stride need";
        case Status::TooLarge: return "frame has more than 2^28 pixels";
        case Status::OutOfMemory: return "out of memory";
        case Status::InternalError: return "internal error";
        case Status::BadOptions: return "effort must be above 0 and at most 4";  // kMaxEffort
    }
    return "unknown status";
}

const char* toString(Outcome outcome) {
    switch (outcome) {
        case Outcome::NotLocated: return "NotLocated";
        case Outcome::Located: return "Located";
        case Outcome::Read: return "Read";
    }
    return "unknown outcome";
}

const char* toString(SymbolType type) {
    switch (type) {
        case SymbolType::Compact: return "Compact";
        case SymbolType::FullRange: return "FullRange";
        case SymbolType::None: break;
    }
    return "None";
}

const char* toString(Search search) { return search == Search::Centre ? "Centre" : "Frame"; }

namespace detail {

namespace {

Point toPoint(AztecCore::Point2d p) { return {p.x, p.y}; }

Status checkFrame(const std::uint8_t* frame, int width, int height, int& stride, std::size_t available) {
    if (!frame) return Status::NullFrame;
    if (width < 1 || height < 1 || stride < 0) return Status::BadSize;
    if (stride == 0) stride = width;
    if (stride < width) return Status::BadSize;
    if (static_cast<std::int64_t>(width) * height > kMaxPixels) return Status::TooLarge;
    const std::uint64_t need = static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height - 1) +
                               static_cast<std::uint64_t>(width);
    if (available != kUnknownSize && need > available) return Status::ShortBuffer;
    return Status::Ok;
}

static_assert(kMaxEffort == 4.0, "BadOptions' text names the bound on effort");

Status checkOptions(const ReadOptions& options) { return validEffort(options.effort) ? Status::Ok : Status::BadOptions; }

// The facts of a symbol that every search reports alike.
void symbolFacts(const AztecCore::SymbolCandidate& c, ReadResult& r) {
    r.type = c.type == AztecCore::SymbolType::Compact     ? SymbolType::Compact
             : c.type == AztecCore::SymbolType::FullRange ? SymbolType::FullRange
                                                          : SymbolType::None;
    r.layers = c.layers;
    r.dataWords = c.dataWords;
    r.wordBits = c.wordBits;
    r.totalWords = c.totalWords;
    // The same truncated share that the message shows.
    const std::int64_t checkShare = (static_cast<std::int64_t>(c.totalWords) - c.dataWords) * 100;
    r.eccPercent = static_cast<int>(checkShare / (c.totalWords > 0 ? c.totalWords : 1));
    r.rotation = c.rotation;
    r.mirrored = c.mirrored;
}

void gatherFacts(const AztecCore::ReaderEngine& engine, AztecCore::ReadOutcome outcome, ReadResult& r) {
    r.outcome = outcome == AztecCore::ReadOutcome::Read      ? Outcome::Read
                : outcome == AztecCore::ReadOutcome::Located ? Outcome::Located
                                                             : Outcome::NotLocated;
    const AztecCore::SymbolCandidate& c = engine.candidate();
    symbolFacts(c, r);
    if (r.outcome != Outcome::NotLocated) {
        r.centre = toPoint(c.centre);
        for (int k = 0; k < 4; ++k) {
            r.bullseyeCorners[static_cast<std::size_t>(k)] = toPoint(c.corners[k]);
            r.symbolCorners[static_cast<std::size_t>(k)] = toPoint(engine.symbolCorners()[k]);
        }
    }
    if (r.outcome == Outcome::Read) {
        applyDecodedText(engine.decoded(), r);
        r.correctedWords = engine.correctedWords();
        r.readerInit = c.readerInit;
        if (c.rune >= 0) {
            r.rune = c.rune;
            r.symbologyIdentifier = "]zC";
        }
    }
}


// The caller's rows, read in place by both searches (padding skipped).
AztecCore::Locate::GreyView viewOf(const std::uint8_t* frame, int width, int height, int stride) {
    return {frame, width, height, stride};
}

// The index of the corner nearest the frame's top left.
std::size_t topLeftIndex(const AztecCore::Locate::Quad& q) {
    std::size_t first = 0;
    for (std::size_t k = 1; k < 4; ++k)
        if (q[k].x + q[k].y < q[first].x + q[first].y) first = k;
    return first;
}

// Corners (already clockwise in the frame) from index `first` on.
std::array<Point, 4> fromCorner(const AztecCore::Locate::Quad& q, std::size_t first) {
    std::array<Point, 4> out{};
    for (std::size_t k = 0; k < 4; ++k) out[k] = toPoint(q[(first + k) % 4]);
    return out;
}

AztecCore::Locate::Quad quadOf(const std::array<Point, 4>& p) {
    AztecCore::Locate::Quad q{};
    for (std::size_t k = 0; k < 4; ++k) q[k] = {p[k].x, p[k].y};
    return q;
}

// A result from a symbol that the whole-frame stage read.
ReadResult resultOf(const AztecCore::Locate::FoundSymbol& f) {
    ReadResult r;
    // The stage's corners start where its fit's grid does, and its rotation
    // counts from there. The result's start at the frame's top left: the
    // rotation is counted from that corner instead (a mirrored symbol's
    // marks run the other way), and the bull's-eye's corners follow the
    // symbol's, so that the two never disagree where two corners lie
    // equally near the top left (a symbol turned 45 degrees).
    AztecCore::SymbolCandidate c = f.read.candidate;
    const std::size_t first = topLeftIndex(f.symbolCorners);
    const auto shift = static_cast<std::int32_t>(first);
    c.rotation = c.mirrored ? (c.rotation + shift) % 4 : (c.rotation - shift + 4) % 4;
    r.outcome = Outcome::Read;
    symbolFacts(c, r);
    r.lightOnDark = f.lightOnDark;
    r.centre = toPoint(c.centre);
    AztecCore::Locate::Quad ring{};
    for (std::size_t k = 0; k < 4; ++k) ring[k] = c.corners[k];
    r.bullseyeCorners = fromCorner(ring, first);
    r.symbolCorners = fromCorner(f.symbolCorners, first);
    applyDecodedText(f.read.data.text, r);
    r.correctedWords = f.read.data.correctedWords;
    r.readerInit = c.readerInit;
    r.message = "Read data " + AztecCore::describe(c) + "\n #err=" + std::to_string(r.correctedWords);
    if (c.rune >= 0) {
        r.rune = c.rune;
        r.symbologyIdentifier = "]zC";
        r.message = "Read rune " + std::to_string(c.rune) + "\n #err=0";
    }
    return r;
}

AztecCore::Locate::FrameSearchOptions searchOptions(const ReadOptions& options, bool all) {
    AztecCore::Locate::FrameSearchOptions so;
    so.lightOnDark = options.lightOnDark;
    so.all = all;
    so.effort = options.effort;
    return so;
}

// A symbol that the centre search read with corrected words may still be
// whole in the frame: the centre search samples one point per module and
// misses a few modules of some clean symbols that the whole-frame stage,
// which fits the rings and samples areas, reads without a correction. So
// the whole-frame stage reads the region round that symbol too, and its
// read replaces the first when the bytes are the same and fewer words
// needed correcting. The bytes never change: when the two disagree, the
// first read stands.
// Samples the second read may spend (work_budget.h): a symbol that reads
// cleanly costs the whole-frame stage a few per pixel of its region, and a
// damaged one would otherwise get the stage's full budget for nothing.
constexpr std::int64_t kSecondReadBudgetPerPixel = 16;
constexpr std::int64_t kMinSecondReadBudget = 1'000'000;

void preferUncorrectedRead(const std::uint8_t* frame, int width, int height, int stride, const ReadOptions& options,
                           ReadResult& r) {
    if (r.outcome != Outcome::Read || r.correctedWords == 0 || r.rune >= 0) return;
    double x0 = r.symbolCorners[0].x, x1 = x0, y0 = r.symbolCorners[0].y, y1 = y0;
    for (const Point& p : r.symbolCorners) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    // The symbol's box and a quarter of its size round it, for the quiet
    // zone that the finder's window needs.
    const double margin = 0.25 * std::max(x1 - x0, y1 - y0);
    // Clamped as doubles (a NaN to the low end), so that no corner far
    // outside the frame meets an integer conversion.
    auto clamped = [](double v, int lo, int hi) { return v >= lo ? (v <= hi ? static_cast<int>(v) : hi) : lo; };
    const int left = clamped(std::floor(x0 - margin), 0, width - 1);
    const int top = clamped(std::floor(y0 - margin), 0, height - 1);
    const int right = clamped(std::ceil(x1 + margin), left + 1, width);
    const int bottom = clamped(std::ceil(y1 + margin), top + 1, height);
    const AztecCore::Locate::GreyView region{frame + static_cast<std::ptrdiff_t>(top) * stride + left, right - left,
                                             bottom - top, stride};
    AztecCore::Locate::FrameSearchOptions so = searchOptions(options, false);
    so.budget = std::max<std::int64_t>(kMinSecondReadBudget,
                                       kSecondReadBudgetPerPixel * static_cast<std::int64_t>(region.width) * region.height);
    auto found = AztecCore::Locate::searchFrame(region, so);
    if (found.empty() || found.front().read.data.correctedWords >= r.correctedWords) return;
    AztecCore::Locate::FoundSymbol& f = found.front();
    if (!std::equal(f.read.data.text.bytes.begin(), f.read.data.text.bytes.end(), r.bytes.begin(), r.bytes.end())) return;
    // Back to frame pixels.
    const AztecCore::Point2d shift{static_cast<double>(left), static_cast<double>(top)};
    auto move = [&shift](AztecCore::Point2d& p) {
        p.x += shift.x;
        p.y += shift.y;
    };
    move(f.read.candidate.centre);
    for (AztecCore::Point2d& p : f.read.candidate.corners) move(p);
    for (AztecCore::Point2d& p : f.symbolCorners) move(p);
    r = resultOf(f);
}

// When the whole-frame stage follows, the centre search passes over seeds
// whose threshold square (a 61-pixel square at 720p) spans fewer than
// kFlatSeedBase + kFlatSeedPerNoise * noise grey levels: sensor noise of
// sigma s spans about 7 s over such a square (13-16 levels at s = 2, whose
// estimate reads 1.8), and a seed there sits on bare background, where the
// blob fill spends its time on noise clusters and no bull's-eye lies (a
// symbol there gives its square the span of its contrast). Fine module
// texture over most of the frame inflates the noise estimate (it counts
// second differences), so the span asked of a square stops at
// kFlatSeedMaxSpan: a symbol whose dark and light modules lie that far
// apart is always tried. No answer over the golden frames changed (a
// quarter of their seeds are passed over); with noise of 8 the symbol-free
// read takes a ninth less time.
constexpr double kFlatSeedBase = 2.0;
constexpr double kFlatSeedPerNoise = 9.0;
constexpr int kFlatSeedMaxSpan = 80;

// `noise` is the frame's estimateNoise; negative when the centre search
// runs alone, which then tries every seed as the runtime component does.
int flatSeedSpan(double noise) {
    if (noise < 0.0) return 0;
    return static_cast<int>(std::min<double>(kFlatSeedMaxSpan, kFlatSeedBase + kFlatSeedPerNoise * noise));
}

// Readies the centre search on `engine` for this frame and returns the
// frame's noise, which the whole-frame search takes too; negative (every
// seed tried) when the centre search runs alone.
double prepareCentreSearch(AztecCore::ReaderEngine& engine, const std::uint8_t* frame, int width, int height,
                           int stride, const ReadOptions& options) {
    const double noise = options.search == Search::Centre
                             ? -1.0
                             : AztecCore::Locate::estimateNoise(viewOf(frame, width, height, stride));
    engine.setFlatSeedSpan(flatSeedSpan(noise));
    return noise;
}

// Runs `body` and turns the failures a read can meet into a status.

template <typename Body>
void guarded(ReadResult& r, Body&& body) {
    try {
        body();
    } catch (const std::bad_alloc&) {
        r = {};
        r.status = Status::OutOfMemory;
    } catch (const std::exception& e) {
        r = {};
        r.status = Status::InternalError;
        r.message = e.what();
    } catch (...) {
        // Some of the reader's exception types are not std::exceptions.
        r = {};
        r.status = Status::InternalError;
        r.message = "unexpected exception";
    }
}

}  // namespace

AztecCore::ReaderEngine& threadEngine() {
    // Each thread keeps one engine and its buffers for the free functions.
    thread_local AztecCore::ReaderEngine engine;
    return engine;
}

ReadResult readFrame(const std::uint8_t* frame, int width, int height, int stride, std::size_t available,
                     const ReadOptions& options, AztecCore::DetectorTrace* trace, AztecCore::ReaderEngine* reused) {
    ReadResult r;
    r.status = checkFrame(frame, width, height, stride, available);
    if (r.status == Status::Ok) r.status = checkOptions(options);
    if (r.status != Status::Ok) return r;
    guarded(r, [&] {
        AztecCore::ReaderEngine& engine = reused ? *reused : threadEngine();
        struct Untrace {
            AztecCore::ReaderEngine& e;
            ~Untrace() { e.setTrace(nullptr); }
        } untrace{engine};
        engine.setTrace(trace);
        engine.setExtended(true);
        const double noise = prepareCentreSearch(engine, frame, width, height, stride, options);
        const AztecCore::ReadOutcome outcome =
            engine.read(AztecCore::Image::ImageView{frame, width, height, stride}, r.message);
        gatherFacts(engine, outcome, r);
        if (options.search == Search::Centre) return;
        if (r.outcome == Outcome::Read) {
            preferUncorrectedRead(frame, width, height, stride, options, r);
            return;
        }
        // The centre search did not read the frame: look everywhere. What
        // the centre search learnt stays when the frame search finds nothing.
        AztecCore::Locate::FrameSearchOptions so = searchOptions(options, false);
        so.noise = noise;
        const auto found = AztecCore::Locate::searchFrame(viewOf(frame, width, height, stride), so);
        if (!found.empty()) r = resultOf(found.front());
    });
    return r;
}

std::vector<ReadResult> readAllFrame(const std::uint8_t* frame, int width, int height, int stride,
                                     std::size_t available, const ReadOptions& options, AztecCore::ReaderEngine* reused) {
    std::vector<ReadResult> all;
    ReadResult r;
    r.status = checkFrame(frame, width, height, stride, available);
    if (r.status == Status::Ok) r.status = checkOptions(options);
    if (r.status != Status::Ok) {
        all.push_back(std::move(r));
        return all;
    }
    guarded(r, [&] {
        AztecCore::ReaderEngine& engine = reused ? *reused : threadEngine();
        engine.setExtended(true);
        const double noise = prepareCentreSearch(engine, frame, width, height, stride, options);
        ReadResult centre;
        const AztecCore::ReadOutcome outcome =
            engine.read(AztecCore::Image::ImageView{frame, width, height, stride}, centre.message);
        gatherFacts(engine, outcome, centre);
        if (options.search != Search::Centre) preferUncorrectedRead(frame, width, height, stride, options, centre);
        AztecCore::Locate::FrameSearchOptions so = searchOptions(options, true);
        so.noise = noise;
        if (centre.outcome == Outcome::Read) {
            so.known.push_back(quadOf(centre.symbolCorners));
            all.push_back(std::move(centre));
        }
        if (options.search == Search::Centre) return;
        for (const auto& f : AztecCore::Locate::searchFrame(viewOf(frame, width, height, stride), so))
            all.push_back(resultOf(f));
        const double cx = width / 2.0, cy = height / 2.0;
        std::stable_sort(all.begin(), all.end(), [cx, cy](const ReadResult& a, const ReadResult& b) {
            return std::hypot(a.centre.x - cx, a.centre.y - cy) < std::hypot(b.centre.x - cx, b.centre.y - cy);
        });
    });
    if (r.status != Status::Ok) return {std::move(r)};
    return all;
}

}  // namespace detail

namespace {

ReadResult failedRead(Status status) {
    ReadResult r;
    r.status = status;
    return r;
}

}  // namespace

// Only a failure to build the result itself can reach the catch clauses.
ReadResult read(const std::uint8_t* frame, int width, int height, int stride, const ReadOptions& options) {
    try {
        return detail::readFrame(frame, width, height, stride, detail::kUnknownSize, options, nullptr);
    } catch (...) {
        return failedRead(Status::OutOfMemory);
    }
}

ReadResult read(std::span<const std::uint8_t> frame, int width, int height, int stride, const ReadOptions& options) {
    try {
        return detail::readFrame(frame.data(), width, height, stride, frame.size(), options, nullptr);
    } catch (...) {
        return failedRead(Status::OutOfMemory);
    }
}

ReadResult read(const std::uint8_t* frame, int width, int height, int stride) {
    return read(frame, width, height, stride, ReadOptions{});
}

ReadResult read(std::span<const std::uint8_t> frame, int width, int height, int stride) {
    return read(frame, width, height, stride, ReadOptions{});
}

struct Reader::State {
    ReadOptions options;
    AztecCore::ReaderEngine engine;
};

Reader::Reader(ReadOptions options) : state_(std::make_unique<State>()) { state_->options = options; }
Reader::~Reader() = default;
Reader::Reader(Reader&&) noexcept = default;
Reader& Reader::operator=(Reader&&) noexcept = default;

const ReadOptions& Reader::options() const { return state_->options; }
void Reader::setOptions(const ReadOptions& options) { state_->options = options; }

ReadResult Reader::read(const std::uint8_t* frame, int width, int height, int stride) {
    try {
        return detail::readFrame(frame, width, height, stride, detail::kUnknownSize, state_->options, nullptr,
                                 &state_->engine);
    } catch (...) {
        return failedRead(Status::OutOfMemory);
    }
}

ReadResult Reader::read(std::span<const std::uint8_t> frame, int width, int height, int stride) {
    try {
        return detail::readFrame(frame.data(), width, height, stride, frame.size(), state_->options, nullptr,
                                 &state_->engine);
    } catch (...) {
        return failedRead(Status::OutOfMemory);
    }
}

std::vector<ReadResult> Reader::readAll(std::span<const std::uint8_t> frame, int width, int height, int stride) {
    try {
        return detail::readAllFrame(frame.data(), width, height, stride, frame.size(), state_->options,
                                    &state_->engine);
    } catch (...) {
        return {failedRead(Status::OutOfMemory)};
    }
}

std::vector<ReadResult> readAll(const std::uint8_t* frame, int width, int height, int stride,
                                const ReadOptions& options) {
    try {
        return detail::readAllFrame(frame, width, height, stride, detail::kUnknownSize, options);
    } catch (...) {
        return {failedRead(Status::OutOfMemory)};
    }
}

std::vector<ReadResult> readAll(std::span<const std::uint8_t> frame, int width, int height, int stride,
                                const ReadOptions& options) {
    try {
        return detail::readAllFrame(frame.data(), width, height, stride, frame.size(), options);
    } catch (...) {
        return {failedRead(Status::OutOfMemory)};
    }
}

}  // namespace quarrow
