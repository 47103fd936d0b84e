#include "raster/row_cache.h"

#include <cstring>

#include "raster/row_decode.h"
#include "raster/tiled.h"

namespace {

// Direct decoding. The scratch row starts zero-filled and the part earlier
// rows wrote is cleared first, so that a damaged row shows the same pixels
// as it does in tiled mode (on a zero background). Only that part: rows of
// a few pixels may claim a width of a hundred thousand.
uint8_t *decode_into_scratch(int32_t row, uint8_t *scratch, ChartFile *chart) {
    ChartReader *r = chart->reader;
    std::memset(scratch, 0, static_cast<std::size_t>(r->source_row_reach));
    kap_decode_row_reach(row, scratch, chart, &r->source_row_reach);
    return scratch;
}

StoredImageFile stored_image_of(const ChartReader *r) {
    StoredImageFile f;
    f.data = r->stream->data;
    f.size = r->stream->size;
    f.format = run_format(r->depth, r->value_mask);
    f.width = r->source_width;
    f.height = r->source_height;
    f.index_offset = r->index_offset;
    f.rows_per_entry = r->rows_per_entry;
    return f;
}

SkewGeometry geometry_of(const ChartFile *chart) {
    const ChartReader *r = chart->reader;
    SkewGeometry g;
    g.sin = r->skew_sin;
    g.cos = r->skew_cos;
    g.min_x = r->skew_min_x;
    g.min_y = r->skew_min_y;
    g.out_width = chart->width;
    g.out_height = chart->height;
    return g;
}

}  // namespace

void row_cache_prepare(ChartFile *chart) {
    ChartReader *r = chart->reader;
    if (r->mode != RowMode::skewed_untried) return;
    r->mode = row_cache_fill(chart) == 0 ? RowMode::skewed_tiled : RowMode::skewed_direct;
}

int32_t row_cache_fill(ChartFile *chart) {
    chart->reader->tiled = row_cache_make_tiled(chart, TiledOptions{});
    return chart->reader->tiled != nullptr ? 0 : 1;
}

TiledImage *row_cache_make_tiled(const ChartFile *chart, const TiledOptions &options) {
    return tiled_image_make(stored_image_of(chart->reader), geometry_of(chart), options);
}

uint8_t *row_cache_get(int32_t row, uint8_t *scratch, ChartFile *chart) {
    ChartReader *r = chart->reader;
    row_cache_prepare(chart);
    if (row < 0 || row >= r->source_height) return nullptr;
    switch (r->mode) {
        case RowMode::skewed_tiled:
            tiled_image_stored_row(*r->tiled, row, scratch);
            return scratch;
        case RowMode::skewed_direct: return decode_into_scratch(row, scratch, chart);
        default: return nullptr;   // not a skewed chart: it has no stored rows to provide
    }
}

void row_cache_free(ChartReader *reader) {
    if (reader == nullptr) return;
    tiled_image_free(reader->tiled);
    reader->tiled = nullptr;
}
