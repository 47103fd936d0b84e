// Serving a skewed chart upright from tiles of its stored image.
//
// Output pixel (i, r) shows the stored pixel
//   (x, y) = (trunc(a c - b s), trunc(b c + a s)),  a = min_x + i, b = min_y + r,
// each product rounded to a double on its own and the truncation toward
// zero (the rotation of raster/skew.h). The products a c and a s depend on
// the column only and are made once per chart; b s and b c once per row.
// The part of a row inside the stored image is found by binary search
// (along a row the stored coordinates only grow or only shrink); there the
// pixels are read from tiles by one of the kernels of raster/kernels.h:
// eight rows at a time in blocks of 8 x 8 pixels (tiled_blocks.cpp), or
// row by row through gathers (tiled_gathers.cpp).
#pragma once

#include <cstdint>

#include "raster/tiled_image.h"

// Makes the tiled image of a skewed chart: the tile cache and the
// stored-row index, whose bands are built as tiles need them (the cache
// holds a few megabytes at most, the bands about four times the file
// when all are built). `image` and `geometry` must outlive it. Null when
// memory cannot be had, or when the kernel asked for does not run on this
// processor.
TiledImage *tiled_image_make(const StoredImage &image, const SkewGeometry &geometry,
                             const TiledOptions &options = {});
void tiled_image_free(TiledImage *image);

// Bytes the tiled image holds.
int64_t tiled_image_bytes(const TiledImage &image);

// Output row `row` (0 .. height-1 of the upright image) into `out` (its
// width in bytes): 0, or -1 when a band of stored rows it needs cannot be
// had (memory, or the file); the tiles it touched are then given up.
int32_t tiled_image_row(TiledImage &image, int32_t row, uint8_t *out);

// Stored row `row` into `out` (the stored width, and 16 bytes of room
// behind it), as the format defines it on a zero background: 0, or -1
// when its band cannot be had.
int32_t tiled_image_stored_row(TiledImage &image, int32_t row, uint8_t *out);
