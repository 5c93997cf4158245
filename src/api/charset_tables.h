// Code point tables of the character sets that ECI designators select.
#pragma once

#include <cstdint>

namespace quarrow::detail {

// Bytes 0x80..0xFF of single-byte sets (bytes below 0x80 are ASCII).
extern const std::uint16_t kCp437[128];
extern const std::uint16_t kIso8859_2[128], kIso8859_3[128], kIso8859_4[128], kIso8859_5[128];
extern const std::uint16_t kIso8859_6[128], kIso8859_7[128], kIso8859_8[128], kIso8859_9[128];
extern const std::uint16_t kIso8859_10[128], kIso8859_11[128], kIso8859_13[128], kIso8859_14[128];
extern const std::uint16_t kIso8859_15[128], kIso8859_16[128];
extern const std::uint16_t kCp1250[128], kCp1251[128], kCp1252[128], kCp1256[128];

// Shift JIS two-byte codes: lead bytes 0x81..0x9F then 0xE0..0xEF (47), each
// with trail bytes 0x40..0xFC except 0x7F (188).
inline constexpr int kShiftJisTrails = 188;
extern const std::uint16_t kShiftJis[47 * kShiftJisTrails];

}  // namespace quarrow::detail
