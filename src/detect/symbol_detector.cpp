#include "detect/symbol_detector.h"

namespace AztecCore {

SymbolDetector::SymbolDetector() = default;

void SymbolDetector::setImage(const Image::GrayBuf& image) { image_ = std::make_shared<Image::GrayBuf>(image); }

CandidateList SymbolDetector::findCandidates() {
    CandidateList list;
    auto cand = std::make_unique<SymbolCandidate>();
    cand->centre = {image_->width() * 0.5, image_->height() * 0.5};
    list.push_back(std::move(cand));
    return list;
}

bool SymbolDetector::locate(SymbolCandidate&) { return false; }

std::optional<Aztec::DecodedData> SymbolDetector::decode(SymbolCandidate&) { return std::nullopt; }

}  // namespace AztecCore
