// Stored rows for the skewed path. At the first request the chart's
// stored image is indexed and given a tile cache (tiled mode); when that
// memory cannot be had, each stored row is decoded from the file on demand
// (direct-decoding mode).
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Moves a skewed chart out of RowMode::skewed_untried: makes the tiled
// image (skewed_tiled) or, when it cannot be had, chooses direct decoding
// (skewed_direct). Other modes are left as they are.
void row_cache_prepare(ChartFile *chart);

// The source-row provider of skew_getrow: stored row `row`, decoded into
// `scratch` (source_row, with its room behind). Prepares the chart first
// if no mode has been chosen. Null for a row outside the stored image.
uint8_t *row_cache_get(int32_t row, uint8_t *scratch, ChartFile *chart);

// Makes the tiled image: 0, or 1 when it cannot be had.
int32_t row_cache_fill(ChartFile *chart);

struct TiledImage;
struct TiledOptions;
// The tiled image of a skewed chart made with given options (tests force
// each path with them), or null.
TiledImage *row_cache_make_tiled(const ChartFile *chart, const TiledOptions &options);

// Releases the tiled image, if any.
void row_cache_free(ChartReader *reader);
