// Serving a skewed chart upright from tiles of its stored image.
//
// Output pixel (i, r) shows the stored pixel
//   (x, y) = (trunc(a c - b s), trunc(b c + a s)),  a = min_x + i, b = min_y + r,
// each product rounded to a double on its own and the truncation toward
// zero (the rotation of raster/skew.h). The products a c and a s depend on
// the column only and are made once per chart; b s and b c once per row.
// The part of a row inside the stored image is found by binary search
// (along a row the stored coordinates only grow or only shrink); there the
// pixels are read from tiles: eight rows at a time in blocks of 8 x 8
// pixels, each block from a table of the 12 x 16 stored pixels around it,
// read through byte permutes (AVX-512 VBMI) or byte shuffles (AVX2); the
// ragged ends of such strips, and everything on older processors, are
// gathered sixteen pixels at a time (AVX-512), eight (AVX2) or four (SSE2).
#pragma once

#include <cstdint>

#include "raster/stored_rows.h"
#include "raster/tile_cache.h"

// The rotation of one chart.
struct SkewGeometry {
    double sin = 0;
    double cos = 0;
    int32_t min_x = 0;          // smallest rotated corner coordinates
    int32_t min_y = 0;
    int32_t out_width = 0;      // the upright image
    int32_t out_height = 0;
};

struct TiledImage {
    SkewGeometry geometry;
    StoredRows rows;
    TileCache tiles;
    double *column_cos = nullptr;   // a c for each output column
    double *column_sin = nullptr;   // a s for each output column
    int32_t kernel = 0;             // how pixels are gathered (TiledOptions::kernel)
    uint8_t *strip = nullptr;       // upright rows made ahead, eight at a time (null: none)
    int32_t strip_first = -1;       // the first of them, -1 before any
};

// Choices a test may force; zero values take the defaults.
struct TiledOptions {
    int32_t tile_w_shift = 0;        // tiles of 1 << tile_w_shift columns
    int32_t tile_h_shift = 0;        // by 1 << tile_h_shift rows
    int32_t capacity = 0;            // tiles held at once
    int32_t checkpoint_shift = 0;    // checkpoint spacing 1 << checkpoint_shift, at least
    int32_t kernel = 0;              // 1 scalar, 2 SSE2, 3 AVX2, 4 AVX-512, 5 AVX-512 in 8 x 8 blocks,
                                     // 6 AVX2 in 8 x 8 blocks (the best there is when the processor
                                     // cannot run the one asked for)
    bool no_strip = false;           // make each row on its own
};

// Makes the tiled image of a skewed chart: the stored-row index and the
// tile cache, sized to the file (about four times its size plus a few
// megabytes at most). Null when memory cannot be had.
TiledImage *tiled_image_make(const StoredImageFile &file, const SkewGeometry &geometry,
                             const TiledOptions &options = {});
void tiled_image_free(TiledImage *image);

// Bytes the tiled image holds, the file's bytes aside.
int64_t tiled_image_bytes(const TiledImage &image);

// Output row `row` (0 .. out_height-1) into `out` (out_width bytes).
void tiled_image_row(TiledImage &image, int32_t row, uint8_t *out);

// Stored row `row` into `out` (the stored width, and 16 bytes of room
// behind it), as the format defines it on a zero background.
void tiled_image_stored_row(const TiledImage &image, int32_t row, uint8_t *out);
