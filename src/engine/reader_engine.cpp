#include "engine/reader_engine.h"

#include "decode/data_codewords.h"

namespace AztecCore {

ReaderEngine::ReaderEngine() : detector_(std::make_unique<SymbolDetector>()) {}

ReaderEngine::~ReaderEngine() = default;

ReadOutcome ReaderEngine::read(const Image::GrayBuf& image, std::string& message) {
    return read(Image::ImageView{image.plane.pixels.data(), image.width(), image.height(), image.plane.stride}, message);
}

ReadOutcome ReaderEngine::read(const Image::ImageView& image, std::string& message) {
    data_.clear();
    data_.shrink_to_fit();
    decoded_ = {};
    correctedWords_ = 0;
    // The detector reads the caller's pixels in place for this call only.
    struct Release {
        SymbolDetector& d;
        ~Release() { d.releaseImage(); }
    } release{*detector_};
    detector_->borrowImage(image);
    CandidateList candidates = detector_->findCandidates();
    SymbolCandidate& cand = *candidates.front();
    ReadOutcome outcome = ReadOutcome::NotLocated;
    if (detector_->locate(cand)) {
        outcome = ReadOutcome::Located;
        message = "Detected barcode area " + describe(cand);
        if (auto decoded = detector_->decode(cand)) {
            outcome = ReadOutcome::Read;
            message = "Read data " + describe(cand) + "\n #err=" + std::to_string(decoded->correctedWords);
            data_ = decoded->text.bytes;
            decoded_ = std::move(decoded->text);
            correctedWords_ = decoded->correctedWords;
        }
    } else if (cand.type == SymbolType::None) {
        message = "Code has been detected, but this is not Aztec";
    } else {
        message = "Aztec code detected. The image quality does not allow for reading the data. " + describe(cand);
    }
    candidate_ = cand;
    return outcome;
}

std::string ReaderEngine::dataText() const { return std::string(data_.begin(), data_.end()); }

}  // namespace AztecCore
