// Putting a structured-append message back together from its parts.
#include <map>
#include <set>
#include <string>

#include "api/charsets.h"
#include "quarrow/quarrow.hpp"

namespace quarrow {

JoinedMessage joinStructuredAppend(const std::vector<ReadResult>& results) {
    JoinedMessage joined;
    try {
        std::map<int, const ReadResult*> parts;
        std::set<std::pair<int, std::string>> messages;  // (count, ID) of every part seen
        for (const ReadResult& r : results) {
            if (!r.ok() || r.outcome != Outcome::Read || !r.structuredAppend) continue;
            messages.insert({r.structuredAppend->count, r.structuredAppend->id});
            const ReadResult*& slot = parts[r.structuredAppend->index];
            if (slot && slot->bytes != r.bytes) {
                joined.error = "two different symbols claim part " + std::to_string(r.structuredAppend->index);
                return joined;
            }
            slot = &r;
        }
        if (messages.empty()) {
            joined.error = "no structured-append part among the results";
            return joined;
        }
        if (messages.size() > 1) {
            joined.error = "the parts belong to more than one message (different counts or IDs)";
            return joined;
        }
        const int count = messages.begin()->first;
        std::string missing;
        for (int i = 1; i <= count; ++i) {
            if (parts.count(i)) continue;
            missing += (missing.empty() ? "" : ", ") + std::to_string(i);
        }
        if (!missing.empty()) {
            joined.error = "missing part" + std::string(missing.find(',') == std::string::npos ? " " : "s ") + missing +
                           " of " + std::to_string(count);
            return joined;
        }
        std::vector<EciMark> ecis;
        for (const auto& [index, part] : parts) {
            for (const EciMark& m : part->ecis) ecis.push_back({m.eci, joined.bytes.size() + m.position});
            joined.bytes.insert(joined.bytes.end(), part->bytes.begin(), part->bytes.end());
        }
        std::string note;
        joined.text = detail::bytesToUtf8(joined.bytes, ecis, note);
        joined.ok = true;
    } catch (const std::exception&) {
        joined = {};
        joined.error = "out of memory";
    }
    return joined;
}

}  // namespace quarrow
