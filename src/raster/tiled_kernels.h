// What the tiled image's kernels share: one output row's constants, the
// way to a tile's pixels, and the two kinds of kernel. Internal to
// tiled.cpp, tiled_gathers.cpp and tiled_blocks.cpp.
#pragma once

#include <cstdint>
#include <immintrin.h>

#include "raster/tiled_image.h"

// Upright rows are made this many at a time (when the strip can be had).
constexpr int32_t kStripRows = 8;

// One output row's constants: stored x of column i is trunc(column_cos[i]
// - bs), stored y is trunc(bc + column_sin[i]).
struct RowFrame {
    const double *column_cos;
    const double *column_sin;
    double bs;
    double bc;
    int32_t x(int32_t i) const { return static_cast<int32_t>(column_cos[i] - bs); }
    int32_t y(int32_t i) const { return static_cast<int32_t>(bc + column_sin[i]); }
};

// Eight doubles truncated toward zero. GCC 12's own _mm512_cvttpd_epi32
// starts from _mm256_undefined_si256, which its uninitialised-value
// warning takes for a read of an unset value; the warning is silenced
// here alone.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((target("avx512f"), always_inline)) inline __m256i truncate_eight(__m512d v) {
    return _mm512_cvttpd_epi32(v);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The place of `tile`'s pixels (its map entry), decoding it when it is not
// at hand; `held` keeps the last one asked for.
inline int32_t entry_of(TileCache &t, StoredRows &rows, int32_t tile, int32_t &held_tile, int32_t &held_entry) {
    if (tile != held_tile) {
        held_entry = t.map[tile];
        if (held_entry == kTileAbsent) held_entry = tile_cache_load(t, rows, tile);
        held_tile = tile;
    }
    return held_entry;
}

// Columns [from, to) of one row, a pixel at a time: the fallback of every
// kernel where tiles are not at hand.
inline void sample_scalar(TiledImage &img, const RowFrame &f, int32_t from, int32_t to, uint8_t *out) {
    for (int32_t i = from; i < to; ++i) out[i] = tile_cache_pixel(img.tiles, img.rows, f.x(i), f.y(i));
}

// Columns [from, to) of one row through the image's row kernel (the
// gathers of its kernel, then narrower ones for what is left).
void sample(TiledImage &image, const RowFrame &frame, int32_t from, int32_t to, uint8_t *out);

// Whether the image's kernel makes blocks, and whether its tiles suit
// them (at least sixteen pixels a side: a block then crosses at most one
// tile-row boundary, and its table's rows stay in one tile column unless
// the block itself crosses one).
bool blocks_fit(const TiledImage &image);

// Columns [from, to) (whole blocks) of the eight rows of `frames`, into
// the strip's eight rows of `width` bytes.
void sample_blocks(TiledImage &image, const RowFrame *frames, int32_t from, int32_t to, uint8_t *strip,
                   int32_t width);
