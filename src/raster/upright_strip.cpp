#include "raster/upright_strip.h"

#include <algorithm>
#include <cstring>

#include "platform/heap.h"

namespace {

constexpr int32_t kStripRows = 8;
constexpr int32_t kTileColumns = 256;
// Wider charts sample row by row instead of holding a strip.
constexpr int64_t kLargestStrip = INT64_C(64) << 20;

// The constants of one output row: stored position of output pixel i is
// (trunc((a0 + i) c - b s), trunc(b c + (a0 + i) s)).
struct RowGeometry {
    double s, c, bs, bc;
    int64_t a0;
    int64_t width, height;   // the stored image

    int64_t x(int64_t i) const { return static_cast<int64_t>(static_cast<double>(a0 + i) * c - bs); }
    int64_t y(int64_t i) const { return static_cast<int64_t>(bc + static_cast<double>(a0 + i) * s); }
};

RowGeometry geometry_of(const ChartReader *r, int32_t row) {
    RowGeometry g{};
    g.s = r->skew_sin;
    g.c = r->skew_cos;
    const double b = static_cast<double>(static_cast<int64_t>(r->skew_min_y) + row);
    g.bs = b * g.s;
    g.bc = b * g.c;
    g.a0 = r->skew_min_x;
    g.width = r->source_width;
    g.height = r->source_height;
    return g;
}

struct Span {
    int32_t begin;
    int32_t end;
};

// Narrows `span` to where `holds` is true. `holds` changes at most once
// along the row, so its two ends tell which side is true and a binary
// search finds the change.
template <typename Predicate>
void narrow(Span &span, int32_t width, Predicate holds) {
    const bool first = holds(0), last = holds(width - 1);
    if (first && last) return;
    if (!first && !last) {
        span = {0, 0};
        return;
    }
    int32_t lo = 0, hi = width - 1;   // holds(lo) == first, holds(hi) == last
    while (hi - lo > 1) {
        const int32_t mid = lo + (hi - lo) / 2;
        (holds(mid) == first ? lo : hi) = mid;
    }
    if (first)
        span.end = std::min(span.end, hi);
    else
        span.begin = std::max(span.begin, hi);
}

// The output pixels whose stored position lies inside the stored image.
Span inside_span(const RowGeometry &g, int32_t width) {
    Span span{0, width};
    if (width <= 0) return {0, 0};
    narrow(span, width, [&](int64_t i) { return g.x(i) >= 0; });
    narrow(span, width, [&](int64_t i) { return g.x(i) < g.width; });
    narrow(span, width, [&](int64_t i) { return g.y(i) >= 0; });
    narrow(span, width, [&](int64_t i) { return g.y(i) < g.height; });
    if (span.end < span.begin) span.end = span.begin;
    return span;
}

// Pixels [from, to) of a row, all inside the stored image.
void sample_inside(uint8_t *out, int32_t from, int32_t to, const RowGeometry &g, uint8_t *const *cache) {
    for (int32_t i = from; i < to; ++i) out[i] = cache[g.y(i)][g.x(i)];
}

void clear_outside(uint8_t *out, Span span, int32_t width) {
    std::memset(out, 0, static_cast<std::size_t>(span.begin));
    std::memset(out + span.end, 0, static_cast<std::size_t>(width - span.end));
}

void sample_row(uint8_t *out, int32_t row, const ChartFile *chart, uint8_t *const *cache) {
    const RowGeometry g = geometry_of(chart->reader, row);
    const Span span = inside_span(g, chart->width);
    clear_outside(out, span, chart->width);
    sample_inside(out, span.begin, span.end, g, cache);
}

// Makes output rows first .. first + count - 1 into the strip, tile by tile.
void fill_strip(uint8_t *strip, int32_t first, int32_t count, const ChartFile *chart, uint8_t *const *cache) {
    const int32_t width = chart->width;
    RowGeometry rows[kStripRows];
    Span spans[kStripRows];
    int32_t lo = width, hi = 0;
    for (int32_t k = 0; k < count; ++k) {
        rows[k] = geometry_of(chart->reader, first + k);
        spans[k] = inside_span(rows[k], width);
        clear_outside(strip + static_cast<std::size_t>(k) * width, spans[k], width);
        if (spans[k].begin < spans[k].end) {
            lo = std::min(lo, spans[k].begin);
            hi = std::max(hi, spans[k].end);
        }
    }
    for (int32_t tile = lo; tile < hi; tile += kTileColumns) {
        const int32_t tile_end = tile + std::min(kTileColumns, hi - tile);
        for (int32_t k = 0; k < count; ++k) {
            const int32_t from = std::max(tile, spans[k].begin), to = std::min(tile_end, spans[k].end);
            sample_inside(strip + static_cast<std::size_t>(k) * width, from, to, rows[k], cache);
        }
    }
}

// The strip, allocated at the first request; null when it cannot be had.
uint8_t *strip_of(ChartFile *chart) {
    ChartReader *r = chart->reader;
    if (r->strip_pixels != nullptr) return r->strip_pixels;
    const int64_t bytes = static_cast<int64_t>(chart->width) * kStripRows;
    if (bytes > kLargestStrip) return nullptr;
    r->strip_pixels = static_cast<uint8_t *>(lib_malloc(static_cast<std::size_t>(bytes)));
    r->strip_first_row = -1;
    return r->strip_pixels;
}

}  // namespace

void upright_row_from_cache(uint8_t *buffer, int32_t row, ChartFile *chart, uint8_t *const *cache) {
    uint8_t *strip = strip_of(chart);
    if (strip == nullptr) {
        sample_row(buffer, row, chart, cache);
        return;
    }
    ChartReader *r = chart->reader;
    const int32_t first = row - row % kStripRows;
    if (r->strip_first_row != first) {
        fill_strip(strip, first, std::min(kStripRows, chart->height - first), chart, cache);
        r->strip_first_row = first;
    }
    const std::size_t width = static_cast<std::size_t>(chart->width);
    std::memcpy(buffer, strip + static_cast<std::size_t>(row - first) * width, width);
}
