// The stored image of a skewed chart, kept as the file's own run-length
// rows plus checkpoints inside them, so that any stretch of any stored row
// can be decoded without the rows before it or the start of its own row.
// This is the compact copy of the image that tiles are decoded from: a
// checkpoint costs 8 bytes every 64 columns or more, where the decoded
// image would cost a byte a pixel.
//
// It is built a band at a time (the rows of a few index entries, their
// file bytes and their checkpoints), when a tile first needs a row of the
// band: the first rows of a chart wait for the bands they cross alone.
// Bands beyond a limit give way, least recently used first, and are built
// again when needed.
//
// The pixels are those the format defines for each stored row on a zero
// background: the row's own record, and where that stops short, what rows
// passed over before it in its index entry left ("OST" above 1).
#pragma once

#include <cstdint>

#include "raster/stored_image.h"

// One reading of a record by the run decoder: where its runs begin and how
// many pixels of the row it writes.
struct RowParse {
    uint32_t runs_at;   // offset of its first run in the band's bytes; their size for none
    int32_t reach;      // pixels it writes, 0 .. width
};

// The run covering column k * stride of a parse: the offset of its first
// byte in the band's bytes, and how many of its pixels lie before that
// column. run_at is kNoRun where the parse ends before the column.
struct Checkpoint {
    uint32_t run_at;
    uint32_t skip;
};

constexpr uint32_t kNoRun = UINT32_MAX;

// A row passed over on the way to later rows of its entry. The pixels a
// row's own record does not reach come from the first node of its list
// whose reach goes past them.
struct OverlayNode {
    int32_t parse;
    int32_t reach;
    int32_t next;   // -1 ends the list
};

// The rows of a few whole index entries.
struct StoredBand {
    int32_t first_row = 0;          // stored rows [first_row, first_row + rows)
    int32_t rows = 0;
    uint8_t *bytes = nullptr;       // the file's bytes from its first record on
    uint32_t size = 0;
    int32_t stride_shift = 0;       // a checkpoint every 1 << stride_shift columns
    int32_t checkpoints_per_parse = 0;
    RowParse *parses = nullptr;     // the band's rows, then rows passed over
    int32_t parse_count = 0;
    int32_t parse_room = 0;
    int32_t *overlay = nullptr;     // per row of the band: its first node or -1; null when none has one
    OverlayNode *nodes = nullptr;
    int32_t node_count = 0;
    int32_t node_room = 0;
    // checkpoints_per_parse for each parse: checkpoint k of parse p is
    // checkpoints[k * parse_count + p].
    Checkpoint *checkpoints = nullptr;
    int64_t held = 0;               // bytes the band holds
    uint64_t last_use = 0;
};

struct StoredRows {
    const StoredImage *image = nullptr;   // what the index is built from (the chart's)
    int32_t min_stride_shift = 0;
    int32_t rows_per_band = 1;
    int32_t band_shift = -1;              // rows_per_band as a shift, -1 when it is none
    int32_t band_count = 0;
    StoredBand **bands = nullptr;         // null where not built
    int64_t held = 0;                     // bytes of the bands built, and of the table
    int64_t limit = INT64_MAX;            // bands give way beyond it
    uint64_t clock = 0;
    bool failed = false;                  // a band could not be had (memory, or the file)
};

// The index of `image` (which must outlive it), its bands not yet built,
// with checkpoints every `min_stride_shift` columns at best. 0, or -1 when
// memory cannot be had (nothing is then kept).
int32_t stored_rows_make(StoredRows *rows, const StoredImage &image, int32_t min_stride_shift);
void stored_rows_free(StoredRows *rows);

// Gives up every band; they are built again when needed.
void stored_rows_drop_bands(StoredRows &rows);

// Gives up the least recently used bands until the index holds at most
// `bytes`.
void stored_rows_trim(StoredRows &rows, int64_t bytes);

// Bytes the index holds.
int64_t stored_rows_bytes(const StoredRows &rows);

// Start bringing into the processor's caches what decoding stored row
// `row` from column x0 reads first: its checkpoint, then (once that has
// arrived) the runs it points at. A tile's rows ask a few rows ahead; a
// band not built yet is left for its turn.
void stored_rows_prefetch_checkpoint(const StoredRows &rows, int32_t row, int32_t x0);
void stored_rows_prefetch_runs(const StoredRows &rows, int32_t row, int32_t x0);

// Stored row `row`, columns [x0, x1), into dst[0, x1 - x0), building its
// band first when it is not at hand. Writes up to 15 bytes past dst + (x1
// - x0), which the caller must own and not yet need. False, with `failed`
// set and dst holding zeros, when the band cannot be had.
bool stored_rows_decode(StoredRows &rows, int32_t row, int32_t x0, int32_t x1, uint8_t *dst);
