#include "raster/stored_rows.h"

#include <algorithm>

#include "platform/heap.h"
#include "platform/large_pages.h"
#include "raster/fill.h"
#include "raster/kernels.h"
#include "raster/row_decode.h"

namespace {

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

int32_t add_parse(StoredRows &rows, uint32_t runs_at) {
    if (!grow(rows.parses, rows.parse_room, rows.parse_count + 1)) return -1;
    rows.parses[rows.parse_count] = {runs_at, 0};
    return rows.parse_count++;
}

// Where the runs of a record read from `at` begin: past its row number.
uint32_t runs_after_number(const StoredImage &f, int64_t at) {
    const uint8_t *data = stored_data(f);
    const int64_t size = stored_size(f);
    return static_cast<uint32_t>(skip_row_number(data + std::min(at, size), data + size) - data);
}

// Pushes a passed-over row onto the overlay list that later rows of its
// entry see: rows it covers entirely drop off.
int32_t push_overlay(StoredRows &rows, int32_t top, int32_t parse, int32_t reach) {
    while (top >= 0 && rows.nodes[top].reach <= reach) top = rows.nodes[top].next;
    if (!grow(rows.nodes, rows.node_room, rows.node_count + 1)) return -2;
    rows.nodes[rows.node_count] = {parse, reach, top};
    return rows.node_count++;
}

// The rows of one index entry, walked once: each row's own record is where
// the rows before it, passed over, end.
bool walk_entry(StoredRows &rows, int32_t entry) {
    const StoredImage &f = *rows.image;
    const auto file_size = static_cast<uint32_t>(stored_size(f));
    const int64_t first = static_cast<int64_t>(entry) * f.rows_per_entry;
    const int64_t last = std::min<int64_t>(first + f.rows_per_entry, f.height);
    int64_t at = stored_record_of_entry(f, entry);
    if (at < 0) {
        // An entry whose record cannot be found: its rows are empty and
        // nothing was passed over on the way to them.
        for (int64_t y = first; y < last; ++y) {
            rows.parses[y] = {file_size, 0};
            rows.overlay[y] = -1;
        }
        return true;
    }
    int32_t top = -1;
    for (int64_t y = first; y < last; ++y) {
        rows.parses[y] = {runs_after_number(f, at), 0};
        rows.overlay[y] = top;
        if (y + 1 == last) break;
        if (at >= stored_size(f)) {
            // Past the end every further pass reads nothing.
            for (int64_t z = y + 1; z < last; ++z) {
                rows.parses[z] = {file_size, 0};
                rows.overlay[z] = top;
            }
            break;
        }
        const PassedRow passed = pass_over_row(f, at, nullptr, f.width);
        const int32_t reach = passed.reach;
        const auto runs_at = static_cast<uint32_t>(passed.runs_at);
        if (reach == 0) continue;
        // Usually the same reading as the row's own (a row number of more
        // than one byte); a new parse only where the discarded byte shifts it.
        const int32_t parse = runs_at == rows.parses[y].runs_at ? static_cast<int32_t>(y) : add_parse(rows, runs_at);
        if (parse < 0) return false;
        top = push_overlay(rows, top, parse, reach);
        if (top == -2) return false;
    }
    return true;
}

bool find_rows(StoredRows &rows) {
    const StoredImage &f = *rows.image;
    rows.parse_room = f.height;
    rows.parses = static_cast<RowParse *>(lib_malloc(sizeof(RowParse) * static_cast<std::size_t>(f.height)));
    if (rows.parses == nullptr) return false;
    rows.parse_count = f.height;
    if (f.rows_per_entry == 1) {
        for (int32_t y = 0; y < f.height; ++y) {
            const int64_t at = stored_record_of_entry(f, y);
            rows.parses[y] = {at < 0 ? static_cast<uint32_t>(stored_size(f)) : runs_after_number(f, at), 0};
        }
        return true;
    }
    rows.overlay = static_cast<int32_t *>(lib_malloc(sizeof(int32_t) * static_cast<std::size_t>(f.height)));
    if (rows.overlay == nullptr) return false;
    const int64_t entries = (static_cast<int64_t>(f.height) - 1) / f.rows_per_entry + 1;
    for (int64_t e = 0; e < entries; ++e)
        if (!walk_entry(rows, static_cast<int32_t>(e))) return false;
    return true;
}

// Checkpoints of one parse (the k-th at marks[k * stride]), and its reach.
void mark_checkpoints(StoredRows &rows, RowParse &parse, Checkpoint *marks, int64_t stride) {
    const StoredImage &f = *rows.image;
    const uint8_t *data = stored_data(f);
    const RunFormat format = stored_format(f);
    const uint8_t *p = data + parse.runs_at;
    const uint8_t *end = data + stored_size(f);
    const int32_t shift = rows.stride_shift;
    int32_t column = 0;   // below the width, so column + count + 1 fits 32 bits
    int32_t k = 0;
    int32_t next = 0;     // column of checkpoint k
    uint8_t value;
    int32_t count;
    while (column < f.width) {
        const uint8_t *run = p;
        if (parse_run(p, end, format, value, count) != kRunRead) break;
        const int32_t ends = column + count + 1;
        for (; next < ends && k < rows.checkpoints_per_parse; ++k, next += 1 << shift)
            marks[k * stride] = {static_cast<uint32_t>(run - data), static_cast<uint32_t>(next - column)};
        column = ends;
    }
    for (; k < rows.checkpoints_per_parse; ++k) marks[k * stride] = {kNoRun, 0};
    parse.reach = std::min(column, f.width);
}

// The checkpoint at or before column x of a parse. They are stored a
// column of checkpoints at a time, so that the rows of a tile find theirs
// side by side.
inline const Checkpoint *checkpoint_of(const StoredRows &rows, int32_t parse, int32_t x) {
    return rows.checkpoints + static_cast<int64_t>(x >> rows.stride_shift) * rows.parse_count + parse;
}

// Columns [x0, x1) of one parse into dst; returns the column it reached:
// x1, or where the parse ends when that comes first (never below x0).
template <typename Fill>
__attribute__((always_inline)) inline int32_t decode_parse(const StoredRows &rows, int32_t parse, int32_t x0,
                                                      int32_t x1, uint8_t *dst, Fill fill) {
    const StoredImage &f = *rows.image;
    const int32_t k = x0 >> rows.stride_shift;
    const Checkpoint mark = *checkpoint_of(rows, parse, x0);
    if (mark.run_at == kNoRun) return x0;
    const uint8_t *data = stored_data(f);
    const uint8_t *p = data + mark.run_at;
    const uint8_t *end = data + stored_size(f);
    const RunFormat format = stored_format(f);
    uint8_t value = 0;
    int32_t count = 0;
    parse_run(p, end, format, value, count);   // the checkpoint's run is whole by construction
    int32_t column = (k << rows.stride_shift) - static_cast<int32_t>(mark.skip);   // below x1 from here on
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

// Stored row `row`, columns [x0, x1): its own parse, then what rows passed
// over before it left further on, then zeros.
template <typename Fill>
__attribute__((always_inline)) inline void decode_row(const StoredRows &rows, int32_t row, int32_t x0, int32_t x1,
                                                      uint8_t *dst, Fill fill) {
    int32_t reached = decode_parse(rows, row, x0, x1, dst, fill);
    for (int32_t node = rows.overlay != nullptr ? rows.overlay[row] : -1; node >= 0 && reached < x1;
         node = rows.nodes[node].next) {
        const OverlayNode &n = rows.nodes[node];
        if (n.reach > reached)
            reached = decode_parse(rows, n.parse, reached, std::min(x1, n.reach), dst + (reached - x0), fill);
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

void decode_row_plain(const StoredRows &rows, int32_t row, int32_t x0, int32_t x1, uint8_t *dst) {
    decode_row(rows, row, x0, x1, dst, PlainFill{});
}
__attribute__((target("avx512bw,avx512vl,bmi2"))) void decode_row_masked(const StoredRows &rows, int32_t row,
                                                                         int32_t x0, int32_t x1, uint8_t *dst) {
    decode_row(rows, row, x0, x1, dst, MaskedFill{});
}

}  // namespace

int32_t stored_rows_build(StoredRows *rows, const StoredImage &file, int32_t min_stride_shift, int64_t budget) {
    *rows = StoredRows{};
    rows->image = &file;
    if (file.width <= 0 || file.height <= 0 || !find_rows(*rows)) {
        stored_rows_free(rows);
        return -1;
    }
    // Checkpoints as close together as the budget allows.
    int32_t shift = min_stride_shift;
    while (static_cast<int64_t>(rows->parse_count) * checkpoints_for(file.width, shift) *
                   static_cast<int64_t>(sizeof(Checkpoint)) > budget &&
           checkpoints_for(file.width, shift) > 1)
        ++shift;
    rows->stride_shift = shift;
    rows->checkpoints_per_parse = checkpoints_for(file.width, shift);
    const int64_t marks = static_cast<int64_t>(rows->parse_count) * rows->checkpoints_per_parse;
    rows->checkpoints = static_cast<Checkpoint *>(lib_malloc(sizeof(Checkpoint) * static_cast<std::size_t>(marks)));
    if (rows->checkpoints == nullptr) {
        stored_rows_free(rows);
        return -1;
    }
    platform_prefer_large_pages(rows->checkpoints, sizeof(Checkpoint) * static_cast<std::size_t>(marks));
    for (int32_t i = 0; i < rows->parse_count; ++i)
        mark_checkpoints(*rows, rows->parses[i], rows->checkpoints + i, rows->parse_count);
    return 0;
}

void stored_rows_free(StoredRows *rows) {
    lib_free(rows->parses);
    lib_free(rows->overlay);
    lib_free(rows->nodes);
    lib_free(rows->checkpoints);
    *rows = StoredRows{};
}

int64_t stored_rows_bytes(const StoredRows &rows) {
    return static_cast<int64_t>(rows.parse_room) * sizeof(RowParse) +
           (rows.overlay != nullptr ? static_cast<int64_t>(rows.image->height) * sizeof(int32_t) : 0) +
           static_cast<int64_t>(rows.node_room) * sizeof(OverlayNode) +
           static_cast<int64_t>(rows.parse_count) * rows.checkpoints_per_parse * sizeof(Checkpoint);
}

void stored_rows_prefetch_checkpoint(const StoredRows &rows, int32_t row, int32_t x0) {
    __builtin_prefetch(checkpoint_of(rows, row, x0));
}

void stored_rows_prefetch_runs(const StoredRows &rows, int32_t row, int32_t x0) {
    const uint32_t at = checkpoint_of(rows, row, x0)->run_at;
    if (at != kNoRun) __builtin_prefetch(stored_data(*rows.image) + at);
}

void stored_rows_decode(const StoredRows &rows, int32_t row, int32_t x0, int32_t x1, uint8_t *dst) {
    static const auto decode = run_kernel_best() == RunKernel::masked ? decode_row_masked : decode_row_plain;
    decode(rows, row, x0, x1, dst);
}
