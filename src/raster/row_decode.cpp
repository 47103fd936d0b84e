#include "raster/row_decode.h"

#include <algorithm>
#include <cstring>

#include "platform/heap.h"

namespace {

// The requested row itself: its record from `at`, into buffer[0, width).
// What follows once the row is full is never looked at, so reading stops
// there. Returns the pixels written.
int32_t decode_requested_row(const StoredImage &image, int64_t at, uint8_t *buffer, int32_t width) {
    const uint8_t *data = stored_data(image);
    const uint8_t *end = data + stored_size(image);
    const uint8_t *p = skip_row_number(data + std::min(at, stored_size(image)), end);
    return decode_runs_until_full(p, end, stored_format(image), buffer, width);
}

// Pixels the runs from `p` to the terminator write into a row `width`
// wide; `p` ends past the terminator.
int32_t count_runs(const uint8_t *&p, const uint8_t *end, RunFormat format, int32_t width) {
    int32_t pixels = 0;
    uint8_t value;
    int32_t count;
    while (parse_run(p, end, format, value, count) == kRunRead)
        if (pixels < width) pixels += count < width - pixels ? count + 1 : width - pixels;
    return pixels;
}

// Positions the walk of `entry` at row `pass` of the entry, passing over
// the rows before it once: a later row of the same entry continues from
// where the walk stands. At the end of the file every further pass reads
// nothing, so the walk stops there. False when the walk cannot keep what
// the passed-over rows leave (no memory for it).
bool walk_to(const StoredImage &image, EntryWalk &w, int32_t entry, int64_t record_at, int32_t pass) {
    const int32_t width = image.width;
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
    const int64_t size = stored_size(image);
    for (; w.next < pass; ++w.next) {
        if (w.at >= size) {
            w.next = pass;
            break;
        }
        w.overlay_reach = std::max(w.overlay_reach, pass_over_row(image, w.at, w.overlay, width).reach);
    }
    return true;
}

}  // namespace

void entry_walk_free(EntryWalk &walk) {
    lib_free(walk.overlay);
    walk = EntryWalk{};
}

int32_t kap_read_row(StoredImage &image, uint8_t *buffer, int32_t width) {
    ChartStream *s = image.stream;
    const uint8_t *end = stream_end(s);
    const uint8_t *p = skip_row_number(stream_cursor(s), end);
    const int32_t written = decode_runs(p, end, stored_format(image), buffer, width);
    stream_advance_to(s, p);
    return written;
}

PassedRow pass_over_row(const StoredImage &image, int64_t &at, uint8_t *buffer, int32_t width) {
    const uint8_t *data = stored_data(image);
    const int64_t size = stored_size(image);
    const uint8_t *end = data + size;
    const uint8_t *p = skip_row_number(data + std::min(at + 1, size), end);
    const int64_t runs_at = p - data;
    const int32_t reach = buffer != nullptr ? decode_runs(p, end, stored_format(image), buffer, width)
                                            : count_runs(p, end, stored_format(image), width);
    at = p - data;
    return {runs_at, reach};
}

uint8_t *kap_decode_row(const StoredImage &image, EntryWalk &walk, int32_t row, uint8_t *buffer, int32_t *reach) {
    int32_t ignored = 0;
    int32_t &written = reach != nullptr ? *reach : ignored;
    written = 0;
    if (row < 0) return nullptr;
    const int32_t per_entry = image.rows_per_entry;
    const int32_t entry = row / per_entry;
    const int64_t record_at = stored_record_of_entry(image, entry);
    if (record_at < 0) return nullptr;

    const int32_t width = image.width;
    const int32_t pass = row - entry * per_entry;
    if (pass == 0) {
        written = decode_requested_row(image, record_at, buffer, width);
        return buffer;
    }
    if (!walk_to(image, walk, entry, record_at, pass)) {
        // No memory to remember the walk: pass over the rows into the
        // buffer itself, as the format describes.
        int64_t at = record_at;
        for (int32_t k = 0; k < pass && at < stored_size(image); ++k)
            written = std::max(written, pass_over_row(image, at, buffer, width).reach);
        written = std::max(written, decode_requested_row(image, at, buffer, width));
        return buffer;
    }
    // The requested row over what the passed-over rows left.
    const int32_t own = decode_requested_row(image, walk.at, buffer, width);
    if (walk.overlay_reach > own)
        std::memcpy(buffer + own, walk.overlay + own, static_cast<std::size_t>(walk.overlay_reach - own));
    written = std::max(own, walk.overlay_reach);
    return buffer;
}

uint8_t *decode_into_scratch(const StoredImage &image, EntryWalk &walk, RowScratch &scratch, int32_t row) {
    if (row < 0 || row >= image.height) return nullptr;
    std::memset(scratch.row, 0, static_cast<std::size_t>(scratch.reach));
    kap_decode_row(image, walk, row, scratch.row, &scratch.reach);
    return scratch.row;
}
