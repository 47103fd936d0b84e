// The records of one open chart's reader state. Plain records only: the
// functions that make and release them are in chart/reader_lifecycle.h.
#pragma once

#include <cstdint>

#include "bsb.h"
#include "common/stream.h"

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

// How BSB_getrow serves the chart's rows. A skewed chart starts untried;
// its first row request decides, for good, between tiles of its stored
// image and decoding whole stored rows on demand.
enum class RowMode : int32_t {
    stored,           // rows come straight from the file
    skewed_untried,   // served upright; the tiles have not been attempted
    skewed_tiled,     // served upright from tiles of the stored image
    skewed_direct,    // served upright, each stored row decoded on demand
};

struct TiledImage;

// Where passing over the rows of one index entry stands ("OST" above 1):
// the next row of the same entry continues from here instead of passing
// over the rows before it again.
struct EntryWalk {
    int32_t entry = -1;          // the entry walked, -1 for none
    int32_t next = 0;            // the row of the entry whose record starts at `at`
    int64_t at = 0;              // stream position of that record
    uint8_t *overlay = nullptr;  // what the rows passed over left, a stored row wide
    int32_t overlay_reach = 0;   // pixels of `overlay` they wrote
};

struct ChartReader {
    ChartStream *stream = nullptr;   // the chart file's bytes
    int32_t depth = 0;               // bits per pixel value, 1 to 7
    int32_t index_offset = 0;        // file offset of the row index table
    HeaderLines header;
    int32_t rows_per_entry = 1;      // rows covered by one index entry ("OST")
    uint8_t value_mask = 0;          // value bits of a run's first byte
    RowMode mode = RowMode::stored;
    double skew_sin = 0;
    double skew_cos = 0;
    double skew_angle = 0;           // radians
    int32_t source_width = 0;        // stored size of a skewed chart
    int32_t source_height = 0;
    int32_t skew_min_x = 0;          // smallest rotated corner coordinates
    int32_t skew_min_y = 0;
    uint8_t *source_row = nullptr;   // scratch stored row, with 16 bytes of room behind
    int32_t source_row_reach = 0;    // bytes of source_row direct decoding has written
    EntryWalk walk;
    TiledImage *tiled = nullptr;     // in tiled mode: the stored image's index and tiles
};

inline bool chart_is_skewed(const ChartReader *reader) { return reader->mode != RowMode::stored; }
