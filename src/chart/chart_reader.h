// The reader state of one open chart, and the process-wide reader settings.
#pragma once

#include <cstdint>

#include "chart/bsb.h"
#include "chart/stream.h"

// The header records in file order, each with its line end.
struct HeaderLines {
    char **lines = nullptr;
    int32_t count = 0;
    int32_t room = 0;   // slots allocated in `lines`
    // The last record's length and allocated size: continuation lines join
    // onto it, and a record continued over thousands of lines must not be
    // measured and copied again for each.
    size_t last_length = 0;
    size_t last_capacity = 0;
};

struct ChartReader {
    ChartStream *file = nullptr;
    int32_t depth = 0;            // bits per pixel value, 1 to 7
    int32_t index_offset = 0;     // file offset of the row index table
    HeaderLines header;
    int32_t rows_per_entry = 1;   // rows covered by one index entry ("OST")
    uint8_t value_mask = 0;       // value bits of a run's first byte
    double skew_sin = 0;
    double skew_cos = 0;
    double skew_angle = 0;        // radians
    int32_t skewed = 0;
    int32_t source_width = 0;     // stored size of a skewed chart
    int32_t source_height = 0;
    int32_t skew_min_x = 0;       // smallest rotated corner coordinates
    int32_t skew_min_y = 0;
    uint8_t *source_row = nullptr;
    int32_t source_row_reach = 0;  // bytes of source_row decoding has written
    uint8_t **row_cache = nullptr;
    int32_t row_cache_ready = 0;
    int32_t row_cache_failed = 0;
    // Upright rows made ahead from the row cache, a few at a time.
    uint8_t *strip_pixels = nullptr;
    int32_t strip_first_row = -1;
};

ChartReader *chart_reader_new();
// Releases the header lines, the skew row and the record; neither closes
// the stream nor releases the row cache.
void chart_reader_free(ChartReader *reader);

// Process-wide settings, written by the setter exports.
extern int32_t skew_switch;
extern double mercator_lts;
extern int32_t datum_switch;
