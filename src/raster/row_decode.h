// Stored rows: finding a row's record through the index table and decoding
// it into a caller's buffer.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Decodes the row record at the stream position into `buffer`; pixels at
// or beyond `width` are dropped. Returns the number of pixels written.
int32_t kap_read_row(ChartReader *reader, uint8_t *buffer, int32_t width);

// Finds stored row `row` through the index table and decodes it into
// `buffer` (rows share an index entry when "OST" is above 1: the rows
// before it in its entry are decoded first, into the same buffer). Null,
// with the buffer untouched, when the index entry or the record offset
// lies outside the file.
uint8_t *kap_decode_row(int32_t row, uint8_t *buffer, ChartFile *chart);

// kap_decode_row that also reports `reach`: one past the last pixel that any
// record it decoded (passed-over rows included) wrote into the buffer.
uint8_t *kap_decode_row_reach(int32_t row, uint8_t *buffer, ChartFile *chart, int32_t *reach);
