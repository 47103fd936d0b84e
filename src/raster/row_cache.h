// Stored rows for the skewed path: the whole stored image decoded once into
// a matrix at the first request (cache mode), or, when the matrix cannot be
// had, each row decoded from the file on demand (direct-decoding mode).
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Moves a skewed chart out of RowMode::skewed_untried: makes and fills the
// cache (skewed_cached) or, when it cannot be had, chooses direct decoding
// (skewed_direct). Other modes are left as they are.
void row_cache_prepare(ChartFile *chart);

// The source-row provider of skew_getrow: stored row `row` from the cache,
// or decoded into `scratch` in direct mode. Prepares the cache first if no
// mode has been chosen. Null for a row outside the stored image.
uint8_t *row_cache_get(int32_t row, uint8_t *scratch, ChartFile *chart);

// Makes and fills the matrix: 0, or 1 when it cannot be allocated.
int32_t row_cache_fill(ChartFile *chart);

// Releases the matrix, if any.
void row_cache_free(ChartReader *reader);
