// Stored rows for the skewed path: the whole stored image decoded once into
// a matrix at the first request (cache mode), or, when the matrix cannot be
// had, each row decoded from the file on demand (direct-decoding mode).
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// The source-row provider: stored row `row`, from the cache or decoded into
// `scratch`. Null in cache mode for a row outside the stored image.
uint8_t *row_cache_get(int32_t row, uint8_t *scratch, ChartFile *chart);

// Makes and fills the matrix: 0, or 1 when it cannot be allocated.
int32_t row_cache_fill(ChartFile *chart);

// Releases the matrix, if any.
void row_cache_free(ChartFile *chart);

// The cache's row pointers once the chart is in cache mode (the fill is
// attempted first if it has not been), or null in direct-decoding mode.
uint8_t *const *row_cache_rows(ChartFile *chart);
