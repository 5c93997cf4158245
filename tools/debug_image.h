// A picture of one read for a person: the frame in grey with the reader's
// trace drawn over it.
#pragma once

#include <cstdint>
#include <vector>

#include "detect/symbol_detector.h"
#include "image_io.h"

namespace quarrow::tools {

struct DebugPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes per pixel
};

// Small frames are enlarged by a whole factor (up to 4) so that the marks
// stay visible. Drawn: seeds tried (cyan crosses), blob centres (magenta),
// bull's-eye corners (green outline), symbol outline (red), and sampled
// module centres (blue for dark, yellow for light).
DebugPicture drawTrace(const io::GreyFrame& frame, const AztecCore::DetectorTrace& trace);

}  // namespace quarrow::tools
