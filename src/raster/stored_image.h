// A chart's stored image as the raster code reads it: the file (read
// through its stream's window), how its rows are laid out, and its row
// index table, held in memory. The chart fills it at open and owns it;
// everything in raster/ reads rows through it.
#pragma once

#include <cstdint>

#include "common/stream.h"
#include "raster/run_decode.h"

struct StoredImage {
    ChartStream *stream = nullptr;   // the chart file
    int32_t depth = 0;               // bits per pixel value, 1 to 7
    uint8_t value_mask = 0;          // value bits of a run's first byte
    int32_t width = 0;               // the stored size, before any turn
    int32_t height = 0;
    int32_t index_offset = 0;        // file offset of the row index table
    int32_t rows_per_entry = 1;      // rows covered by one index entry ("OST")
    int32_t *index = nullptr;        // the table's entries that rows can ask for (library heap)
    int32_t index_entries = 0;
};

inline RunFormat stored_format(const StoredImage &image) { return run_format(image.depth, image.value_mask); }

inline int64_t stored_size(const StoredImage &image) { return stream_size(image.stream); }

// The offset of the record that index entry `entry` names, or -1 when the
// entry or the record lies outside the file.
inline int64_t stored_record_of_entry(const StoredImage &image, int32_t entry) {
    if (entry < 0 || entry >= image.index_entries) return -1;
    const int64_t record = image.index[entry];
    return record >= 0 && record < stored_size(image) ? record : -1;
}
