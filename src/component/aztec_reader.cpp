#include "component/aztec_reader.h"

#include <cstdio>
#include <exception>

#include "component/deliverable.h"
#include "engine/reader_engine.h"
#include "image/gray_buf.h"
#include "platform/exception_translation.h"
#include "platform/unique_hstring.h"

namespace quarrow::component {

// The result codes are macros on Windows, so they are named unqualified.
using namespace platform;

namespace {

// The 8.1 components write the method name at every call; the Windows 10
// one is silent.
void announceCall() {
    if constexpr (kAnnounceCalls) {
        std::fputs("readAztecCamera", stdout);
        std::fflush(stdout);
    }
}

// The decoded bytes of the frame, or nothing. Exceptions that are not
// standard ones (and allocation failures of the engine or the image) pass.
std::string readFrameBytes(std::uint32_t frameLength, const std::uint8_t* frame, std::int32_t width,
                           std::int32_t height) {
    AztecCore::ReaderEngine engine;
    const bool readable = frameIsReadable(frameLength, frame, width, height);
    // A frame that is not readable is never touched: its bytes may not be
    // there, or its size may be absurd.
    const AztecCore::Image::GrayBuf image =
        readable ? AztecCore::Image::GrayBuf(frame, width, height) : AztecCore::Image::GrayBuf();
    announceCall();
    std::string text;
    if (!readable) return text;
    try {
        std::string message;  // diagnostic only; not part of the result
        if (engine.read(image, message) != AztecCore::ReadOutcome::NotLocated) text = engine.dataText();
    } catch (const std::exception&) {
        // A standard failure inside the read (a range error, memory) means
        // "no symbol read", not a failed call.
        text.clear();
    }
    return text;
}

}  // namespace

bool frameIsReadable(std::uint32_t frameLength, const std::uint8_t* frame, std::int32_t width,
                     std::int32_t height) {
    if (width <= 0 || height <= 0 || frame == nullptr) return false;
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return pixels <= kMaxFramePixels && pixels <= frameLength;
}

std::u16string widenLatin1(const std::string& bytes) {
    std::u16string wide(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        wide[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]));
    }
    return wide;
}

AztecReader::AztecReader() : InspectableObject(kReaderInterfaceId, kReaderClassName) {}

HRESULT QUARROW_STDCALL AztecReader::readAztecCamera(std::uint32_t frameLength, const std::uint8_t* frame,
                                                     std::int32_t width, std::int32_t height,
                                                     platform::HSTRING* result) {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    return platform::guardedCall([&] {
        // Every byte counts, 0 bytes included: the string's length is explicit.
        const std::u16string text = widenLatin1(readFrameBytes(frameLength, frame, width, height));
        platform::UniqueHString string;
        const HRESULT hr = platform::makeHString(text, string);
        if (platform::succeeded(hr)) *result = string.release();
        return hr;
    });
}

}  // namespace quarrow::component
