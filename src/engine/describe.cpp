#include <cstdio>
#include <string>

#include "engine/reader_engine.h"

namespace AztecCore {

std::string describe(const SymbolCandidate& cand) {
    std::string out;
    appendDescription(out, cand);
    return out;
}

void appendDescription(std::string& out, const SymbolCandidate& cand) {
    static constexpr const char* kRotations[4] = {"0'", "90'", "180'", "270'"};
    const char* type = cand.type == SymbolType::Compact ? "C" : cand.type == SymbolType::FullRange ? "F" : "?";
    const char* rotation = (cand.rotation >= 0 && cand.rotation < 4) ? kRotations[cand.rotation] : "?'";
    // Products in 64 bits then narrowed, so hostile fields cannot overflow.
    const auto dataBits = static_cast<std::int32_t>(static_cast<std::int64_t>(cand.dataWords) * cand.wordBits);
    const std::int64_t checkShare = (static_cast<std::int64_t>(cand.totalWords) - cand.dataWords) * 100;
    const auto ecc = static_cast<std::int32_t>(checkShare / (cand.totalWords > 0 ? cand.totalWords : 1));
    char buf[128];
    std::snprintf(buf, sizeof buf, "(%s %s%s L: %d D: %d ECC: %d%%)", type, rotation, cand.mirrored ? "M" : "",
                  cand.layers, dataBits, ecc);
    out += buf;
}

}  // namespace AztecCore
