// The body of the row gathers, compiled once for each vector width: the
// includer defines NVCH_GATHER_NAME (the function made), NVCH_GATHER_TARGET
// (its instruction set) and NVCH_GATHER_LANES (the vector type and its
// operations, compiled for the same instruction set), and includes this
// file once for each. Meant for tiled_gathers.cpp alone.
//
// Columns [from, to) of one row, NVCH_GATHER_LANES::kLanes pixels at a
// time; returns the first column not done (fewer than kLanes are left).

__attribute__((target(NVCH_GATHER_TARGET))) int32_t NVCH_GATHER_NAME(TiledImage &img, const RowFrame &f,
                                                                    int32_t from, int32_t to, uint8_t *out) {
    using V = NVCH_GATHER_LANES;
    TileCache &t = img.tiles;
    const V v(f, t);
    int32_t held_tile = -1, held_entry = 0;
    int32_t i = from;
    for (; i + V::kLanes <= to; i += V::kLanes) {
        const typename V::Group g = v.coordinates(f, i);
        const int32_t first = tile_cache_index(t, g.first_x, g.first_y);
        const int32_t last = tile_cache_index(t, g.last_x, g.last_y);
        typename V::Ints entry;
        if (first == last) {
            entry = v.broadcast(entry_of(t, img.rows, first, held_tile, held_entry));
        } else {
            entry = v.gather_entries(t.map, g);
            if (v.any_absent(entry)) {
                sample_scalar(img, f, i, i + V::kLanes, out);
                held_tile = -1;   // the loads may have given up the tile held
                continue;
            }
        }
        v.store_pixels(out + i, t.arena, entry, g);
    }
    return i;
}

#undef NVCH_GATHER_NAME
#undef NVCH_GATHER_TARGET
#undef NVCH_GATHER_LANES
