#include "raster/row_decode.h"

#include <algorithm>
#include <cstring>

#include "raster/skew.h"
#include "raster/row_cache.h"

namespace {

// Counts beyond any row width stop growing, so endless continuation bytes
// cannot overflow.
constexpr int64_t kCountCeiling = INT64_C(1) << 40;

struct RunFormat {
    int shift;           // value = (first & 0x7F) >> shift
    uint8_t count_bits;  // count bits of the first byte
};

RunFormat run_format(const ChartReader *reader) {
    return {7 - reader->depth, static_cast<uint8_t>(~(reader->value_mask | 0x80) & 0xFF)};
}

// Parses one run from [p, end): kRunRead, kRunEndOfRow (p past the
// terminator) or kRunEndOfFile (p at end; a partly read run is dropped).
inline int32_t parse_run(const uint8_t *&p, const uint8_t *end, RunFormat f, uint8_t &value,
                         int64_t &count) {
    if (p == end) return kRunEndOfFile;
    uint8_t byte = *p++;
    if (byte == 0) return kRunEndOfRow;
    value = static_cast<uint8_t>((byte & 0x7F) >> f.shift);
    count = byte & f.count_bits;
    while (byte & 0x80) {
        if (p == end) return kRunEndOfFile;
        byte = *p++;
        count = count * 128 + (byte & 0x7F);
        if (count > kCountCeiling) count = kCountCeiling;
    }
    return kRunRead;
}

// Skips a row number: bytes up to and including the first with bit 7 clear.
inline const uint8_t *skip_row_number(const uint8_t *p, const uint8_t *end) {
    while (p < end)
        if ((*p++ & 0x80) == 0) break;
    return p;
}

}  // namespace

int32_t kap_read_be32(ChartStream *file) {
    int64_t value = 0;
    for (int i = 0; i < 4; ++i) value = value * 256 + stream_getc(file);
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int32_t kap_index_offset(ChartStream *file) {
    const int64_t remembered = stream_tell(file);
    const int64_t size = stream_size(file);
    if (size < 4) return -1;
    stream_seek(file, size - 4);
    const int32_t offset = kap_read_be32(file);
    stream_seek(file, remembered);
    return offset;
}

int32_t kap_read_run(ChartReader *reader, int32_t *value, int64_t *length) {
    ChartStream *s = reader->file;
    const uint8_t *p = stream_cursor(s);
    uint8_t v = 0;
    int64_t count = 0;
    const int32_t status = parse_run(p, stream_end(s), run_format(reader), v, count);
    stream_advance_to(s, p);
    if (status != kRunRead) return status;
    *value = v;
    *length = count + 1;
    return kRunRead;
}

int32_t kap_read_row(ChartReader *reader, uint8_t *buffer, int32_t width) {
    ChartStream *s = reader->file;
    const uint8_t *end = stream_end(s);
    const uint8_t *p = skip_row_number(stream_cursor(s), end);
    const RunFormat format = run_format(reader);
    int64_t i = 0;
    uint8_t value = 0;
    int64_t count = 0;
    while (parse_run(p, end, format, value, count) == kRunRead) {
        const int64_t room = width - i;
        if (room <= 0) continue;   // the row is full: runs are read and dropped
        // A plain memset per run: anything cleverer measured slower here.
        const int64_t n = count + 1 < room ? count + 1 : room;
        std::memset(buffer + i, value, static_cast<std::size_t>(n));
        i += n;
    }
    stream_advance_to(s, p);
    return static_cast<int32_t>(i);
}

uint8_t *kap_decode_row(int32_t row, uint8_t *buffer, ChartFile *chart) {
    int32_t reach = 0;
    return kap_decode_row_reach(row, buffer, chart, &reach);
}

uint8_t *kap_decode_row_reach(int32_t row, uint8_t *buffer, ChartFile *chart, int32_t *reach) {
    *reach = 0;
    ChartReader *reader = chart->reader;
    ChartStream *s = reader->file;
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
    const int32_t width = reader->skewed ? reader->source_width : chart->width;
    for (int32_t pass = row - entry * per_entry; pass > 0; --pass) {
        stream_getc(s);
        *reach = std::max(*reach, kap_read_row(reader, buffer, width));
    }
    *reach = std::max(*reach, kap_read_row(reader, buffer, width));
    return buffer;
}

extern "C" int32_t BSB_getrow(int32_t row, uint8_t *buffer, ChartFile *chart) {
    if (chart == nullptr || chart->reader == nullptr || buffer == nullptr) return -1;
    if (row < 0 || row >= chart->height) return -1;
    if (chart->reader->skewed) return skew_getrow(buffer, row, chart, row_cache_get);
    return kap_decode_row(row, buffer, chart) != nullptr ? 0 : -1;
}
