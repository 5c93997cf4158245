// What a read reports of the decoded text: the data bytes without the
// markers the symbol carries in them (a structured-append header, the
// separator that stands for an FNC1 in second position), and the
// symbology identifier that says which markers there were.
#pragma once

#include "decode/text_decoder.h"
#include "quarrow/quarrow.hpp"

namespace quarrow::detail {

// Sets bytes, text, textNote, gs1, ecis, structuredAppend and
// symbologyIdentifier of a result whose data was read.
void applyDecodedText(const Aztec::DecodedText& decoded, ReadResult& r);

}  // namespace quarrow::detail
