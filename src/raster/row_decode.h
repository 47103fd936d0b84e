// The raster half of a KAP file: the index pointer, the index table and the
// run-length row records.
//
// Layout (numbers big-endian): the last 4 bytes of the file give the offset
// of the index table; entry k of the table gives the offset of the record
// of row k * rows_per_entry. A record is the row number (7 bits a byte,
// bit 7 set on all but the last byte), runs, and a 0x00 terminator. A run's
// first byte holds the pixel value in the `depth` bits below bit 7 and the
// high bits of its count below them; each following byte (while bit 7 is
// set) adds 7 low bits to the count. A run covers count + 1 pixels.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

constexpr int32_t kRunRead = 0;
constexpr int32_t kRunEndOfFile = -1;
constexpr int32_t kRunEndOfRow = -2;

// Four bytes, most significant first; a missing byte counts as -1.
int32_t kap_read_be32(ChartStream *file);

// The offset stored in the file's last four bytes (-1 for a file shorter
// than that); the stream position is kept.
int32_t kap_index_offset(ChartStream *file);

// One run at the stream position: kRunRead with its value and pixel count,
// kRunEndOfFile, or kRunEndOfRow at the terminator.
int32_t kap_read_run(ChartReader *reader, int32_t *value, int64_t *length);

// Decodes the row record at the stream position into `buffer`; pixels at
// or beyond `width` are dropped. Returns the number of pixels written.
int32_t kap_read_row(ChartReader *reader, uint8_t *buffer, int32_t width);

// Finds `row` through the index table and decodes it into `buffer`. Null,
// with the buffer untouched, when the index entry or the record offset lies
// outside the file.
uint8_t *kap_decode_row(int32_t row, uint8_t *buffer, ChartFile *chart);

// kap_decode_row that also reports `reach`: one past the last pixel that any
// record it decoded (passed-over rows included) wrote into the buffer.
uint8_t *kap_decode_row_reach(int32_t row, uint8_t *buffer, ChartFile *chart, int32_t *reach);
