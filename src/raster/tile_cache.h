// Stored pixels decoded on demand, in tiles: a few hundred small pieces of
// the stored image, where an upright row at any angle touches a narrow
// diagonal band and the next rows mostly reuse it. The working set stays
// in the processor's caches, whatever the size of the chart.
#pragma once

#include <cstdint>

#include "raster/stored_rows.h"

// A map entry of a tile that is not decoded.
constexpr int32_t kTileAbsent = INT32_MIN;

struct TileCache {
    int32_t tile_w_shift = 8;    // a tile is 1 << tile_w_shift columns
    int32_t tile_h_shift = 5;    // by 1 << tile_h_shift rows
    int32_t tiles_x = 0;         // tiles across and down the stored image
    int32_t tiles_y = 0;
    int32_t map_shift = 0;       // a map row holds 1 << map_shift tiles
    // Tile (tx, ty) is map[(ty << map_shift) + tx]: the place of stored
    // pixel (x, y) of a decoded tile is arena[entry + (y << tile_w_shift) +
    // x], the entry being the tile's offset in the arena less the offset of
    // its first pixel in that sum. kTileAbsent for a tile not decoded.
    int32_t *map = nullptr;
    uint8_t *arena = nullptr;
    int32_t slot_bytes = 0;      // a tile and the spill room behind it
    int32_t capacity = 0;        // tiles the arena holds
    int32_t *slot_tile = nullptr;   // the map index each slot holds, -1 for none
    int32_t hand = 0;            // the next slot to take: oldest first
    int64_t decoded = 0;         // tiles decoded so far (for tests and benchmarks)
};

// The tile size for a stored image, as shifts: `w_shift` and `h_shift`
// come in as the preferred size and grow together where the map would pass
// `largest_map` entries.
void tile_shape_for(int32_t width, int32_t height, int64_t largest_map, int32_t *w_shift, int32_t *h_shift);

// Makes a cache of `capacity` tiles (no more than the image has) of
// 1 << w_shift by 1 << h_shift pixels. 0, or -1 when the memory cannot be
// had (nothing is then kept).
int32_t tile_cache_make(TileCache *cache, int32_t width, int32_t height, int32_t w_shift, int32_t h_shift,
                        int32_t capacity);
void tile_cache_free(TileCache *cache);

// Bytes the cache holds.
int64_t tile_cache_bytes(const TileCache &cache);

// Gives up every tile held (they are decoded again when needed).
void tile_cache_clear(TileCache &cache);

// Decodes tile `map_index` into a slot, giving up the oldest tile when the
// cache is full; returns its map entry. Where a row of it cannot be had
// (its band: memory, or the file), the row is zeros and `rows.failed` says
// so.
int32_t tile_cache_load(TileCache &cache, StoredRows &rows, int32_t map_index);

// The map index of the tile holding stored pixel (x, y).
inline int32_t tile_cache_index(const TileCache &cache, int32_t x, int32_t y) {
    return ((y >> cache.tile_h_shift) << cache.map_shift) + (x >> cache.tile_w_shift);
}

// The stored pixel (x, y), decoding its tile when it is not at hand.
inline uint8_t tile_cache_pixel(TileCache &cache, StoredRows &rows, int32_t x, int32_t y) {
    const int32_t index = tile_cache_index(cache, x, y);
    int32_t entry = cache.map[index];
    if (entry == kTileAbsent) entry = tile_cache_load(cache, rows, index);
    return cache.arena[entry + (y << cache.tile_w_shift) + x];
}
