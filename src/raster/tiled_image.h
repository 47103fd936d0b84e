// The records of a skewed chart's tiled image: what it holds, and the
// choices a test or benchmark may force. Its functions are in
// raster/tiled.h; its kernels share these records.
#pragma once

#include <cstdint>
#include <optional>

#include "raster/kernels.h"
#include "raster/skew.h"
#include "raster/stored_rows.h"
#include "raster/tile_cache.h"

struct TiledImage {
    const SkewGeometry *geometry = nullptr;   // the chart's turn (the chart's own record)
    StoredRows rows;
    TileCache tiles;
    double *column_cos = nullptr;   // a c for each output column
    double *column_sin = nullptr;   // a s for each output column
    SkewKernel kernel = SkewKernel::scalar;
    uint8_t *strip = nullptr;       // upright rows made ahead, eight at a time (null: none)
    int32_t strip_first = -1;       // the first of them, -1 before any
};

// Choices a test or benchmark may force; zero values take the defaults.
struct TiledOptions {
    int32_t tile_w_shift = 0;        // tiles of 1 << tile_w_shift columns
    int32_t tile_h_shift = 0;        // by 1 << tile_h_shift rows
    int32_t capacity = 0;            // tiles held at once
    int32_t checkpoint_shift = 0;    // checkpoint spacing 1 << checkpoint_shift, at least
    std::optional<SkewKernel> kernel{};   // the best this processor runs when not given
    int64_t memory = 0;              // bytes the tiles may hold at most (0: the usual few megabytes)
    bool no_strip = false;           // make each row on its own
};
