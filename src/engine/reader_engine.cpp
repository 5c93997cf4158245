#include "engine/reader_engine.h"

#include <charconv>

#include "decode/data_codewords.h"

namespace AztecCore {

namespace {
// Messages are built in the caller's string, so that a reused one keeps its
// storage and a read allocates nothing for them.
constexpr const char* kUnreadable = "Aztec code detected. The image quality does not allow for reading the data. ";
}  // namespace

ReaderEngine::ReaderEngine() : detector_(std::make_unique<SymbolDetector>()) {}

ReaderEngine::~ReaderEngine() = default;

ReadOutcome ReaderEngine::read(const Image::GrayBuf& image, std::string& message) {
    return read(Image::ImageView{image.plane.pixels.data(), image.width(), image.height(), image.plane.stride}, message);
}

ReadOutcome ReaderEngine::read(const Image::ImageView& image, std::string& message) {
    decoded_.text.clear();
    decoded_.correctedWords = 0;
    // The detector reads the caller's pixels in place for this call only.
    struct Release {
        SymbolDetector& d;
        ~Release() { d.releaseImage(); }
    } release{*detector_};
    detector_->borrowImage(image);
    detector_->findCandidates(candidates_);
    SymbolCandidate& cand = *candidates_.front();
    ReadOutcome outcome = ReadOutcome::NotLocated;
    const bool located = detector_->locate(cand);
    if (located && cand.rune >= 0) {
        // A rune carries its value in the mode ring and nothing else; only
        // a quiet zone round the ring tells it from a damaged larger symbol.
        if (runeHasQuietZone()) {
            outcome = ReadOutcome::Read;
            message = "Read rune " + std::to_string(cand.rune) + "\n #err=0";
            const std::string digits = std::to_string(cand.rune);
            decoded_.text.bytes.assign(digits.begin(), digits.end());
        } else {
            message.assign(kUnreadable);
            appendDescription(message, cand);
        }
    } else if (located) {
        outcome = ReadOutcome::Located;
        message.assign("Detected barcode area ");
        appendDescription(message, cand);
        if (detector_->decode(cand, decoded_)) {
            outcome = ReadOutcome::Read;
            message.assign("Read data ");
            appendDescription(message, cand);
            message += "\n #err=";
            char count[16];
            message.append(count, static_cast<std::size_t>(
                                      std::to_chars(count, count + sizeof count, decoded_.correctedWords).ptr - count));
        } else {
            decoded_.text.clear();  // a failed decode leaves it unspecified
            decoded_.correctedWords = 0;
        }
    } else if (cand.type == SymbolType::None) {
        message.assign("Code has been detected, but this is not Aztec");
    } else {
        message.assign(kUnreadable);
        appendDescription(message, cand);
    }
    candidate_ = cand;
    return outcome;
}

bool ReaderEngine::runeHasQuietZone() const {
    // Symbol-grid rings round the centre: 4 is the bull's-eye's outer dark
    // ring, 3 a light one, 5 the mode ring, 6 the quiet zone.
    constexpr int kDarkRing = 4, kLightRing = 3, kQuietRing = 6;
    auto ringSamples = [this](int r, auto&& each) {
        for (int i = -r; i < r; ++i) {
            each(detector_->sampleModuleCoarse(i, -r));
            each(detector_->sampleModuleCoarse(r, i));
            each(detector_->sampleModuleCoarse(-i, r));
            each(detector_->sampleModuleCoarse(-r, -i));
        }
    };
    std::uint64_t dark = 0, light = 0;
    ringSamples(kDarkRing, [&](std::uint32_t v) { dark += v; });
    ringSamples(kLightRing, [&](std::uint32_t v) { light += v; });
    const std::uint64_t darkMean = dark / (8 * kDarkRing), lightMean = light / (8 * kLightRing);
    if (lightMean <= darkMean) return false;
    const std::uint64_t threshold = (darkMean + lightMean) / 2;
    bool quiet = true;
    ringSamples(kQuietRing, [&](std::uint32_t v) { quiet = quiet && v > threshold; });
    return quiet;
}

std::string ReaderEngine::dataText() const { return std::string(decoded_.text.bytes.begin(), decoded_.text.bytes.end()); }

}  // namespace AztecCore
