// Stored rows: the row index table, and finding a row's record through it
// and decoding it into a caller's buffer.
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

// Reads into memory the entries of the index table that the image's rows
// can ask for (those the file holds, up to one for every rows_per_entry
// rows). 0, or -1 when memory or the file fails.
int32_t kap_read_index(StoredImage &image);
void kap_free_index(StoredImage &image);

// Decodes the row record at the stream position into `buffer`; pixels at
// or beyond `width` are dropped. Returns the number of pixels written (-1
// when the file cannot be read); the position moves past the record.
int32_t kap_read_row(StoredImage &image, uint8_t *buffer, int32_t width);

// Finds stored row `row` through the index table and decodes it into
// `buffer` (a stored row wide); rows before it in its index entry are
// passed over first, their pixels under the row's own (`walk` remembers
// where it stands). Null, with the buffer untouched, when the index entry
// or the record lies outside the file; null too when the file can no
// longer be read. `reach`, when given, receives one
// past the last pixel any record it decoded wrote.
uint8_t *kap_decode_row(const StoredImage &image, EntryWalk &walk, int32_t row, uint8_t *buffer,
                        int32_t *reach = nullptr);

// Stored row `row` decoded into the scratch row on a zero background: the
// part earlier rows wrote is cleared first (only that part: rows of a few
// pixels may claim a width of a hundred thousand). Null for a row outside
// the stored image.
uint8_t *decode_into_scratch(const StoredImage &image, EntryWalk &walk, RowScratch &scratch, int32_t row);
