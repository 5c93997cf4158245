// One image parser of the tools, chosen at build time. Besides crashes and
// sanitizer reports, the fuzzer's memory limit catches a file that makes
// us allocate far more than its bytes justify.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <sstream>
#include <string>

#include "image_io.h"

namespace {

void checkFrame(quarrow::io::IoError e, const quarrow::io::GreyFrame& f) {
    const bool empty = f.pixels.empty() && f.width == 0 && f.height == 0;
    if (e != quarrow::io::IoError::Ok) {
        if (!empty) std::abort();  // a failure leaves nothing behind
        return;
    }
    if (f.width <= 0 || f.height <= 0 ||
        f.pixels.size() != static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarrow::io;
    const std::span<const std::uint8_t> bytes(data, size);
    GreyFrame frame;
    std::string detail;
#if defined(QUARROW_FUZZ_PNM)
    checkFrame(decodePnm(bytes, frame, detail), frame);
#elif defined(QUARROW_FUZZ_PNG)
    checkFrame(decodePng(bytes, frame, detail), frame);
#elif defined(QUARROW_FUZZ_JPEG)
    checkFrame(decodeJpeg(bytes, frame, detail), frame);
#else
    // The video parser reads a stream frame by frame.
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    FrameSource source;
    if (source.open(stream, detail) != IoError::Ok) return 0;
    IoError e = IoError::Ok;
    for (int i = 0; i < 64; ++i) {
        const FrameSource::Next next = source.next(frame, e, detail);
        if (next != FrameSource::Next::Frame) break;
        checkFrame(IoError::Ok, frame);
    }
#endif
    return 0;
}
