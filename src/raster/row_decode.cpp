#include "raster/row_decode.h"

#include <algorithm>
#include <cstring>

#include "platform/heap.h"
#include "raster/run_decode.h"

namespace {

RunFormat format_of(const ChartReader *reader) { return run_format(reader->depth, reader->value_mask); }

int64_t record_of_entry(const ChartReader *reader, int32_t entry) {
    const ChartStream *s = reader->stream;
    return index_record_of_entry(s->data, s->size, reader->index_offset, entry);
}

// The requested row itself: its record from `at`, into buffer[0, width).
// What follows once the row is full is never looked at, so reading stops
// there. Returns the pixels written.
int32_t decode_requested_row(const ChartReader *reader, int64_t at, uint8_t *buffer, int32_t width) {
    const ChartStream *s = reader->stream;
    const uint8_t *end = stream_end(s);
    const uint8_t *p = skip_row_number(s->data + std::min(at, s->size), end);
    return decode_runs_until_full(p, end, format_of(reader), buffer, width);
}

// A row passed over on the way to a later row of its entry: one byte is
// discarded first (the first byte of its number), then the record is read
// to its terminator, which is where the next row starts. Returns the
// pixels written into buffer[0, width) and moves `at` past the record.
int32_t pass_over_row(const ChartReader *reader, int64_t &at, uint8_t *buffer, int32_t width) {
    const ChartStream *s = reader->stream;
    const uint8_t *end = stream_end(s);
    const uint8_t *p = s->data + std::min(at + 1, s->size);
    p = skip_row_number(p, end);
    const int32_t written = decode_runs(p, end, format_of(reader), buffer, width);
    at = p - s->data;
    return written;
}

// Positions the walk of `entry` at row `pass` of the entry, passing over
// the rows before it once: a later row of the same entry continues from
// where the walk stands. At the end of the file every further pass reads
// nothing, so the walk stops there. False when the walk cannot keep what
// the passed-over rows leave (no memory for it).
bool walk_to(ChartReader *reader, int32_t entry, int64_t record_at, int32_t pass, int32_t width) {
    EntryWalk &w = reader->walk;
    if (w.overlay == nullptr) {
        w.overlay = static_cast<uint8_t *>(lib_malloc(static_cast<std::size_t>(width)));
        if (w.overlay == nullptr) return false;
        w.entry = -1;
    }
    if (w.entry != entry || w.next > pass) {
        w.entry = entry;
        w.next = 0;
        w.at = record_at;
        w.overlay_reach = 0;
    }
    const int64_t size = stream_size(reader->stream);
    for (; w.next < pass; ++w.next) {
        if (w.at >= size) {
            w.next = pass;
            break;
        }
        w.overlay_reach = std::max(w.overlay_reach, pass_over_row(reader, w.at, w.overlay, width));
    }
    return true;
}

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
    if (row < 0) return nullptr;
    const int32_t per_entry = reader->rows_per_entry;
    const int32_t entry = row / per_entry;
    const int64_t record_at = record_of_entry(reader, entry);
    if (record_at < 0) return nullptr;

    // A skewed chart's ChartFile holds the rotated width; stored rows are
    // source_width wide.
    const int32_t width = chart_is_skewed(reader) ? reader->source_width : chart->width;
    const int32_t pass = row - entry * per_entry;
    if (pass == 0) {
        *reach = decode_requested_row(reader, record_at, buffer, width);
        return buffer;
    }
    if (!walk_to(reader, entry, record_at, pass, width)) {
        // No memory to remember the walk: pass over the rows into the
        // buffer itself, as the format describes.
        int64_t at = record_at;
        for (int32_t k = 0; k < pass && at < stream_size(reader->stream); ++k)
            *reach = std::max(*reach, pass_over_row(reader, at, buffer, width));
        *reach = std::max(*reach, decode_requested_row(reader, at, buffer, width));
        return buffer;
    }
    // The requested row over what the passed-over rows left.
    const EntryWalk &w = reader->walk;
    const int32_t own = decode_requested_row(reader, w.at, buffer, width);
    if (w.overlay_reach > own)
        std::memcpy(buffer + own, w.overlay + own, static_cast<std::size_t>(w.overlay_reach - own));
    *reach = std::max(own, w.overlay_reach);
    return buffer;
}
