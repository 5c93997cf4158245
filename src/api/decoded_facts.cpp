#include "api/decoded_facts.h"

#include "api/charsets.h"

namespace quarrow::detail {

namespace {

// The modifier after "]z": FNC1 first (1), FNC1 second (2) or neither (0),
// plus 3 with ECI designators, plus 6 in a structured-append part; as one
// hexadecimal digit.
char modifier(bool fnc1First, bool fnc1Second, bool eci, bool structured) {
    int m = fnc1First ? 1 : fnc1Second ? 2 : 0;
    if (eci) m += 3;
    if (structured) m += 6;
    return "0123456789AB"[m];
}

}  // namespace

void applyDecodedText(const Aztec::DecodedText& d, ReadResult& r) {
    const std::size_t header = d.structuredAppend.count > 0 ? d.structuredAppend.headerBytes : 0;
    r.bytes.clear();
    r.bytes.reserve(d.bytes.size());
    // Positions of the bytes dropped, in order: the header, then the FNC1
    // separator. ECI positions move back by the bytes dropped before them.
    auto kept = [&](std::size_t i) { return i >= header && static_cast<std::int64_t>(i) != d.fnc1SecondAt; };
    for (std::size_t i = 0; i < d.bytes.size(); ++i)
        if (kept(i)) r.bytes.push_back(d.bytes[i]);
    auto newPosition = [&](std::size_t p) {
        std::size_t dropped = std::min(p, header);
        if (d.fnc1SecondAt >= 0 && static_cast<std::size_t>(d.fnc1SecondAt) < p) ++dropped;
        return p - dropped;
    };
    r.gs1 = d.gs1;
    r.ecis.clear();
    for (const Aztec::EciMark& m : d.ecis) r.ecis.push_back({m.eci, newPosition(m.position)});
    r.structuredAppend.reset();
    if (d.structuredAppend.count > 0)
        r.structuredAppend = StructuredAppend{d.structuredAppend.index, d.structuredAppend.count, d.structuredAppend.id};
    r.symbologyIdentifier =
        std::string("]z") + modifier(d.gs1, d.fnc1SecondAt >= 0, !d.ecis.empty(), d.structuredAppend.count > 0);
    r.text = bytesToUtf8(r.bytes, r.ecis, r.textNote);
}

}  // namespace quarrow::detail
