// The loop over a strip's 8 x 8 blocks, compiled once for each instruction
// set: the includer defines NVCH_BLOCKS_NAME (the function template made),
// NVCH_BLOCKS_TARGET (its instruction set) and NVCH_BLOCKS_TABLE (how a
// block's table is held and read, compiled for the same instruction set),
// and includes this file once for each. Meant for tiled_blocks.cpp alone.
//
// Columns [from, to) (whole blocks) of eight rows into the strip. Made for
// the usual tile widths with the width a constant (the table's twelve row
// addresses then fold into the loads), for others with it read from the
// cache (kWShift 0).

template <int32_t kWShift>
__attribute__((target(NVCH_BLOCKS_TARGET))) void NVCH_BLOCKS_NAME(TiledImage &img, const RowFrame *frames,
                                                                 int32_t from, int32_t to, uint8_t *strip,
                                                                 int32_t width) {
    TileCache &t = img.tiles;
    const int32_t ws = kWShift != 0 ? kWShift : t.tile_w_shift, hs = t.tile_h_shift;
    const std::size_t tw = std::size_t{1} << ws;
    const BlockCorners c = block_corners(*img.geometry);
    NVCH_BLOCKS_TABLE table;
    double bs[8], bc[8];
    for (int32_t r = 0; r < 8; ++r) {
        bs[r] = frames[r].bs;
        bc[r] = frames[r].bc;
    }
    // The corners' products, as in RowFrame::x and RowFrame::y.
    const double *cos_at_x_min = frames[0].column_cos + c.x_min_col, *cos_at_x_max = frames[0].column_cos + c.x_max_col;
    const double *sin_at_y_min = frames[0].column_sin + c.y_min_col, *sin_at_y_max = frames[0].column_sin + c.y_max_col;
    const double bs_x_min = bs[c.x_min_row], bs_x_max = bs[c.x_max_row];
    const double bc_y_min = bc[c.y_min_row], bc_y_max = bc[c.y_max_row];
    for (int32_t i = from; i < to; i += 8) {
        const auto x_min = static_cast<int32_t>(cos_at_x_min[i] - bs_x_min);
        const auto x_max = static_cast<int32_t>(cos_at_x_max[i] - bs_x_max);
        const auto y_min = static_cast<int32_t>(bc_y_min + sin_at_y_min[i]);
        const auto y_max = static_cast<int32_t>(bc_y_max + sin_at_y_max[i]);
        const int32_t tx = x_min >> ws, ty = y_min >> hs;
        // The block's top-left pixel in a tile is arena[entry + at]. The two
        // are summed before they touch the arena pointer: an entry alone
        // (a tile's offset less its first pixel's) may point outside it.
        const std::ptrdiff_t at = (static_cast<std::ptrdiff_t>(y_min) << ws) + x_min;
        if ((x_max >> ws) == tx && (y_max >> hs) == ty) {
            const int32_t tile = (ty << t.map_shift) + tx;
            int32_t entry = t.map[tile];
            if (entry == kTileAbsent) entry = tile_cache_load(t, img.rows, tile);
            table.load(t.arena + (entry + at), tw);
        } else {
            BlockEdges e;
            if (!block_edges(t, img.rows, x_min, x_max, y_min, y_max, e)) {
                sample_block_by_rows(img, frames, i, strip, width);
                continue;
            }
            const uint8_t *const from_tile[4] = {t.arena + (e.entries[0] + at), t.arena + (e.entries[1] + at),
                                                 t.arena + (e.entries[2] + at), t.arena + (e.entries[3] + at)};
            table.load_crossing(from_tile, tw, e.cols, e.rows);
        }
        // Each pixel's byte in the table: 16 (y - y_min) + (x - x_min).
        const __m256i base = _mm256_set1_epi32((y_min << 4) + x_min);
        table.read(frames[0].column_cos + i, frames[0].column_sin + i, bs, bc, base, strip + i, width);
    }
}

#undef NVCH_BLOCKS_NAME
#undef NVCH_BLOCKS_TARGET
#undef NVCH_BLOCKS_TABLE
