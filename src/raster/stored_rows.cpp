#include "raster/stored_rows.h"

#include <algorithm>

#include "platform/heap.h"
#include "raster/fill.h"
#include "raster/kernels.h"

namespace {

// Rows a band aims for: a tile row or two, and few enough that the first
// rows of a chart read little of its file.
constexpr int64_t kBandRows = 64;

// Checkpoints a band may hold: three times its bytes and a little more,
// as close together as that allows.
constexpr int64_t kCheckpointFloor = INT64_C(16) << 10;

// Bytes read first past a band's last record when the index does not say
// where it ends.
constexpr int64_t kRecordGuess = INT64_C(8) << 10;

// Every parse has this many checkpoints at most: one a row is the floor.
int32_t checkpoints_for(int32_t width, int32_t shift) {
    return static_cast<int32_t>(((static_cast<int64_t>(width) - 1) >> shift) + 1);
}

template <typename T>
bool grow(T *&array, int32_t &room, int32_t needed) {
    if (needed <= room) return true;
    const int32_t more = std::max(needed, room * 2);
    void *grown = lib_realloc(array, sizeof(T) * static_cast<std::size_t>(more));
    if (grown == nullptr) return false;
    array = static_cast<T *>(grown);
    room = more;
    return true;
}

void free_band(StoredBand *band) {
    if (band == nullptr) return;
    lib_free(band->bytes);
    lib_free(band->parses);
    lib_free(band->overlay);
    lib_free(band->nodes);
    lib_free(band->checkpoints);
    lib_free(band);
}

// Gives up the index of a band (keeping its bytes), to build it again.
void clear_index(StoredBand &band) {
    lib_free(band.parses);
    lib_free(band.overlay);
    lib_free(band.nodes);
    lib_free(band.checkpoints);
    band.parses = nullptr;
    band.overlay = nullptr;
    band.nodes = nullptr;
    band.checkpoints = nullptr;
    band.parse_count = band.parse_room = band.node_count = band.node_room = 0;
}

// n as a shift (1 << shift == n), or -1 when n is no power of two.
int32_t shift_of(int32_t n) {
    if (n <= 0 || (n & (n - 1)) != 0) return -1;
    int32_t shift = 0;
    while ((1 << shift) != n) ++shift;
    return shift;
}

int32_t band_of(const StoredRows &rows, int32_t row) {
    return rows.band_shift >= 0 ? row >> rows.band_shift : row / rows.rows_per_band;
}

// Building one band: its bytes are the file's [at, at + band.size), and
// `whole` says whether they run to the end of the file. `short_of_bytes`
// is set when a record ran past them before the file ended: the band is
// then built again from more.
struct Builder {
    const StoredImage &image;
    StoredBand &band;
    int64_t at;
    bool whole;
    bool short_of_bytes = false;

    const uint8_t *end() const { return band.bytes + band.size; }

    // The band's bytes from the record at file offset `record` on.
    const uint8_t *record(int64_t offset) const { return band.bytes + (offset - at); }

    // Where the runs of the record at `p` begin, past its number.
    uint32_t runs_after_number(const uint8_t *p) {
        p = skip_row_number(p, end());
        if (p == end() && !whole) short_of_bytes = true;
        return static_cast<uint32_t>(p - band.bytes);
    }
};

int32_t add_parse(StoredBand &band, uint32_t runs_at) {
    if (!grow(band.parses, band.parse_room, band.parse_count + 1)) return -1;
    band.parses[band.parse_count] = {runs_at, 0};
    return band.parse_count++;
}

// Pushes a passed-over row onto the overlay list that later rows of its
// entry see: rows it covers entirely drop off.
int32_t push_overlay(StoredBand &band, int32_t top, int32_t parse, int32_t reach) {
    while (top >= 0 && band.nodes[top].reach <= reach) top = band.nodes[top].next;
    if (!grow(band.nodes, band.node_room, band.node_count + 1)) return -2;
    band.nodes[band.node_count] = {parse, reach, top};
    return band.node_count++;
}

// The rows of one index entry, walked once: each row's own record is where
// the rows before it, passed over, end. Rows are numbered within the band.
bool walk_entry(Builder &b, int32_t entry, int32_t first, int32_t last) {
    StoredBand &band = b.band;
    const StoredImage &f = b.image;
    const int64_t record = stored_record_of_entry(f, entry);
    if (record < 0) {
        // An entry whose record cannot be found: its rows are empty and
        // nothing was passed over on the way to them.
        for (int32_t y = first; y < last; ++y) {
            band.parses[y] = {band.size, 0};
            band.overlay[y] = -1;
        }
        return true;
    }
    const uint8_t *p = b.record(record);
    int32_t top = -1;
    for (int32_t y = first; y < last; ++y) {
        band.parses[y] = {b.runs_after_number(p), 0};
        band.overlay[y] = top;
        if (y + 1 == last) break;
        if (p >= b.end()) {
            if (!b.whole) b.short_of_bytes = true;
            // Past the end of the file every further pass reads nothing.
            for (int32_t z = y + 1; z < last; ++z) {
                band.parses[z] = {band.size, 0};
                band.overlay[z] = top;
            }
            break;
        }
        const PassedRow passed = pass_over_row(p, b.end(), stored_format(f), nullptr, f.width);
        if (!passed.ended && !b.whole) b.short_of_bytes = true;
        if (passed.reach == 0) continue;
        // Usually the same reading as the row's own (a row number of more
        // than one byte); a new parse only where the discarded byte shifts it.
        const auto runs_at = static_cast<uint32_t>(passed.runs - band.bytes);
        const int32_t parse = runs_at == band.parses[y].runs_at ? y : add_parse(band, runs_at);
        if (parse < 0) return false;
        top = push_overlay(band, top, parse, passed.reach);
        if (top == -2) return false;
    }
    return true;
}

// The parses of the band's rows (and of the rows passed over on the way).
bool find_rows(Builder &b, int32_t first_entry) {
    StoredBand &band = b.band;
    const StoredImage &f = b.image;
    band.parse_room = band.rows;
    band.parses = static_cast<RowParse *>(lib_malloc(sizeof(RowParse) * static_cast<std::size_t>(band.rows)));
    if (band.parses == nullptr) return false;
    band.parse_count = band.rows;
    if (f.rows_per_entry == 1) {
        for (int32_t y = 0; y < band.rows; ++y) {
            const int64_t record = stored_record_of_entry(f, first_entry + y);
            band.parses[y] = {record < 0 ? band.size : b.runs_after_number(b.record(record)), 0};
        }
        return true;
    }
    band.overlay = static_cast<int32_t *>(lib_malloc(sizeof(int32_t) * static_cast<std::size_t>(band.rows)));
    if (band.overlay == nullptr) return false;
    for (int32_t y = 0, entry = first_entry; y < band.rows; y += f.rows_per_entry, ++entry)
        if (!walk_entry(b, entry, y, static_cast<int32_t>(std::min<int64_t>(int64_t{y} + f.rows_per_entry, band.rows))))
            return false;
    return true;
}

// Checkpoints of one parse (the k-th at marks[k * stride]), and its reach.
void mark_checkpoints(Builder &b, RowParse &parse, Checkpoint *marks, int64_t stride) {
    StoredBand &band = b.band;
    const int32_t width = b.image.width;
    const RunFormat format = stored_format(b.image);
    const uint8_t *p = band.bytes + parse.runs_at;
    const int32_t shift = band.stride_shift;
    int32_t column = 0;   // below the width, so column + count + 1 fits 32 bits
    int32_t k = 0;
    int32_t next = 0;     // column of checkpoint k
    uint8_t value;
    int32_t count;
    while (column < width) {
        const uint8_t *run = p;
        const int32_t status = parse_run(p, b.end(), format, value, count);
        if (status != kRunRead) {
            if (status == kRunEndOfFile && !b.whole) b.short_of_bytes = true;
            break;
        }
        const int32_t ends = column + count + 1;
        for (; next < ends && k < band.checkpoints_per_parse; ++k, next += 1 << shift)
            marks[k * stride] = {static_cast<uint32_t>(run - band.bytes), static_cast<uint32_t>(next - column)};
        column = ends;
    }
    for (; k < band.checkpoints_per_parse; ++k) marks[k * stride] = {kNoRun, 0};
    parse.reach = std::min(column, width);
}

bool mark_every_parse(Builder &b, int32_t min_stride_shift) {
    StoredBand &band = b.band;
    const int32_t width = b.image.width;
    const int64_t room = 3 * static_cast<int64_t>(band.size) + kCheckpointFloor;
    int32_t shift = min_stride_shift;
    while (static_cast<int64_t>(band.parse_count) * checkpoints_for(width, shift) *
                   static_cast<int64_t>(sizeof(Checkpoint)) > room &&
           checkpoints_for(width, shift) > 1)
        ++shift;
    band.stride_shift = shift;
    band.checkpoints_per_parse = checkpoints_for(width, shift);
    const int64_t marks = static_cast<int64_t>(band.parse_count) * band.checkpoints_per_parse;
    band.checkpoints = static_cast<Checkpoint *>(lib_malloc(sizeof(Checkpoint) * static_cast<std::size_t>(marks)));
    if (band.checkpoints == nullptr) return false;
    for (int32_t i = 0; i < band.parse_count; ++i)
        mark_checkpoints(b, band.parses[i], band.checkpoints + i, band.parse_count);
    return true;
}

// The file bytes a band's records start in: the first record and, as a
// first guess at where the last ends, the next band's first record when
// it comes after (as it does in a chart written in order).
struct BandRange {
    int64_t from = -1;   // -1: no record of the band can be found
    int64_t to = 0;
};

BandRange range_of(const StoredImage &f, int32_t first_entry, int32_t entries) {
    BandRange r;
    int64_t last = -1;
    for (int32_t e = first_entry; e < first_entry + entries; ++e) {
        const int64_t record = stored_record_of_entry(f, e);
        if (record < 0) continue;
        r.from = r.from < 0 ? record : std::min(r.from, record);
        last = std::max(last, record);
    }
    if (r.from < 0) return r;
    const int64_t after = stored_record_of_entry(f, first_entry + entries);
    // Else as many bytes as the band's rows take in the file on average,
    // and a quarter more: a band of many rows under one entry is read in
    // one go, not doubled up to its size.
    const int64_t rows = std::min<int64_t>(int64_t{entries} * f.rows_per_entry, f.height);
    const int64_t average = stored_size(f) / std::max(f.height, 1);
    r.to = after > last ? after : std::max(last + kRecordGuess, r.from + rows * average / 4 * 5);
    r.to = std::min(r.to, stored_size(f));
    return r;
}

StoredBand *build_band(const StoredRows &rows, int32_t index) {
    const StoredImage &f = *rows.image;
    auto *band = static_cast<StoredBand *>(lib_calloc(1, sizeof(StoredBand)));
    if (band == nullptr) return nullptr;
    *band = StoredBand{};
    const int32_t entries = rows.rows_per_band / f.rows_per_entry;
    const int32_t first_entry = index * entries;
    band->first_row = index * rows.rows_per_band;
    band->rows = static_cast<int32_t>(std::min<int64_t>(rows.rows_per_band, int64_t{f.height} - band->first_row));
    const BandRange range = range_of(f, first_entry, entries);
    int64_t to = range.to;
    for (;;) {
        Builder b{f, *band, range.from, true};
        if (range.from < 0) {
            band->bytes = static_cast<uint8_t *>(lib_calloc(1, 1));   // no record to read: rows of zeros
            if (band->bytes == nullptr) {
                free_band(band);
                return nullptr;
            }
        } else {
            band->size = static_cast<uint32_t>(to - range.from);
            lib_free(band->bytes);
            band->bytes = static_cast<uint8_t *>(lib_malloc(std::max<std::size_t>(band->size, 1)));
            if (band->bytes == nullptr ||
                stream_copy(f.stream, range.from, band->bytes, band->size) != static_cast<int64_t>(band->size)) {
                free_band(band);
                return nullptr;
            }
            b.whole = to >= stored_size(f);
        }
        if (!find_rows(b, first_entry) || (!b.short_of_bytes && !mark_every_parse(b, rows.min_stride_shift))) {
            free_band(band);
            return nullptr;
        }
        if (!b.short_of_bytes) break;
        // A record runs past the bytes read: read twice as many.
        clear_index(*band);
        to = std::min(stored_size(f), range.from + 2 * (to - range.from));
    }
    band->held = static_cast<int64_t>(sizeof(StoredBand)) + band->size +
                 static_cast<int64_t>(band->parse_room) * sizeof(RowParse) +
                 (band->overlay != nullptr ? static_cast<int64_t>(band->rows) * sizeof(int32_t) : 0) +
                 static_cast<int64_t>(band->node_room) * sizeof(OverlayNode) +
                 static_cast<int64_t>(band->parse_count) * band->checkpoints_per_parse * sizeof(Checkpoint);
    return band;
}

void drop_band(StoredRows &rows, int32_t index) {
    StoredBand *band = rows.bands[index];
    if (band == nullptr) return;
    rows.held -= band->held;
    free_band(band);
    rows.bands[index] = nullptr;
}

// The band of `row`, built when it is not at hand; null when it cannot be.
StoredBand *band_for(StoredRows &rows, int32_t row) {
    const int32_t index = band_of(rows, row);
    StoredBand *band = rows.bands[index];
    if (band == nullptr) {
        band = build_band(rows, index);
        if (band == nullptr) return nullptr;
        rows.bands[index] = band;
        rows.held += band->held;
        if (rows.held > rows.limit) {
            band->last_use = UINT64_MAX;   // the one in hand stays
            stored_rows_trim(rows, rows.limit);
        }
    }
    band->last_use = ++rows.clock;
    return band;
}

// The checkpoint at or before column x of a parse. They are stored a
// column of checkpoints at a time, so that the rows of a tile find theirs
// side by side.
inline const Checkpoint *checkpoint_of(const StoredBand &band, int32_t parse, int32_t x) {
    return band.checkpoints + static_cast<int64_t>(x >> band.stride_shift) * band.parse_count + parse;
}

// Columns [x0, x1) of one parse into dst; returns the column it reached:
// x1, or where the parse ends when that comes first (never below x0).
template <typename Fill>
__attribute__((always_inline)) inline int32_t decode_parse(const StoredBand &band, RunFormat format, int32_t parse,
                                                          int32_t x0, int32_t x1, uint8_t *dst, Fill fill) {
    const int32_t k = x0 >> band.stride_shift;
    const Checkpoint mark = *checkpoint_of(band, parse, x0);
    if (mark.run_at == kNoRun) return x0;
    const uint8_t *p = band.bytes + mark.run_at;
    const uint8_t *end = band.bytes + band.size;
    uint8_t value = 0;
    int32_t count = 0;
    parse_run(p, end, format, value, count);   // the checkpoint's run is whole by construction
    int32_t column = (k << band.stride_shift) - static_cast<int32_t>(mark.skip);   // below x1 from here on
    for (;;) {
        const int32_t ends = column + count + 1;
        if (ends > x0) {
            const int32_t from = std::max(column, x0);
            const int32_t to = std::min(ends, x1);
            fill(dst + (from - x0), value, to - from);
            if (ends >= x1) return x1;
        }
        column = ends;
        if (parse_run(p, end, format, value, count) != kRunRead) return std::max(column, x0);
    }
}

// Row `row` of the band, columns [x0, x1): its own parse, then what rows
// passed over before it left further on, then zeros.
template <typename Fill>
__attribute__((always_inline)) inline void decode_row(const StoredBand &band, RunFormat format, int32_t row,
                                                      int32_t x0, int32_t x1, uint8_t *dst, Fill fill) {
    int32_t reached = decode_parse(band, format, row, x0, x1, dst, fill);
    for (int32_t node = band.overlay != nullptr ? band.overlay[row] : -1; node >= 0 && reached < x1;
         node = band.nodes[node].next) {
        const OverlayNode &n = band.nodes[node];
        if (n.reach > reached)
            reached = decode_parse(band, format, n.parse, reached, std::min(x1, n.reach), dst + (reached - x0), fill);
    }
    if (reached < x1) fill(dst + (reached - x0), 0, x1 - reached);
}

// Whole 16-byte stores (SSE2, the baseline), or exact masked ones.
struct PlainFill {
    void operator()(uint8_t *dst, uint8_t value, int32_t n) const {
        fill_overshooting(dst, fill_pattern(value), static_cast<std::size_t>(n));
    }
};
struct MaskedFill {
    __attribute__((target("avx512bw,avx512vl,bmi2"))) void operator()(uint8_t *dst, uint8_t value,
                                                                                      int32_t n) const {
        fill_masked(dst, value, n);
    }
};

void decode_row_plain(const StoredBand &band, RunFormat format, int32_t row, int32_t x0, int32_t x1, uint8_t *dst) {
    decode_row(band, format, row, x0, x1, dst, PlainFill{});
}
__attribute__((target("avx512bw,avx512vl,bmi2"))) void decode_row_masked(const StoredBand &band, RunFormat format,
                                                                         int32_t row, int32_t x0, int32_t x1,
                                                                         uint8_t *dst) {
    decode_row(band, format, row, x0, x1, dst, MaskedFill{});
}

}  // namespace

int32_t stored_rows_make(StoredRows *rows, const StoredImage &image, int32_t min_stride_shift) {
    *rows = StoredRows{};
    if (image.width <= 0 || image.height <= 0 || image.rows_per_entry < 1) return -1;
    rows->image = &image;
    rows->min_stride_shift = min_stride_shift;
    const int64_t entries = std::max<int64_t>(1, (kBandRows + image.rows_per_entry - 1) / image.rows_per_entry);
    rows->rows_per_band = static_cast<int32_t>(std::min<int64_t>(entries * image.rows_per_entry, INT32_MAX));
    rows->rows_per_band -= rows->rows_per_band % image.rows_per_entry;   // whole entries
    rows->band_shift = shift_of(rows->rows_per_band);
    rows->band_count = static_cast<int32_t>((int64_t{image.height} - 1) / rows->rows_per_band + 1);
    rows->bands = static_cast<StoredBand **>(lib_calloc(static_cast<std::size_t>(rows->band_count), sizeof(StoredBand *)));
    if (rows->bands == nullptr) {
        *rows = StoredRows{};
        return -1;
    }
    rows->held = static_cast<int64_t>(rows->band_count) * sizeof(StoredBand *);
    return 0;
}

void stored_rows_free(StoredRows *rows) {
    if (rows->bands != nullptr)
        for (int32_t b = 0; b < rows->band_count; ++b) free_band(rows->bands[b]);
    lib_free(rows->bands);
    *rows = StoredRows{};
}

void stored_rows_drop_bands(StoredRows &rows) {
    if (rows.bands == nullptr) return;
    for (int32_t b = 0; b < rows.band_count; ++b) drop_band(rows, b);
}

void stored_rows_trim(StoredRows &rows, int64_t bytes) {
    while (rows.held > bytes) {
        int32_t oldest = -1;
        for (int32_t b = 0; b < rows.band_count; ++b) {
            const StoredBand *band = rows.bands[b];
            if (band != nullptr && band->last_use != UINT64_MAX &&
                (oldest < 0 || band->last_use < rows.bands[oldest]->last_use))
                oldest = b;
        }
        if (oldest < 0) return;
        drop_band(rows, oldest);
    }
}

int64_t stored_rows_bytes(const StoredRows &rows) { return rows.held; }

void stored_rows_prefetch_checkpoint(const StoredRows &rows, int32_t row, int32_t x0) {
    const StoredBand *band = rows.bands[band_of(rows, row)];
    if (band != nullptr) __builtin_prefetch(checkpoint_of(*band, row - band->first_row, x0));
}

void stored_rows_prefetch_runs(const StoredRows &rows, int32_t row, int32_t x0) {
    const StoredBand *band = rows.bands[band_of(rows, row)];
    if (band == nullptr) return;
    const uint32_t at = checkpoint_of(*band, row - band->first_row, x0)->run_at;
    if (at != kNoRun) __builtin_prefetch(band->bytes + at);
}

bool stored_rows_decode(StoredRows &rows, int32_t row, int32_t x0, int32_t x1, uint8_t *dst) {
    using Decode = void (*)(const StoredBand &, RunFormat, int32_t, int32_t, int32_t, uint8_t *);
    static const Decode decode = run_kernel_best() == RunKernel::masked ? decode_row_masked : decode_row_plain;
    const StoredBand *band = band_for(rows, row);
    if (band == nullptr) {
        rows.failed = true;
        fill_exact(dst, 0, static_cast<std::size_t>(x1 - x0));
        return false;
    }
    decode(*band, stored_format(*rows.image), row - band->first_row, x0, x1, dst);
    return true;
}
