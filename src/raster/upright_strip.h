// The fast way to serve a skewed chart from its whole-image cache.
//
// Output rows are made eight at a time, in tiles of 256 columns: a tile
// needs only a few hundred stored rows' worth of nearby pixels, which stay
// in the processor's caches, where a whole output row would walk through
// thousands of stored rows. The rows wait in a strip until they are asked
// for. Along an output row the stored coordinates only grow or only shrink,
// so the part of the row inside the stored image is found by binary search
// and only those pixels are computed; the rest are 0.
//
// Every pixel gets exactly the value of the general path: the same
// separately rounded products, the same truncation.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Writes output row `row` (0 .. height-1) of a skewed chart whose cache is
// `cache`.
void upright_row_from_cache(uint8_t *buffer, int32_t row, ChartFile *chart, uint8_t *const *cache);
