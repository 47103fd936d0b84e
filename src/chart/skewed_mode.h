// Serving a skewed chart's rows upright: from tiles of the stored image
// when their memory can be had, else by decoding each stored row the row
// crosses from the file (and the tiles are tried again at the next row).
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Upright row `row` of a skewed chart into `buffer` (the upright width):
// 0, or -1 when the row cannot be produced.
int32_t skewed_getrow(ChartReader &reader, int32_t row, uint8_t *buffer);
