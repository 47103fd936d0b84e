#include "chart/skewed_mode.h"

#include "raster/tiled.h"

namespace {

// The stored rows of direct decoding, for the turn's sampling.
uint8_t *direct_stored_row(int32_t row, void *context) {
    ChartReader &r = *static_cast<ChartReader *>(context);
    return decode_into_scratch(r.image, r.walk, r.scratch, row);
}

}  // namespace

void skewed_mode_choose(ChartReader &reader) {
    if (reader.mode != RowMode::skewed_untried) return;
    reader.tiled = tiled_image_make(reader.image, reader.skew);
    reader.mode = reader.tiled != nullptr ? RowMode::skewed_tiled : RowMode::skewed_direct;
}

int32_t skewed_getrow(ChartReader &reader, int32_t row, uint8_t *buffer) {
    skewed_mode_choose(reader);
    switch (reader.mode) {
        case RowMode::skewed_tiled:
            tiled_image_row(*reader.tiled, row, buffer);
            return 0;
        case RowMode::skewed_direct:
            return skew_getrow(reader.skew, reader.image.width, reader.image.height, row, buffer, direct_stored_row,
                               &reader);
        default:
            return -1;
    }
}
