#include <cstring>
#include <exception>
#include <new>

#include "api/decoded_facts.h"
#include "api/read_frame.h"
#include "engine/reader_engine.h"

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

void gatherFacts(const AztecCore::ReaderEngine& engine, AztecCore::ReadOutcome outcome, ReadResult& r) {
    r.outcome = outcome == AztecCore::ReadOutcome::Read      ? Outcome::Read
                : outcome == AztecCore::ReadOutcome::Located ? Outcome::Located
                                                             : Outcome::NotLocated;
    const AztecCore::SymbolCandidate& c = engine.candidate();
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

}  // namespace

ReadResult readFrame(const std::uint8_t* frame, int width, int height, int stride, std::size_t available,
                     const ReadOptions& options, AztecCore::DetectorTrace* trace) {
    (void)options;  // the whole-frame stage is not wired in yet: the centre search serves both
    ReadResult r;
    r.status = checkFrame(frame, width, height, stride, available);
    if (r.status != Status::Ok) return r;
    try {
        // The engine reads the caller's rows in place, padding skipped.
        const AztecCore::Image::ImageView image{frame, width, height, stride};
        AztecCore::ReaderEngine engine;
        engine.setTrace(trace);
        engine.setExtended(true);
        const AztecCore::ReadOutcome outcome = engine.read(image, r.message);
        gatherFacts(engine, outcome, r);
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
    return r;
}

std::vector<ReadResult> readAllFrame(const std::uint8_t* frame, int width, int height, int stride,
                                     std::size_t available, const ReadOptions& options) {
    std::vector<ReadResult> all;
    ReadResult r = readFrame(frame, width, height, stride, available, options, nullptr);
    if (!r.ok() || r.outcome == Outcome::Read) all.push_back(std::move(r));
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
