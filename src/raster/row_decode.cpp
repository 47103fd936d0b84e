#include "raster/row_decode.h"

#include <algorithm>

#include "raster/run_decode.h"

namespace {

RunFormat format_of(const ChartReader *reader) { return run_format(reader->depth, reader->value_mask); }

}  // namespace

int32_t kap_read_row(ChartReader *reader, uint8_t *buffer, int32_t width) {
    ChartStream *s = reader->stream;
    const uint8_t *end = stream_end(s);
    const uint8_t *p = skip_row_number(stream_cursor(s), end);
    const int32_t written = decode_runs(p, end, format_of(reader), buffer, width);
    stream_advance_to(s, p);
    return written;
}

uint8_t *kap_decode_row(int32_t row, uint8_t *buffer, ChartFile *chart) {
    int32_t reach = 0;
    return kap_decode_row_reach(row, buffer, chart, &reach);
}

uint8_t *kap_decode_row_reach(int32_t row, uint8_t *buffer, ChartFile *chart, int32_t *reach) {
    *reach = 0;
    ChartReader *reader = chart->reader;
    ChartStream *s = reader->stream;
    if (row < 0 || reader->index_offset < 0) return nullptr;
    const int32_t per_entry = reader->rows_per_entry;
    const int32_t entry = row / per_entry;
    const int64_t entry_at = static_cast<int64_t>(reader->index_offset) + 4 * static_cast<int64_t>(entry);
    if (entry_at + 4 > stream_size(s)) return nullptr;
    stream_seek(s, entry_at);
    const int32_t record_at = kap_read_be32(s);
    if (record_at < 0 || record_at >= stream_size(s)) return nullptr;
    stream_seek(s, record_at);

    // A skewed chart's ChartFile holds the rotated width; stored rows are
    // source_width wide.
    const int32_t width = chart_is_skewed(reader) ? reader->source_width : chart->width;
    for (int32_t pass = row - entry * per_entry; pass > 0; --pass) {
        stream_getc(s);
        *reach = std::max(*reach, kap_read_row(reader, buffer, width));
    }
    *reach = std::max(*reach, kap_read_row(reader, buffer, width));
    return buffer;
}
