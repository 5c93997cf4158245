// Runs one read of one image: locate, decode, classify the outcome and
// write the diagnostic message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/symbol_candidate.h"
#include "decode/data_codewords.h"
#include "decode/text_decoder.h"
#include "detect/symbol_detector.h"
#include "image/gray_buf.h"
#include "image/image_view.h"

namespace AztecCore {

enum class ReadOutcome : std::int32_t { NotLocated = 0, Located = 1, Read = 2 };

class ReaderEngine {
public:
    ReaderEngine();
    ~ReaderEngine();
    ReaderEngine(const ReaderEngine&) = delete;
    ReaderEngine& operator=(const ReaderEngine&) = delete;

    // Reads `image` (which may go away afterwards) and replaces `message`
    // with the one-line diagnostic. Exceptions of the stages pass through.
    ReadOutcome read(const Image::GrayBuf& image, std::string& message);
    // The same on the caller's pixels, read in place (rows may be padded);
    // they must stay unchanged during the call. An engine may be reused:
    // it keeps its working buffers, and every read answers as on a new one.
    ReadOutcome read(const Image::ImageView& image, std::string& message);
    // The decoded bytes of the last Read, one char per byte, 0 bytes kept.
    std::string dataText() const;

    // Facts of the last read, for the richer front ends.
    const std::vector<std::uint8_t>& data() const { return decoded_.text.bytes; }
    const Aztec::DecodedText& decoded() const { return decoded_.text; }
    const SymbolCandidate& candidate() const { return candidate_; }
    std::int32_t correctedWords() const { return decoded_.correctedWords; }
    const Point2d* symbolCorners() const { return detector_->symbolCorners(); }
    void setTrace(DetectorTrace* trace) { detector_->setTrace(trace); }
    // Reader-initialisation symbols and runes too, for the modern front
    // ends; the runtime component leaves this off.
    void setExtended(bool on) { detector_->setExtended(on); }
    // See SymbolDetector::setFlatSeedSpan.
    void setFlatSeedSpan(int span) { detector_->setFlatSeedSpan(span); }

private:
    bool runeHasQuietZone() const;

    std::unique_ptr<SymbolDetector> detector_;
    // The last read's data, decoded into storage kept between reads; empty
    // when it read nothing.
    Aztec::DecodedData decoded_;
    SymbolCandidate candidate_;
    CandidateList candidates_;  // kept between reads, so that none allocates
};

// "(C 0' L: 2 D: 78 ECC: 67%)": type, rotation, mirror mark, layers, data
// bits and check-word share of a candidate.
std::string describe(const SymbolCandidate& cand);
// The same at the end of `out` (which a reused message keeps its storage in).
void appendDescription(std::string& out, const SymbolCandidate& cand);

}  // namespace AztecCore
