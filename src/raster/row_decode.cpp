#include "raster/row_decode.h"

#include <algorithm>
#include <cstring>

#include "platform/heap.h"

namespace {

// Bytes asked for first for a record: most rows of real charts take a few
// hundred. Where they run short the request doubles.
constexpr int64_t kRecordGuess = 4096;

// The bytes from `at` on that the stream has at hand (at least `want`
// where the file has them): [*p, *end). False when the file cannot be read.
bool bytes_at(const StoredImage &image, int64_t at, int64_t want, const uint8_t **p, const uint8_t **end) {
    int64_t available = 0;
    const uint8_t *view = stream_view(image.stream, std::min(at, stored_size(image)), want, &available);
    if (view == nullptr) return false;
    *p = view;
    *end = view + available;
    return true;
}

// Whether the bytes [p, end) read from `at` reach the end of the file.
bool reach_the_end(const StoredImage &image, int64_t at, const uint8_t *p, const uint8_t *end) {
    return at + (end - p) >= stored_size(image);
}

// The requested row itself: its record from `at`, into buffer[0, width).
// What follows once the row is full is never looked at, so reading stops
// there. Returns the pixels written, or -1 when the file cannot be read.
int32_t decode_requested_row(const StoredImage &image, int64_t at, uint8_t *buffer, int32_t width) {
    for (int64_t want = kRecordGuess;; want *= 2) {
        const uint8_t *view, *end;
        if (!bytes_at(image, at, want, &view, &end)) return -1;
        const uint8_t *p = skip_row_number(view, end);
        const int32_t written = decode_runs_until_full(p, end, stored_format(image), buffer, width);
        // The row is full, its terminator came first, or the file ends.
        if (written == width || p < end || reach_the_end(image, at, view, end)) return written;
    }
}

// A row passed over from `at`, which moves to where the next row of the
// entry starts: its reach, or -1 when the file cannot be read.
int32_t pass_over(const StoredImage &image, int64_t &at, uint8_t *buffer, int32_t width) {
    for (int64_t want = kRecordGuess;; want *= 2) {
        const uint8_t *view, *end;
        if (!bytes_at(image, at, want, &view, &end)) return -1;
        const uint8_t *p = view;
        const PassedRow passed = pass_over_row(p, end, stored_format(image), buffer, width);
        if (passed.ended || reach_the_end(image, at, view, end)) {
            at += p - view;
            return passed.reach;
        }
    }
}

// Positions the walk of `entry` at row `pass` of the entry, passing over
// the rows before it once: a later row of the same entry continues from
// where the walk stands. At the end of the file every further pass reads
// nothing, so the walk stops there. 0; 1 when the walk cannot keep what
// the passed-over rows leave (no memory for it); -1 when the file cannot
// be read.
int32_t walk_to(const StoredImage &image, EntryWalk &w, int32_t entry, int64_t record_at, int32_t pass) {
    const int32_t width = image.width;
    if (w.overlay == nullptr) {
        w.overlay = static_cast<uint8_t *>(lib_malloc(static_cast<std::size_t>(width)));
        if (w.overlay == nullptr) return 1;
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
        const int32_t reach = pass_over(image, w.at, w.overlay, width);
        if (reach < 0) {
            w.entry = -1;
            return -1;
        }
        w.overlay_reach = std::max(w.overlay_reach, reach);
    }
    return 0;
}

}  // namespace

int32_t kap_read_index(StoredImage &image) {
    kap_free_index(image);
    const int64_t size = stored_size(image);
    if (image.index_offset < 0 || image.index_offset >= size || image.rows_per_entry < 1) return 0;
    const int64_t held = (size - image.index_offset) / 4;
    const int64_t needed = (static_cast<int64_t>(image.height) - 1) / image.rows_per_entry + 1;
    const int64_t entries = std::min(held, std::max<int64_t>(needed, 0));
    if (entries == 0) return 0;
    auto *bytes = static_cast<uint8_t *>(lib_malloc(static_cast<std::size_t>(entries) * 4));
    if (bytes == nullptr) return -1;
    if (stream_read(image.stream, image.index_offset, bytes, entries * 4) != entries * 4) {
        lib_free(bytes);
        return -1;
    }
    // The entries in place, big-endian to the processor's own order.
    auto *index = reinterpret_cast<int32_t *>(bytes);
    for (int64_t e = 0; e < entries; ++e) {
        const uint8_t *b = bytes + 4 * e;
        index[e] = static_cast<int32_t>(static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                                        static_cast<uint32_t>(b[2]) << 8 | b[3]);
    }
    image.index = index;
    image.index_entries = static_cast<int32_t>(entries);
    return 0;
}

void kap_free_index(StoredImage &image) {
    lib_free(image.index);
    image.index = nullptr;
    image.index_entries = 0;
}

void entry_walk_free(EntryWalk &walk) {
    lib_free(walk.overlay);
    walk = EntryWalk{};
}

int32_t kap_read_row(StoredImage &image, uint8_t *buffer, int32_t width) {
    ChartStream *s = image.stream;
    const int64_t at = stream_tell(s);
    for (int64_t want = kRecordGuess;; want *= 2) {
        const uint8_t *view, *end;
        if (!bytes_at(image, at, want, &view, &end)) return -1;
        const uint8_t *p = skip_row_number(view, end);
        const int32_t written = decode_runs(p, end, stored_format(image), buffer, width);
        if (p < end || reach_the_end(image, at, view, end)) {
            stream_seek(s, at + (p - view));
            return written;
        }
    }
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
        const int32_t own = decode_requested_row(image, record_at, buffer, width);
        if (own < 0) return nullptr;
        written = own;
        return buffer;
    }
    const int32_t walked = walk_to(image, walk, entry, record_at, pass);
    if (walked < 0) return nullptr;
    if (walked > 0) {
        // No memory to remember the walk: pass over the rows into the
        // buffer itself, as the format describes.
        int64_t at = record_at;
        for (int32_t k = 0; k < pass && at < stored_size(image); ++k) {
            const int32_t passed = pass_over(image, at, buffer, width);
            if (passed < 0) return nullptr;
            written = std::max(written, passed);
        }
        const int32_t own = decode_requested_row(image, at, buffer, width);
        if (own < 0) return nullptr;
        written = std::max(written, own);
        return buffer;
    }
    // The requested row over what the passed-over rows left.
    const int32_t own = decode_requested_row(image, walk.at, buffer, width);
    if (own < 0) return nullptr;
    if (walk.overlay_reach > own)
        std::memcpy(buffer + own, walk.overlay + own, static_cast<std::size_t>(walk.overlay_reach - own));
    written = std::max(own, walk.overlay_reach);
    return buffer;
}

uint8_t *decode_into_scratch(const StoredImage &image, EntryWalk &walk, RowScratch &scratch, int32_t row) {
    if (row < 0 || row >= image.height) return nullptr;
    std::memset(scratch.row, 0, static_cast<std::size_t>(scratch.reach));
    // A row whose record cannot be found reads as the zero background;
    // a file that can no longer be read gives no row at all.
    if (kap_decode_row(image, walk, row, scratch.row, &scratch.reach) == nullptr && image.stream->failed)
        return nullptr;
    return scratch.row;
}
