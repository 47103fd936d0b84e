// Stored rows: finding a row's record through the index table and decoding
// it into a caller's buffer.
#pragma once

#include <cstdint>

#include "raster/stored_image.h"

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

void entry_walk_free(EntryWalk &walk);

// The stored row of direct decoding (a stored row wide, with 16 bytes of
// room behind), and how far rows decoded into it have written.
struct RowScratch {
    uint8_t *row = nullptr;
    int32_t reach = 0;
};

// Decodes the row record at the stream position into `buffer`; pixels at
// or beyond `width` are dropped. Returns the number of pixels written.
int32_t kap_read_row(StoredImage &image, uint8_t *buffer, int32_t width);

// A row passed over on the way to a later row of its entry, read from the
// record at `at`: one byte is discarded first (the first byte of its
// number), then the rest of its number; its runs are read to the
// terminator, where the next row of the entry starts, and `at` moves
// there. Its pixels go into buffer[0, width) when there is a buffer; with
// none they are only counted. Both readers of entries follow this rule.
struct PassedRow {
    int64_t runs_at;   // offset of its first run (the file size for none)
    int32_t reach;     // pixels it writes, 0 .. width
};
PassedRow pass_over_row(const StoredImage &image, int64_t &at, uint8_t *buffer, int32_t width);

// Finds stored row `row` through the index table and decodes it into
// `buffer` (a stored row wide); rows before it in its index entry are
// passed over first, their pixels under the row's own (`walk` remembers
// where it stands). Null, with the buffer untouched, when the index entry
// or the record lies outside the file. `reach`, when given, receives one
// past the last pixel any record it decoded wrote.
uint8_t *kap_decode_row(const StoredImage &image, EntryWalk &walk, int32_t row, uint8_t *buffer,
                        int32_t *reach = nullptr);

// Stored row `row` decoded into the scratch row on a zero background: the
// part earlier rows wrote is cleared first (only that part: rows of a few
// pixels may claim a width of a hundred thousand). Null for a row outside
// the stored image.
uint8_t *decode_into_scratch(const StoredImage &image, EntryWalk &walk, RowScratch &scratch, int32_t row);
