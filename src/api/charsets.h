// Decoded bytes to UTF-8 text, following the data's ECI designators.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "quarrow/quarrow.hpp"

namespace quarrow::detail {

// The bytes as UTF-8: ISO-8859-1 up to the first designator, then each run
// in the character set of the designator before it, converted by the C
// library's iconv: 0 and 2 (CP437), 1 and 3 (ISO-8859-1), 4..13 and 15..18
// (ISO-8859-2..16), 20 (Shift JIS), 21..24 (Windows-1250, -1251, -1252,
// -1256), 25 (UTF-16BE), 26 (UTF-8), 27 and 170 (ASCII), 28 (Big5), 29
// (GB 2312), 30 (KS X 1001, as EUC-KR), 31 (GBK), 32 (GB 18030), 33
// (UTF-16LE), 34 and 35 (UTF-32BE/LE), 899 (binary, shown as ISO-8859-1).
// Any other set is shown as ISO-8859-1. `note` is cleared, then says why
// the text may be unfaithful (unknown set, invalid sequences replaced by
// U+FFFD, binary data).
std::string bytesToUtf8(std::span<const std::uint8_t> bytes, const std::vector<EciMark>& ecis, std::string& note);

}  // namespace quarrow::detail
