// Quarrow: reads Aztec Code symbols from 8-bit grey camera frames, first
// near the centre, where the user aims, then anywhere in the frame.
//
//   quarrow::ReadResult r = quarrow::read(pixels, width, height);
//   if (r.outcome == quarrow::Outcome::Read) use(r.text);
//
// Thread safety: every read is independent and keeps no state between
// calls, so any number of threads may read at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define QUARROW_EXPORT __attribute__((visibility("default")))
#else
#define QUARROW_EXPORT
#endif

namespace quarrow {

// Why a frame could not be read at all. Anything but Ok means the frame was
// rejected before reading and the result holds nothing else.
enum class Status {
    Ok = 0,
    NullFrame,      // the frame pointer is null
    BadSize,        // width or height below 1, or stride below width
    ShortBuffer,    // the span holds fewer bytes than width, height and stride need
    TooLarge,       // more than kMaxPixels pixels
    OutOfMemory,    // memory ran out while reading
    InternalError,  // the reader failed unexpectedly; `message` says how
    BadOptions,     // ReadOptions::effort is not above 0 and at most kMaxEffort
};

// A short English text for each status ("ok", "frame is null", ...).
QUARROW_EXPORT const char* toString(Status status);

// How far the read got.
enum class Outcome {
    NotLocated = 0,  // no symbol was found and verified near the centre
    Located = 1,     // a symbol was found but its data could not be decoded
    Read = 2,        // the data was decoded
};

QUARROW_EXPORT const char* toString(Outcome outcome);

enum class SymbolType { None = 0, Compact = 1, FullRange = 2 };

// "None", "Compact" or "FullRange".
QUARROW_EXPORT const char* toString(SymbolType type);

struct Point {
    double x = 0.0;
    double y = 0.0;
};

// An Extended Channel Interpretation designator in the data: the bytes from
// `position` on are in character set `eci` (3 ISO-8859-1, 26 UTF-8, ...).
struct EciMark {
    int eci = 0;
    std::size_t position = 0;
};

// One symbol of a message split over up to 26 symbols.
struct StructuredAppend {
    int index = 0;   // 1-based position of this symbol in the message
    int count = 0;   // symbols in the message, 2..26
    std::string id;  // the message ID; empty when the symbols carry none
};

// Largest frame accepted: 2^28 pixels.
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;

struct ReadResult {
    Status status = Status::Ok;
    Outcome outcome = Outcome::NotLocated;

    // Every decoded byte, 0 bytes included; empty unless outcome is Read.
    std::vector<std::uint8_t> bytes;
    // The bytes as UTF-8 text: ISO-8859-1 unless ECI designators in the
    // data say otherwise. Bytes that a character set does not define become
    // U+FFFD.
    std::string text;
    // Empty when `text` is faithful; otherwise why it may not be (an ECI
    // whose character set is not known, invalid UTF-8, ...).
    std::string textNote;
    bool gs1 = false;  // the data is GS1 element strings (FNC1 first)
    std::vector<EciMark> ecis;
    // Set when the symbol is one part of a structured-append message; its
    // header is not in `bytes` (see joinStructuredAppend).
    std::optional<StructuredAppend> structuredAppend;
    // "]z" and a modifier for what the symbol holds: 0 plain, 1 GS1 (FNC1
    // first), 2 FNC1 after one letter or two digits, 3-5 the same with ECI
    // designators, 6-B those six in a structured-append part, C a rune.
    // Empty unless outcome is Read.
    std::string symbologyIdentifier;
    // An Aztec Rune's value (0..255; `bytes` then holds its decimal digits).
    std::optional<int> rune;
    // A reader-initialisation symbol: data meant to program the scanner.
    bool readerInit = false;
    // The reader's one-line diagnostic (symbol type, rotation, layers,
    // capacity, check-word share and corrections).
    std::string message;

    // Facts of the symbol, set when outcome is Located or Read (type may be
    // set with NotLocated when a finder was seen but not verified).
    SymbolType type = SymbolType::None;
    int layers = 0;
    int dataWords = 0;
    int wordBits = 0;
    int totalWords = 0;
    int eccPercent = 0;      // check words as a whole percentage of all words
    int correctedWords = 0;  // codewords that error correction repaired
    int rotation = 0;        // quarter turns, 0..3
    bool mirrored = false;
    bool lightOnDark = false;  // the symbol was printed light on a dark ground
    // Image pixels (x right, y down): the bull's-eye's corners and centre
    // and the symbol's outer corners. Corners run clockwise as seen in the
    // frame, from the one at the frame's top left; `rotation` and `mirrored`
    // say how the symbol lies within them.
    std::array<Point, 4> bullseyeCorners{};
    Point centre;
    std::array<Point, 4> symbolCorners{};

    bool ok() const { return status == Status::Ok; }
};

// Where a read looks for symbols.
enum class Search {
    Frame = 0,   // near the centre first, then the whole frame
    Centre = 1,  // only near the centre, where the user aims (the runtime component's search)
};

// "Frame" or "Centre".
QUARROW_EXPORT const char* toString(Search search);

inline constexpr double kMaxEffort = 4.0;
// Whether ReadOptions::effort may be `effort`: above 0 and at most
// kMaxEffort (NaN is not).
constexpr bool validEffort(double effort) { return effort > 0.0 && effort <= kMaxEffort; }

struct ReadOptions {
    Search search = Search::Frame;
    // Also look for symbols printed light on a dark ground (whole-frame
    // search only; the centre search reads dark-on-light symbols).
    bool lightOnDark = true;
    // The work the whole-frame search may spend on a frame, as a share of
    // its own allowance, which grows with the frame's pixels: at 1 the
    // hardest 640 x 480 frames (heavy blur, damage) take up to about 0.1 s
    // of one core. A live stream that must keep up can take less (at 0.25
    // they take under 30 ms, and heavily blurred symbols read less often);
    // more gives hard frames more tries. The work is counted, not timed, so
    // a frame reads the same on any machine. Above 0 and at most
    // kMaxEffort, or the read fails with Status::BadOptions.
    double effort = 1.0;
};

// Reads one frame: `height` rows of `width` 8-bit grey pixels, each row
// starting `stride` bytes after the previous one (stride 0 means width).
// The frame is copied at once and may change as soon as read returns.
// Never throws; problems are reported in `status`.
QUARROW_EXPORT ReadResult read(const std::uint8_t* frame, int width, int height, int stride = 0);
// The same over a span, which must hold stride * (height - 1) + width bytes.
QUARROW_EXPORT ReadResult read(std::span<const std::uint8_t> frame, int width, int height, int stride = 0);
// The same with options; the reads above use the default ReadOptions.
QUARROW_EXPORT ReadResult read(const std::uint8_t* frame, int width, int height, int stride, const ReadOptions& options);
QUARROW_EXPORT ReadResult read(std::span<const std::uint8_t> frame, int width, int height, int stride,
                               const ReadOptions& options);

// A reader that keeps its working buffers from one frame to the next. With
// Search::Centre a stream of frames without a symbol is read without
// allocating; the whole-frame search still makes its finder's lists anew
// for every frame (hundreds of small allocations). One Reader serves one
// thread at a time; separate Readers are independent. The free functions
// above keep one such reader per thread. A moved-from Reader may only be
// assigned to or destroyed.
class QUARROW_EXPORT Reader {
public:
    explicit Reader(ReadOptions options = {});
    ~Reader();
    Reader(Reader&&) noexcept;
    Reader& operator=(Reader&&) noexcept;

    const ReadOptions& options() const;
    void setOptions(const ReadOptions& options);

    // As quarrow::read and quarrow::readAll with this reader's options.
    ReadResult read(const std::uint8_t* frame, int width, int height, int stride = 0);
    ReadResult read(std::span<const std::uint8_t> frame, int width, int height, int stride = 0);
    std::vector<ReadResult> readAll(std::span<const std::uint8_t> frame, int width, int height, int stride = 0);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A structured-append message put back together.
struct JoinedMessage {
    bool ok = false;
    std::vector<std::uint8_t> bytes;  // every part's bytes in order
    std::string text;                 // as UTF-8, following the parts' ECI designators
    std::string error;                // when not ok: what is missing or inconsistent
};

// Joins the parts of one structured-append message given in any order (other
// results, and repeated reads of one part, are ignored). Fails, saying why,
// when a part is missing or the parts disagree on their count or ID.
QUARROW_EXPORT JoinedMessage joinStructuredAppend(const std::vector<ReadResult>& results);

// Reads every symbol in the frame and returns those whose data decoded,
// nearest to the frame's centre first; empty when there is none. A
// rejected frame gives one result that carries its status.
QUARROW_EXPORT std::vector<ReadResult> readAll(const std::uint8_t* frame, int width, int height, int stride = 0,
                                               const ReadOptions& options = {});
QUARROW_EXPORT std::vector<ReadResult> readAll(std::span<const std::uint8_t> frame, int width, int height,
                                               int stride = 0, const ReadOptions& options = {});

}  // namespace quarrow
