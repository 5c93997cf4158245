/* The C interface from a C program: encode with libzint, draw the symbol
 * into a padded grey frame, read it back, and probe the bad inputs. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zint.h>

#include "quarrow/quarrow.h"

enum { kScale = 8, kWidth = 640, kHeight = 480, kPad = 9, kLight = 230, kDark = 25 };

static int failures = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

/* A kWidth x kHeight frame with the symbol in the middle, in rows of
 * kWidth + kPad bytes; the padding is dark. */
static unsigned char* render(const char* data, int* width, int* height, int* stride) {
    struct zint_symbol* sym = ZBarcode_Create();
    unsigned char* frame = NULL;
    sym->symbology = BARCODE_AZTEC;
    if (ZBarcode_Encode(sym, (const unsigned char*)data, (int)strlen(data)) >= ZINT_ERROR) {
        ZBarcode_Delete(sym);
        return NULL;
    }
    *width = kWidth;
    *height = kHeight;
    const int left = (kWidth - sym->width * kScale) / 2, top = (kHeight - sym->rows * kScale) / 2;
    *stride = *width + kPad;
    frame = malloc((size_t)*stride * (size_t)*height);
    if (frame) {
        memset(frame, kDark, (size_t)*stride * (size_t)*height);
        for (int y = 0; y < *height; ++y) {
            for (int x = 0; x < *width; ++x) {
                const int r = (y - top) / kScale, c = (x - left) / kScale;
                const int dark = y >= top && x >= left && r < sym->rows && c < sym->width &&
                                 ((sym->encoded_data[r][c / 8] >> (c % 8)) & 1);
                frame[(size_t)y * (size_t)*stride + (size_t)x] = dark ? kDark : kLight;
            }
        }
    }
    ZBarcode_Delete(sym);
    return frame;
}

int main(void) {
    int w = 0, h = 0, stride = 0;
    unsigned char* frame = render("Hello from C", &w, &h, &stride);
    CHECK(frame != NULL);
    if (!frame) return 1;

    quarrow_result* r = quarrow_read(frame, w, h, stride);
    CHECK(r != NULL);
    CHECK(quarrow_result_status(r) == QUARROW_OK);
    CHECK(quarrow_result_outcome(r) == QUARROW_OUTCOME_READ);
    size_t len = 0;
    const char* text = quarrow_result_text(r, &len);
    CHECK(len == 12 && strcmp(text, "Hello from C") == 0);
    const uint8_t* bytes = quarrow_result_bytes(r, &len);
    CHECK(len == 12 && memcmp(bytes, "Hello from C", 12) == 0);
    CHECK(strncmp(quarrow_result_message(r), "Read data (C 0' L: ", 19) == 0);
    CHECK(strcmp(quarrow_result_text_note(r), "") == 0);
    CHECK(quarrow_result_symbol_type(r) == QUARROW_SYMBOL_COMPACT);
    CHECK(quarrow_result_layers(r) >= 1);
    CHECK(quarrow_result_word_bits(r) == 6);
    CHECK(quarrow_result_total_words(r) > quarrow_result_data_words(r));
    CHECK(quarrow_result_ecc_percent(r) > 0);
    CHECK(quarrow_result_corrected_words(r) >= 0 &&
          quarrow_result_corrected_words(r) <= quarrow_result_total_words(r) - quarrow_result_data_words(r));
    CHECK(quarrow_result_rotation(r) == 0);
    CHECK(quarrow_result_mirrored(r) == 0);
    CHECK(quarrow_result_gs1(r) == 0);
    CHECK(quarrow_result_eci_count(r) == 0);
    int eci = -1;
    size_t pos = 99;
    CHECK(quarrow_result_eci(r, 0, &eci, &pos) == 0 && eci == -1 && pos == 99);
    double x = 0, y = 0, cx = 0, cy = 0;
    quarrow_result_centre(r, &cx, &cy);
    CHECK(cx > w * 0.4 && cx < w * 0.6 && cy > h * 0.4 && cy < h * 0.6);
    CHECK(quarrow_result_symbol_corner(r, 0, &x, &y) == 1);
    /* A 19-module symbol; its outline to within a module (the geometry itself
     * is tested with the detector). */
    CHECK(x > (kWidth - 19 * kScale) / 2 - kScale && x < (kWidth - 19 * kScale) / 2 + kScale);
    CHECK(y > (kHeight - 19 * kScale) / 2 - kScale && y < (kHeight - 19 * kScale) / 2 + kScale);
    CHECK(quarrow_result_bullseye_corner(r, 2, &x, &y) == 1 && x > cx && y > cy);
    CHECK(quarrow_result_symbol_corner(r, 4, &x, &y) == 0);
    CHECK(quarrow_result_bullseye_corner(r, -1, NULL, NULL) == 0);
    quarrow_result_free(r);

    /* Checked buffer: one byte short of the last row. */
    const size_t need = (size_t)stride * (size_t)(h - 1) + (size_t)w;
    r = quarrow_read_buffer(frame, need - 1, w, h, stride);
    CHECK(quarrow_result_status(r) == QUARROW_SHORT_BUFFER);
    CHECK(quarrow_result_outcome(r) == QUARROW_OUTCOME_NOT_LOCATED);
    quarrow_result_free(r);
    r = quarrow_read_buffer(frame, need, w, h, stride);
    CHECK(quarrow_result_outcome(r) == QUARROW_OUTCOME_READ);
    quarrow_result_free(r);

    /* Options and every symbol of the frame. */
    quarrow_options opts;
    quarrow_options_init(&opts);
    CHECK(opts.search == QUARROW_SEARCH_FRAME && opts.light_on_dark == 1 && opts.effort == 1.0);
    /* Effort out of range refuses the read; 0, a zeroed struct's, is the default. */
    const double efforts[] = {-1.0, QUARROW_MAX_EFFORT * 2, 0.0};
    for (int k = 0; k < 3; ++k) {
        opts.effort = efforts[k];
        r = quarrow_read_with_options(frame, need, w, h, stride, &opts);
        CHECK(quarrow_result_status(r) == (k < 2 ? QUARROW_BAD_OPTIONS : QUARROW_OK));
        quarrow_result_free(r);
    }
    CHECK(strstr(quarrow_status_string(QUARROW_BAD_OPTIONS), "effort") != NULL);
    opts.search = QUARROW_SEARCH_CENTRE;
    r = quarrow_read_with_options(frame, need, w, h, stride, &opts);
    CHECK(quarrow_result_outcome(r) == QUARROW_OUTCOME_READ && quarrow_result_light_on_dark(r) == 0);
    quarrow_result_free(r);
    r = quarrow_read_with_options(frame, need - 1, w, h, stride, NULL);
    CHECK(quarrow_result_status(r) == QUARROW_SHORT_BUFFER);
    quarrow_result_free(r);
    quarrow_results* all = quarrow_read_all(frame, need, w, h, stride, NULL);
    CHECK(quarrow_results_status(all) == QUARROW_OK);
    CHECK(quarrow_results_count(all) == 1);
    CHECK(strcmp(quarrow_result_text(quarrow_results_get(all, 0), NULL), "Hello from C") == 0);
    CHECK(quarrow_results_get(all, 1) == NULL);
    /* A plain symbol: no structured-append part; its identifier. */
    const quarrow_result* first = quarrow_results_get(all, 0);
    int index = -1;
    CHECK(quarrow_result_structured_append(first, &index, NULL, NULL) == 0 && index == -1);
    CHECK(strcmp(quarrow_result_symbology_identifier(first), "]z0") == 0);
    quarrow_joined* joined = quarrow_join_structured_append(&first, 1);
    CHECK(quarrow_joined_ok(joined) == 0 && strstr(quarrow_joined_error(joined), "no structured-append part") != NULL);
    quarrow_joined_free(joined);
    quarrow_results_free(all);
    all = quarrow_read_all(frame, need, 100000, 100000, 0, &opts);
    CHECK(quarrow_results_status(all) == QUARROW_TOO_LARGE && quarrow_results_count(all) == 0);
    quarrow_results_free(all);
    CHECK(quarrow_results_status(NULL) == QUARROW_NULL_FRAME && quarrow_results_get(NULL, 0) == NULL);
    quarrow_results_free(NULL);

    /* A reader kept over several frames answers as the single reads do. */
    quarrow_reader* reader = quarrow_reader_new(NULL);
    CHECK(reader != NULL);
    for (int round = 0; round < 3; ++round) {
        r = quarrow_reader_read(reader, frame, need, w, h, stride);
        CHECK(strcmp(quarrow_result_text(r, NULL), "Hello from C") == 0);
        quarrow_result_free(r);
        r = quarrow_reader_read(reader, frame, need - 1, w, h, stride);
        CHECK(quarrow_result_status(r) == QUARROW_SHORT_BUFFER);
        quarrow_result_free(r);
    }
    r = quarrow_reader_read(reader, NULL, 100, 10, 10, 0);
    CHECK(quarrow_result_status(r) == QUARROW_NULL_FRAME);
    quarrow_result_free(r);
    quarrow_reader_free(reader);
    quarrow_reader_free(NULL);

    /* Light on dark: only the whole-frame search reads it, and says so. */
    unsigned char* negative = malloc(need);
    CHECK(negative != NULL);
    if (negative) {
        for (size_t i = 0; i < need; ++i) negative[i] = (unsigned char)(255 - frame[i]);
        r = quarrow_read_with_options(negative, need, w, h, stride, NULL);
        CHECK(quarrow_result_outcome(r) == QUARROW_OUTCOME_READ && quarrow_result_light_on_dark(r) == 1);
        CHECK(strcmp(quarrow_result_text(r, NULL), "Hello from C") == 0);
        quarrow_result_free(r);
        r = quarrow_read_with_options(negative, need, w, h, stride, &opts); /* centre only */
        CHECK(quarrow_result_outcome(r) != QUARROW_OUTCOME_READ);
        quarrow_result_free(r);
        opts.search = QUARROW_SEARCH_FRAME;
        opts.light_on_dark = 0;
        r = quarrow_read_with_options(negative, need, w, h, stride, &opts);
        CHECK(quarrow_result_outcome(r) != QUARROW_OUTCOME_READ);
        quarrow_result_free(r);
        free(negative);
    }

    /* Bad input. */
    r = quarrow_read(NULL, 10, 10, 0);
    CHECK(quarrow_result_status(r) == QUARROW_NULL_FRAME);
    CHECK(strcmp(quarrow_result_text(r, NULL), "") == 0);
    quarrow_result_free(r);
    r = quarrow_read(frame, 0, 10, 0);
    CHECK(quarrow_result_status(r) == QUARROW_BAD_SIZE);
    quarrow_result_free(r);
    r = quarrow_read(frame, 10, 10, 5);
    CHECK(quarrow_result_status(r) == QUARROW_BAD_SIZE);
    quarrow_result_free(r);
    r = quarrow_read(frame, 100000, 100000, 0);
    CHECK(quarrow_result_status(r) == QUARROW_TOO_LARGE);
    quarrow_result_free(r);
    CHECK(strlen(quarrow_status_string(QUARROW_SHORT_BUFFER)) > 0);
    CHECK(strcmp(quarrow_status_string((quarrow_status)42), "unknown status") == 0);

    /* NULL results answer like rejected frames. */
    CHECK(quarrow_result_outcome(NULL) == QUARROW_OUTCOME_NOT_LOCATED);
    CHECK(quarrow_result_bytes(NULL, &len) != NULL && len == 0);
    quarrow_result_free(NULL);

    free(frame);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
