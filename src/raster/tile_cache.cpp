#include "raster/tile_cache.h"

#include <algorithm>
#include <cstring>

#include "platform/heap.h"
#include "platform/large_pages.h"

namespace {

// Room behind each tile for the decoder's whole 16-byte stores, and for
// the 4-byte reads of a gather at its last pixel.
constexpr int32_t kSpill = 32;

// Room before the first tile and behind the last for whole rows read past
// a tile's edges: a block of pixels reads twelve stored rows of sixteen
// bytes from each tile it crosses, of which it may use a part.
int64_t margin_bytes(int32_t w_shift) { return (INT64_C(16) << w_shift) + kSpill; }

int32_t ceil_shift(int64_t n, int32_t shift) { return static_cast<int32_t>(((n - 1) >> shift) + 1); }

int32_t shift_to_hold(int64_t n) {
    int32_t shift = 0;
    while ((INT64_C(1) << shift) < n) ++shift;
    return shift;
}

}  // namespace

void tile_shape_for(int32_t width, int32_t height, int64_t largest_map, int32_t *w_shift, int32_t *h_shift) {
    while (static_cast<int64_t>(ceil_shift(height, *h_shift)) << shift_to_hold(ceil_shift(width, *w_shift)) >
           largest_map) {
        ++*w_shift;
        ++*h_shift;
    }
}

int32_t tile_cache_make(TileCache *cache, int32_t width, int32_t height, int32_t w_shift, int32_t h_shift,
                        int32_t capacity) {
    *cache = TileCache{};
    cache->tile_w_shift = w_shift;
    cache->tile_h_shift = h_shift;
    cache->tiles_x = ceil_shift(width, w_shift);
    cache->tiles_y = ceil_shift(height, h_shift);
    cache->map_shift = shift_to_hold(cache->tiles_x);
    const int64_t map_entries = static_cast<int64_t>(cache->tiles_y) << cache->map_shift;
    cache->map = static_cast<int32_t *>(lib_malloc(sizeof(int32_t) * static_cast<std::size_t>(map_entries)));
    if (cache->map == nullptr) return -1;
    std::fill_n(cache->map, map_entries, kTileAbsent);
    cache->slot_bytes = (1 << (w_shift + h_shift)) + kSpill;
    capacity = static_cast<int32_t>(std::min<int64_t>(capacity, static_cast<int64_t>(cache->tiles_x) * cache->tiles_y));
    const int64_t margin = margin_bytes(w_shift);
    const int64_t arena_bytes = static_cast<int64_t>(capacity) * cache->slot_bytes + 2 * margin;
    if (capacity < 1 || arena_bytes > INT32_MAX) {
        tile_cache_free(cache);
        return -1;
    }
    auto *memory = static_cast<uint8_t *>(lib_calloc(static_cast<std::size_t>(arena_bytes), 1));
    cache->arena = memory != nullptr ? memory + margin : nullptr;
    cache->slot_tile = static_cast<int32_t *>(lib_malloc(sizeof(int32_t) * static_cast<std::size_t>(capacity)));
    if (cache->arena == nullptr || cache->slot_tile == nullptr) {
        tile_cache_free(cache);
        return -1;
    }
    platform_prefer_large_pages(memory, static_cast<std::size_t>(arena_bytes));
    cache->capacity = capacity;
    std::fill_n(cache->slot_tile, capacity, -1);
    return 0;
}

void tile_cache_free(TileCache *cache) {
    lib_free(cache->map);
    if (cache->arena != nullptr) lib_free(cache->arena - margin_bytes(cache->tile_w_shift));
    lib_free(cache->slot_tile);
    *cache = TileCache{};
}

int64_t tile_cache_bytes(const TileCache &cache) {
    return (static_cast<int64_t>(cache.tiles_y) << cache.map_shift) * sizeof(int32_t) +
           static_cast<int64_t>(cache.capacity) * (cache.slot_bytes + sizeof(int32_t)) +
           (cache.arena != nullptr ? 2 * margin_bytes(cache.tile_w_shift) : 0);
}

void tile_cache_clear(TileCache &cache) {
    for (int32_t slot = 0; slot < cache.capacity; ++slot) {
        if (cache.slot_tile[slot] >= 0) cache.map[cache.slot_tile[slot]] = kTileAbsent;
        cache.slot_tile[slot] = -1;
    }
    cache.hand = 0;
}

int32_t tile_cache_load(TileCache &cache, StoredRows &rows, int32_t map_index) {
    const int32_t slot = cache.hand;
    cache.hand = cache.hand + 1 == cache.capacity ? 0 : cache.hand + 1;
    if (cache.slot_tile[slot] >= 0) cache.map[cache.slot_tile[slot]] = kTileAbsent;
    cache.slot_tile[slot] = map_index;
    const int32_t at = slot * cache.slot_bytes;
    uint8_t *tile = cache.arena + at;
    const int32_t tx = map_index & ((1 << cache.map_shift) - 1);
    const int32_t ty = map_index >> cache.map_shift;
    const int32_t x0 = tx << cache.tile_w_shift;
    const int32_t x1 = std::min(rows.image->width, x0 + (1 << cache.tile_w_shift));
    const int32_t y0 = ty << cache.tile_h_shift;
    const int32_t y1 = std::min(rows.image->height, y0 + (1 << cache.tile_h_shift));
    // Row by row, top to bottom: each row's whole stores spill only into
    // the next row, which is decoded after it, or into the spill room. What
    // the rows a little further down read first is asked for ahead: the
    // file's runs lie wherever each row's record is.
    for (int32_t y = y0; y < y1; ++y) {
        if (y + 8 < y1) stored_rows_prefetch_checkpoint(rows, y + 8, x0);
        if (y + 4 < y1) stored_rows_prefetch_runs(rows, y + 4, x0);
        stored_rows_decode(rows, y, x0, x1, tile + ((y - y0) << cache.tile_w_shift));
    }
    const int32_t entry = at - (y0 << cache.tile_w_shift) - x0;
    cache.map[map_index] = entry;
    ++cache.decoded;
    return entry;
}
