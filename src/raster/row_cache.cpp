#include "raster/row_cache.h"

#include <cstring>

#include "platform/large_pages.h"
#include "raster/matrix.h"
#include "raster/row_decode.h"

namespace {

// Direct decoding. The scratch row starts zero-filled and the part earlier
// rows wrote is cleared first, so that a damaged row shows the same pixels
// as it would in the (zero-filled) cache. Only that part: a damaged header
// may claim a width in the billions for rows of a few pixels.
uint8_t *decode_into_scratch(int32_t row, uint8_t *scratch, ChartFile *chart) {
    ChartReader *r = chart->reader;
    std::memset(scratch, 0, static_cast<std::size_t>(r->source_row_reach));
    kap_decode_row_reach(row, scratch, chart, &r->source_row_reach);
    return scratch;
}

// Rows past the end of the index table cannot be found; a damaged header
// may claim far more rows than the file holds.
int32_t rows_with_index_entries(const ChartFile *chart) {
    const ChartReader *r = chart->reader;
    const int64_t entries = (stream_size(r->stream) - static_cast<int64_t>(r->index_offset)) / 4;
    if (r->index_offset < 0 || entries <= 0) return 0;
    const int64_t rows = entries * r->rows_per_entry;
    return rows < r->source_height ? static_cast<int32_t>(rows) : r->source_height;
}

}  // namespace

void row_cache_prepare(ChartFile *chart) {
    ChartReader *r = chart->reader;
    if (r->mode != RowMode::skewed_untried) return;
    r->mode = row_cache_fill(chart) == 0 ? RowMode::skewed_cached : RowMode::skewed_direct;
}

int32_t row_cache_fill(ChartFile *chart) {
    ChartReader *r = chart->reader;
    uint8_t **m = cmatrix(0, r->source_height, 0, r->source_width);
    if (m == nullptr) return 1;
    r->row_cache = m;
    // The matrix starts zero-filled: rows that cannot be found, or end
    // early, keep zeros.
    const std::size_t stride = static_cast<std::size_t>(r->source_width) + 1;
    platform_prefer_large_pages(m[0], stride * static_cast<std::size_t>(r->source_height));
    const int32_t rows = rows_with_index_entries(chart);
    for (int32_t row = 0; row < rows; ++row) kap_decode_row(row, m[row], chart);
    return 0;
}

uint8_t *row_cache_get(int32_t row, uint8_t *scratch, ChartFile *chart) {
    ChartReader *r = chart->reader;
    row_cache_prepare(chart);
    if (row < 0 || row >= r->source_height) return nullptr;
    switch (r->mode) {
        case RowMode::skewed_cached: return r->row_cache[row];
        case RowMode::skewed_direct: return decode_into_scratch(row, scratch, chart);
        default: return nullptr;   // not a skewed chart: it has no stored rows to provide
    }
}

void row_cache_free(ChartReader *reader) {
    if (reader == nullptr || reader->row_cache == nullptr) return;
    release_cmatrix(reader->row_cache, 0, reader->source_height, 0, reader->source_width);
    reader->row_cache = nullptr;
}
