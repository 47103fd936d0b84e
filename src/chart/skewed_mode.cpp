#include "chart/skewed_mode.h"

#include "common/budget.h"
#include "raster/tiled.h"

namespace {

// The stored rows of direct decoding, for the turn's sampling.
uint8_t *direct_stored_row(int32_t row, void *context) {
    ChartReader &r = *static_cast<ChartReader *>(context);
    return decode_into_scratch(r.image, r.walk, r.scratch, row);
}

int32_t direct_row(ChartReader &r, int32_t row, uint8_t *buffer) {
    return skew_getrow(r.skew, r.image.width, r.image.height, row, buffer, direct_stored_row, &r);
}

// The tiles, made when they are not at hand, within the budget; null when
// their memory cannot be had now.
TiledImage *tiles_of(ChartReader &r) {
    if (r.tiled == nullptr) {
        TiledOptions options;
        options.memory = budget_bytes();
        r.tiled = tiled_image_make(r.image, r.skew, options);
        if (r.tiled == nullptr) return nullptr;
        r.tiled->rows.limit = options.memory;
    }
    r.mode = RowMode::skewed_tiled;
    return r.tiled;
}

}  // namespace

int32_t skewed_getrow(ChartReader &r, int32_t row, uint8_t *buffer) {
    if (r.mode == RowMode::skewed_direct) return direct_row(r, row, buffer);
    if (TiledImage *tiles = tiles_of(r)) {
        if (tiled_image_row(*tiles, row, buffer) == 0) return 0;
        if (r.image.stream->failed) return -1;
        // A band of stored rows could not be had now: this row from whole
        // stored rows instead.
    }
    return direct_row(r, row, buffer);
}
