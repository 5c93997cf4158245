// The C interface: a thin shell over the C++ reading path. The result
// handle owns a ReadResult; nothing here throws across the boundary.
#include "quarrow/quarrow.h"

#include <new>

#include "api/read_frame.h"
#include "quarrow/quarrow.hpp"

struct quarrow_result {
    quarrow::ReadResult r;
};

namespace {

constexpr int kCorners = 4;

quarrow_result* makeResult(const uint8_t* frame, size_t size, int width, int height, int stride) {
    auto* handle = new (std::nothrow) quarrow_result;
    if (!handle) return nullptr;
    try {
        handle->r = quarrow::detail::readFrame(frame, width, height, stride, size, quarrow::ReadOptions{}, nullptr);
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
    if (status < QUARROW_OK || status > QUARROW_INTERNAL_ERROR) return "unknown status";
    return quarrow::toString(static_cast<quarrow::Status>(status));
}

quarrow_result* quarrow_read(const uint8_t* frame, int width, int height, int stride) {
    return makeResult(frame, quarrow::detail::kUnknownSize, width, height, stride);
}

quarrow_result* quarrow_read_buffer(const uint8_t* frame, size_t size, int width, int height, int stride) {
    // A size of SIZE_MAX would otherwise mean "unchecked".
    if (size == quarrow::detail::kUnknownSize) --size;
    return makeResult(frame, size, width, height, stride);
}

void quarrow_result_free(quarrow_result* result) { delete result; }

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
