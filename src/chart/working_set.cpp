#include "chart/working_set.h"

#include "raster/tiled.h"

namespace {

// The budget's entry is the reader's first member.
ChartReader &reader_of(BudgetEntry *entry) { return *reinterpret_cast<ChartReader *>(entry); }

void release_tiles(ChartReader &r) {
    tiled_image_free(r.tiled);
    r.tiled = nullptr;
    if (r.mode == RowMode::skewed_tiled) r.mode = RowMode::skewed_untried;
}

void release(BudgetEntry *entry) {
    ChartReader &r = reader_of(entry);
    release_tiles(r);
    stream_drop_window(r.image.stream);
}

// The least recently used bands of the stored-row index: rebuilt from the
// chart's index table alone, and, for a chart read downwards, behind the
// rows being read.
int64_t shed(BudgetEntry *entry, int64_t bytes) {
    ChartReader &r = reader_of(entry);
    if (r.tiled != nullptr) {
        const int64_t besides = working_set_bytes(r) - stored_rows_bytes(r.tiled->rows);
        stored_rows_trim(r.tiled->rows, bytes - besides);
    }
    return working_set_bytes(r);
}

// The least recently used bands first; then the tiles; then the window.
int64_t trim(BudgetEntry *entry, int64_t bytes) {
    ChartReader &r = reader_of(entry);
    if (shed(entry, bytes) > bytes && r.tiled != nullptr) release_tiles(r);
    if (working_set_bytes(r) > bytes) stream_drop_window(r.image.stream);
    return working_set_bytes(r);
}

}  // namespace

void working_set_join(ChartReader &reader) { budget_join(&reader.budget, {shed, release, trim}); }

int64_t working_set_bytes(const ChartReader &reader) {
    return stream_window_bytes(reader.image.stream) + (reader.tiled != nullptr ? tiled_image_bytes(*reader.tiled) : 0);
}

void working_set_begin(ChartReader &reader) {
    budget_begin(&reader.budget);
    // Within a row, no chart's bands may pass the whole budget.
    if (reader.tiled != nullptr) reader.tiled->rows.limit = budget_bytes();
}

void working_set_end(ChartReader &reader) { budget_end(&reader.budget, working_set_bytes(reader)); }
