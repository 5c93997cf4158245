// The C interface: a thin shell over the C++ reading path. The result
// handle owns a ReadResult; nothing here throws across the boundary.
#include "quarrow/quarrow.h"

#include <new>
#include <span>
#include <utility>
#include <vector>

#include "api/read_frame.h"
#include "quarrow/quarrow.hpp"

struct quarrow_result {
    quarrow::ReadResult r;
};

struct quarrow_reader {
    quarrow::Reader reader;
};

struct quarrow_joined {
    quarrow::JoinedMessage m;
};

struct quarrow_results {
    quarrow::Status status = quarrow::Status::Ok;
    std::vector<quarrow_result> list;
};

namespace {

constexpr int kCorners = 4;
static_assert(QUARROW_MAX_EFFORT == quarrow::kMaxEffort, "the C and C++ bounds on effort differ");
static_assert(QUARROW_BAD_OPTIONS == static_cast<int>(quarrow::Status::BadOptions), "the C and C++ statuses differ");

quarrow::ReadOptions toOptions(const quarrow_options* options) {
    quarrow::ReadOptions o;
    if (options) {
        o.search = options->search == QUARROW_SEARCH_CENTRE ? quarrow::Search::Centre : quarrow::Search::Frame;
        o.lightOnDark = options->light_on_dark != 0;
        // A zeroed struct (C callers often start from one) reads as the
        // default.
        o.effort = options->effort == 0.0 ? 1.0 : options->effort;
    }
    return o;
}

// A size of SIZE_MAX would otherwise mean "unchecked".
size_t checkedSize(size_t size) { return size == quarrow::detail::kUnknownSize ? size - 1 : size; }

quarrow_result* makeResult(const uint8_t* frame, size_t size, int width, int height, int stride,
                           const quarrow_options* options) {
    auto* handle = new (std::nothrow) quarrow_result;
    if (!handle) return nullptr;
    try {
        handle->r = quarrow::detail::readFrame(frame, width, height, stride, size, toOptions(options), nullptr);
    } catch (...) {
        handle->r = {};
        handle->r.status = quarrow::Status::OutOfMemory;
    }
    return handle;
}

int corner(const std::array<quarrow::Point, 4>& corners, int index, double* x, double* y) {
    if (index < 0 || index >= kCorners) return 0;
    if (x) *x = corners[static_cast<std::size_t>(index)].x;
    if (y) *y = corners[static_cast<std::size_t>(index)].y;
    return 1;
}

}  // namespace

extern "C" {

const char* quarrow_status_string(quarrow_status status) {
    if (status < QUARROW_OK || status > QUARROW_BAD_OPTIONS) return "unknown status";
    return quarrow::toString(static_cast<quarrow::Status>(status));
}

void quarrow_options_init(quarrow_options* options) {
    if (!options) return;
    options->search = QUARROW_SEARCH_FRAME;
    options->light_on_dark = 1;
    options->effort = 1.0;
}

quarrow_result* quarrow_read(const uint8_t* frame, int width, int height, int stride) {
    return makeResult(frame, quarrow::detail::kUnknownSize, width, height, stride, nullptr);
}

quarrow_result* quarrow_read_buffer(const uint8_t* frame, size_t size, int width, int height, int stride) {
    return makeResult(frame, checkedSize(size), width, height, stride, nullptr);
}

quarrow_result* quarrow_read_with_options(const uint8_t* frame, size_t size, int width, int height, int stride,
                                          const quarrow_options* options) {
    return makeResult(frame, checkedSize(size), width, height, stride, options);
}

void quarrow_result_free(quarrow_result* result) { delete result; }

quarrow_reader* quarrow_reader_new(const quarrow_options* options) {
    try {
        return new quarrow_reader{quarrow::Reader(toOptions(options))};
    } catch (...) {
        return nullptr;
    }
}

quarrow_result* quarrow_reader_read(quarrow_reader* reader, const uint8_t* frame, size_t size, int width, int height,
                                    int stride) {
    if (!reader) return makeResult(nullptr, 0, width, height, stride, nullptr);
    auto* handle = new (std::nothrow) quarrow_result;
    if (!handle) return nullptr;
    try {
        if (!frame)
            handle->r.status = quarrow::Status::NullFrame;  // a span must not start at null
        else
            handle->r = reader->reader.read(std::span<const std::uint8_t>(frame, checkedSize(size)), width, height, stride);
    } catch (...) {
        handle->r = {};
        handle->r.status = quarrow::Status::OutOfMemory;
    }
    return handle;
}

void quarrow_reader_free(quarrow_reader* reader) { delete reader; }

quarrow_results* quarrow_read_all(const uint8_t* frame, size_t size, int width, int height, int stride,
                                  const quarrow_options* options) {
    auto* handle = new (std::nothrow) quarrow_results;
    if (!handle) return nullptr;
    try {
        std::vector<quarrow::ReadResult> all =
            quarrow::detail::readAllFrame(frame, width, height, stride, checkedSize(size), toOptions(options));
        // A refused frame comes back as one result holding the status.
        if (all.size() == 1 && !all.front().ok()) {
            handle->status = all.front().status;
            return handle;
        }
        handle->list.reserve(all.size());
        for (quarrow::ReadResult& r : all) handle->list.push_back({std::move(r)});
    } catch (...) {
        handle->list.clear();
        handle->status = quarrow::Status::OutOfMemory;
    }
    return handle;
}

quarrow_status quarrow_results_status(const quarrow_results* results) {
    return results ? static_cast<quarrow_status>(results->status) : QUARROW_NULL_FRAME;
}

size_t quarrow_results_count(const quarrow_results* results) { return results ? results->list.size() : 0; }

const quarrow_result* quarrow_results_get(const quarrow_results* results, size_t index) {
    return results && index < results->list.size() ? &results->list[index] : nullptr;
}

void quarrow_results_free(quarrow_results* results) { delete results; }

quarrow_status quarrow_result_status(const quarrow_result* result) {
    return result ? static_cast<quarrow_status>(result->r.status) : QUARROW_NULL_FRAME;
}

quarrow_outcome quarrow_result_outcome(const quarrow_result* result) {
    return result ? static_cast<quarrow_outcome>(result->r.outcome) : QUARROW_OUTCOME_NOT_LOCATED;
}

const uint8_t* quarrow_result_bytes(const quarrow_result* result, size_t* length) {
    static const uint8_t kNone[1] = {0};
    if (length) *length = result ? result->r.bytes.size() : 0;
    return result && !result->r.bytes.empty() ? result->r.bytes.data() : kNone;
}

const char* quarrow_result_text(const quarrow_result* result, size_t* length) {
    if (length) *length = result ? result->r.text.size() : 0;
    return result ? result->r.text.c_str() : "";
}

const char* quarrow_result_text_note(const quarrow_result* result) { return result ? result->r.textNote.c_str() : ""; }
const char* quarrow_result_message(const quarrow_result* result) { return result ? result->r.message.c_str() : ""; }
int quarrow_result_gs1(const quarrow_result* result) { return result && result->r.gs1 ? 1 : 0; }
size_t quarrow_result_eci_count(const quarrow_result* result) { return result ? result->r.ecis.size() : 0; }

int quarrow_result_eci(const quarrow_result* result, size_t index, int* eci, size_t* position) {
    if (!result || index >= result->r.ecis.size()) return 0;
    if (eci) *eci = result->r.ecis[index].eci;
    if (position) *position = result->r.ecis[index].position;
    return 1;
}

quarrow_symbol_type quarrow_result_symbol_type(const quarrow_result* result) {
    return result ? static_cast<quarrow_symbol_type>(result->r.type) : QUARROW_SYMBOL_NONE;
}
int quarrow_result_layers(const quarrow_result* result) { return result ? result->r.layers : 0; }
int quarrow_result_data_words(const quarrow_result* result) { return result ? result->r.dataWords : 0; }
int quarrow_result_word_bits(const quarrow_result* result) { return result ? result->r.wordBits : 0; }
int quarrow_result_total_words(const quarrow_result* result) { return result ? result->r.totalWords : 0; }
int quarrow_result_ecc_percent(const quarrow_result* result) { return result ? result->r.eccPercent : 0; }
int quarrow_result_corrected_words(const quarrow_result* result) { return result ? result->r.correctedWords : 0; }
int quarrow_result_rotation(const quarrow_result* result) { return result ? result->r.rotation : 0; }
int quarrow_result_mirrored(const quarrow_result* result) { return result && result->r.mirrored ? 1 : 0; }
int quarrow_result_light_on_dark(const quarrow_result* result) { return result && result->r.lightOnDark ? 1 : 0; }

int quarrow_result_structured_append(const quarrow_result* result, int* index, int* count, const char** id) {
    if (!result || !result->r.structuredAppend) return 0;
    if (index) *index = result->r.structuredAppend->index;
    if (count) *count = result->r.structuredAppend->count;
    if (id) *id = result->r.structuredAppend->id.c_str();
    return 1;
}

int quarrow_result_rune(const quarrow_result* result) { return result && result->r.rune ? *result->r.rune : -1; }
int quarrow_result_reader_init(const quarrow_result* result) { return result && result->r.readerInit ? 1 : 0; }

const char* quarrow_result_symbology_identifier(const quarrow_result* result) {
    return result ? result->r.symbologyIdentifier.c_str() : "";
}

quarrow_joined* quarrow_join_structured_append(const quarrow_result* const* results, size_t count) {
    auto* handle = new (std::nothrow) quarrow_joined;
    if (!handle) return nullptr;
    try {
        std::vector<quarrow::ReadResult> all;
        all.reserve(count);
        for (size_t i = 0; results && i < count; ++i)
            if (results[i]) all.push_back(results[i]->r);
        handle->m = quarrow::joinStructuredAppend(all);
    } catch (...) {
        handle->m = {};
        handle->m.error = "out of memory";
    }
    return handle;
}

int quarrow_joined_ok(const quarrow_joined* joined) { return joined && joined->m.ok ? 1 : 0; }

const uint8_t* quarrow_joined_bytes(const quarrow_joined* joined, size_t* length) {
    static const uint8_t kNone[1] = {0};
    if (length) *length = joined ? joined->m.bytes.size() : 0;
    return joined && !joined->m.bytes.empty() ? joined->m.bytes.data() : kNone;
}

const char* quarrow_joined_text(const quarrow_joined* joined, size_t* length) {
    if (length) *length = joined ? joined->m.text.size() : 0;
    return joined ? joined->m.text.c_str() : "";
}

const char* quarrow_joined_error(const quarrow_joined* joined) {
    return joined ? joined->m.error.c_str() : "no join";
}

void quarrow_joined_free(quarrow_joined* joined) { delete joined; }

int quarrow_result_bullseye_corner(const quarrow_result* result, int index, double* x, double* y) {
    return result ? corner(result->r.bullseyeCorners, index, x, y) : 0;
}

int quarrow_result_symbol_corner(const quarrow_result* result, int index, double* x, double* y) {
    return result ? corner(result->r.symbolCorners, index, x, y) : 0;
}

void quarrow_result_centre(const quarrow_result* result, double* x, double* y) {
    if (x) *x = result ? result->r.centre.x : 0.0;
    if (y) *y = result ? result->r.centre.y : 0.0;
}

}  // extern "C"
