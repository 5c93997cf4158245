// The runtime class AztecReader: reads the Aztec symbol of one camera frame
// per call. It has no state, so one object may serve any number of threads.
#pragma once

#include <cstdint>
#include <string>

#include "platform/runtime_object.h"

namespace quarrow::component {

class AztecReader final : public platform::InspectableObject<platform::IAztecReader> {
public:
    AztecReader();

    // S_OK with the decoded bytes (one code unit per byte, ISO-8859-1, 0
    // bytes kept) or the null handle when nothing was read, also for a frame
    // that cannot be read safely. A failing code, with a null result, only
    // when an exception other than a standard one left the read, or when
    // memory ran out outside it.
    platform::HRESULT QUARROW_STDCALL readAztecCamera(std::uint32_t frameLength, const std::uint8_t* frame,
                                                      std::int32_t width, std::int32_t height,
                                                      platform::HSTRING* result) override;

private:
    ~AztecReader() override = default;
};

// Frames above this many pixels are refused rather than copied (twice).
inline constexpr std::uint64_t kMaxFramePixels = std::uint64_t{1} << 28;

// True when `frame` holds at least width x height bytes by `frameLength`,
// both sizes are positive and the area is at most kMaxFramePixels.
bool frameIsReadable(std::uint32_t frameLength, const std::uint8_t* frame, std::int32_t width,
                     std::int32_t height);

// One code unit per byte, byte b -> U+00bb.
std::u16string widenLatin1(const std::string& bytes);

}  // namespace quarrow::component
