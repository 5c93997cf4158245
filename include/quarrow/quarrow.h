/* Quarrow C interface: reads Aztec Code symbols from 8-bit grey camera
 * frames, first near the centre, then anywhere in the frame.
 *
 *   quarrow_result* r = quarrow_read(pixels, width, height, 0);
 *   if (r && quarrow_result_outcome(r) == QUARROW_OUTCOME_READ) use(quarrow_result_text(r, NULL));
 *   quarrow_result_free(r);
 *
 * A result is immutable and owned by the caller until quarrow_result_free;
 * every pointer it hands out lives as long as the result. Reads are
 * independent and may run on any number of threads at once. No function
 * here lets an exception or signal escape. */
#ifndef QUARROW_H
#define QUARROW_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define QUARROW_C_EXPORT __attribute__((visibility("default")))
#else
#define QUARROW_C_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct quarrow_result quarrow_result;

/* Why a frame could not be read at all; QUARROW_OK otherwise. */
typedef enum quarrow_status {
    QUARROW_OK = 0,
    QUARROW_NULL_FRAME = 1,     /* the frame pointer is null */
    QUARROW_BAD_SIZE = 2,       /* width or height below 1, or stride below width */
    QUARROW_SHORT_BUFFER = 3,   /* the buffer holds fewer bytes than needed */
    QUARROW_TOO_LARGE = 4,      /* more than 2^28 pixels */
    QUARROW_OUT_OF_MEMORY = 5,
    QUARROW_INTERNAL_ERROR = 6, /* the reader failed; the message says how */
    QUARROW_BAD_OPTIONS = 7     /* effort not above 0 and at most QUARROW_MAX_EFFORT */
} quarrow_status;

typedef enum quarrow_outcome {
    QUARROW_OUTCOME_NOT_LOCATED = 0, /* no symbol found and verified */
    QUARROW_OUTCOME_LOCATED = 1,     /* found, but its data could not be decoded */
    QUARROW_OUTCOME_READ = 2         /* the data was decoded */
} quarrow_outcome;

typedef enum quarrow_symbol_type {
    QUARROW_SYMBOL_NONE = 0,
    QUARROW_SYMBOL_COMPACT = 1,
    QUARROW_SYMBOL_FULL_RANGE = 2
} quarrow_symbol_type;

/* Where a read looks for symbols. */
typedef enum quarrow_search {
    QUARROW_SEARCH_FRAME = 0,  /* near the centre first, then the whole frame */
    QUARROW_SEARCH_CENTRE = 1  /* only near the centre (the runtime component's search) */
} quarrow_search;

#define QUARROW_MAX_EFFORT 4.0

/* Options of a read; quarrow_options_init sets the defaults (whole frame,
 * light-on-dark symbols looked for too, effort 1). */
typedef struct quarrow_options {
    quarrow_search search;
    int light_on_dark; /* non-zero: also look for light symbols on a dark ground (whole-frame search) */
    /* The work the whole-frame search may spend on a frame, as a share of
     * its own allowance: at 1 the hardest 640 x 480 frames take up to about
     * 0.1 s of one core, at 0.25 under 30 ms (heavily blurred symbols then
     * read less often). Above 0 and at most QUARROW_MAX_EFFORT; 0 (a zeroed
     * struct) means 1. */
    double effort;
} quarrow_options;

QUARROW_C_EXPORT void quarrow_options_init(quarrow_options* options);

/* A static English text for a status; never NULL. */
QUARROW_C_EXPORT const char* quarrow_status_string(quarrow_status status);

/* Reads `height` rows of `width` grey pixels, each row `stride` bytes after
 * the previous (0 means width). The caller vouches for
 * stride * (height - 1) + width readable bytes; quarrow_read_buffer checks
 * it against `size`. Returns NULL only when memory runs out; otherwise a
 * result whose status tells whether the frame was accepted. */
QUARROW_C_EXPORT quarrow_result* quarrow_read(const uint8_t* frame, int width, int height, int stride);
QUARROW_C_EXPORT quarrow_result* quarrow_read_buffer(const uint8_t* frame, size_t size, int width, int height, int stride);
/* The same with options (NULL: the defaults). quarrow_read and
 * quarrow_read_buffer use the defaults too. */
QUARROW_C_EXPORT quarrow_result* quarrow_read_with_options(const uint8_t* frame, size_t size, int width, int height,
                                                           int stride, const quarrow_options* options);
/* Frees a result; NULL is ignored. */
QUARROW_C_EXPORT void quarrow_result_free(quarrow_result* result);

/* A reader that keeps its buffers between frames (one thread at a time; separate
 * readers are independent). NULL only when memory runs out; options NULL: the
 * defaults. quarrow_reader_read answers as quarrow_read_with_options. */
typedef struct quarrow_reader quarrow_reader;
QUARROW_C_EXPORT quarrow_reader* quarrow_reader_new(const quarrow_options* options);
QUARROW_C_EXPORT quarrow_result* quarrow_reader_read(quarrow_reader* reader, const uint8_t* frame, size_t size,
                                                     int width, int height, int stride);
QUARROW_C_EXPORT void quarrow_reader_free(quarrow_reader* reader);

/* Every symbol of a frame that could be read, nearest to the centre first.
 * Returns NULL only when memory runs out. The results belong to the list:
 * they live until quarrow_results_free and must not be freed one by one. */
typedef struct quarrow_results quarrow_results;
QUARROW_C_EXPORT quarrow_results* quarrow_read_all(const uint8_t* frame, size_t size, int width, int height,
                                                   int stride, const quarrow_options* options);
/* QUARROW_OK, or why the frame was refused (the list is then empty). */
QUARROW_C_EXPORT quarrow_status quarrow_results_status(const quarrow_results* results);
QUARROW_C_EXPORT size_t quarrow_results_count(const quarrow_results* results);
/* NULL for an index at or past the count. */
QUARROW_C_EXPORT const quarrow_result* quarrow_results_get(const quarrow_results* results, size_t index);
QUARROW_C_EXPORT void quarrow_results_free(quarrow_results* results);

/* The accessors accept NULL and then answer as for a rejected frame. */
QUARROW_C_EXPORT quarrow_status quarrow_result_status(const quarrow_result* result);
QUARROW_C_EXPORT quarrow_outcome quarrow_result_outcome(const quarrow_result* result);
/* The decoded bytes (0 bytes included); *length gets their count. */
QUARROW_C_EXPORT const uint8_t* quarrow_result_bytes(const quarrow_result* result, size_t* length);
/* The bytes as NUL-terminated UTF-8 (ISO-8859-1 unless ECI designators say
 * otherwise); *length, when not NULL, gets the byte count without the NUL,
 * which tells text holding U+0000 apart. */
QUARROW_C_EXPORT const char* quarrow_result_text(const quarrow_result* result, size_t* length);
/* "" when the text is faithful; otherwise why it may not be. */
QUARROW_C_EXPORT const char* quarrow_result_text_note(const quarrow_result* result);
/* The reader's one-line diagnostic. */
QUARROW_C_EXPORT const char* quarrow_result_message(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_gs1(const quarrow_result* result);
/* ECI designators: count, then number and byte position of each; 0 when
 * index is out of range (outputs untouched), 1 otherwise. */
QUARROW_C_EXPORT size_t quarrow_result_eci_count(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_eci(const quarrow_result* result, size_t index, int* eci, size_t* position);

QUARROW_C_EXPORT quarrow_symbol_type quarrow_result_symbol_type(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_layers(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_data_words(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_word_bits(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_total_words(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_ecc_percent(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_corrected_words(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_rotation(const quarrow_result* result);
QUARROW_C_EXPORT int quarrow_result_mirrored(const quarrow_result* result);
/* 1 when the symbol was printed light on a dark ground. */
QUARROW_C_EXPORT int quarrow_result_light_on_dark(const quarrow_result* result);
/* 1 when the symbol is one part of a structured-append message: its 1-based
 * position, the count of parts and the message ID ("" when none; it lives
 * as long as the result); 0 otherwise (outputs untouched). */
QUARROW_C_EXPORT int quarrow_result_structured_append(const quarrow_result* result, int* index, int* count,
                                                      const char** id);
/* An Aztec Rune's value 0..255 (its digits are the bytes); -1 for other symbols. */
QUARROW_C_EXPORT int quarrow_result_rune(const quarrow_result* result);
/* 1 for a reader-initialisation (scanner programming) symbol. */
QUARROW_C_EXPORT int quarrow_result_reader_init(const quarrow_result* result);
/* "]z" and its modifier ("]z0" plain ... "]zB", "]zC" a rune); "" unless the data was read. */
QUARROW_C_EXPORT const char* quarrow_result_symbology_identifier(const quarrow_result* result);

/* The parts of a structured-append message joined in order, from results in
 * any order (others are ignored). NULL only when memory runs out. */
typedef struct quarrow_joined quarrow_joined;
QUARROW_C_EXPORT quarrow_joined* quarrow_join_structured_append(const quarrow_result* const* results, size_t count);
/* 1 when every part was there; otherwise the error says what is missing. */
QUARROW_C_EXPORT int quarrow_joined_ok(const quarrow_joined* joined);
QUARROW_C_EXPORT const uint8_t* quarrow_joined_bytes(const quarrow_joined* joined, size_t* length);
QUARROW_C_EXPORT const char* quarrow_joined_text(const quarrow_joined* joined, size_t* length);
QUARROW_C_EXPORT const char* quarrow_joined_error(const quarrow_joined* joined);
QUARROW_C_EXPORT void quarrow_joined_free(quarrow_joined* joined);
/* Image pixels. Corners 0..3 run clockwise from the frame's top left;
 * 0 for an index outside 0..3 (outputs untouched), 1 otherwise. */
QUARROW_C_EXPORT int quarrow_result_bullseye_corner(const quarrow_result* result, int index, double* x, double* y);
QUARROW_C_EXPORT int quarrow_result_symbol_corner(const quarrow_result* result, int index, double* x, double* y);
QUARROW_C_EXPORT void quarrow_result_centre(const quarrow_result* result, double* x, double* y);

#ifdef __cplusplus
}
#endif

#endif /* QUARROW_H */
