// Serving a skewed chart's rows upright. Its first row request chooses
// how, for good: from tiles of the stored image when their memory can be
// had, else by decoding each stored row from the file on demand.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Moves a skewed chart out of RowMode::skewed_untried: makes the tiled
// image (skewed_tiled) or, when it cannot be had, chooses direct decoding
// (skewed_direct). Other modes are left as they are.
void skewed_mode_choose(ChartReader &reader);

// Upright row `row` of a skewed chart into `buffer` (the upright width):
// 0, or -1 when the row cannot be produced.
int32_t skewed_getrow(ChartReader &reader, int32_t row, uint8_t *buffer);
