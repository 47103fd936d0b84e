// The reader functions that hand out what a chart's header says: its
// records, their fields and its palettes, written into the caller's
// buffers; and the kernels the library runs.
#include "chart/reader_texts.h"

#include <algorithm>
#include <cstring>

#include "bsb.h"
#include "chart/chart_reader.h"
#include "chart/image_params.h"
#include "raster/kernels.h"

namespace {

// Entries of the palette of the deepest chart (7 bits a pixel).
constexpr int32_t kLargestPalette = (1 << 7) + 1;

bool is_record_of(const char *line, const char *name) { return std::strncmp(line, name, 3) == 0; }

// The header of an open chart and a name of three letters, or null.
const HeaderLines *header_of(const ChartFile *chart, const char *name) {
    if (chart == nullptr || chart->reader == nullptr || name == nullptr || std::strlen(name) != 3) return nullptr;
    return &chart->reader->header;
}

// A record or value as it is handed out: without the line end of the
// record it came from.
int32_t copy_without_line_end(const char *text, char *out, int32_t size) {
    const std::size_t length = std::strlen(text);
    return copy_text_out(std::string_view(text, length - line_end_length(text, length)), out, size);
}

}  // namespace

int32_t copy_text_out(std::string_view text, char *out, int32_t size) {
    if (out == nullptr || size < 1 || text.size() > static_cast<std::size_t>(INT32_MAX)) return -1;
    const std::size_t n = text.size() < static_cast<std::size_t>(size) ? text.size() : static_cast<std::size_t>(size) - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<int32_t>(text.size());
}

extern "C" int32_t BSB_get_kernels(char *text, int32_t size) { return copy_text_out(kernels_in_use(), text, size); }

extern "C" int32_t BSB_get_record(const ChartFile *chart, const char *name, int32_t n, char *text, int32_t size) {
    const HeaderLines *h = header_of(chart, name);
    if (h == nullptr || n < 0 || text == nullptr || size < 1) return -1;
    for (int32_t i = 0, seen = 0; i < h->count; ++i)
        if (is_record_of(h->lines[i], name) && seen++ == n) return copy_without_line_end(h->lines[i], text, size);
    return -1;
}

extern "C" int32_t BSB_get_field(const ChartFile *chart, const char *name, const char *key, char *text,
                                 int32_t size) {
    const HeaderLines *h = header_of(chart, name);
    if (h == nullptr || key == nullptr || text == nullptr || size < 1) return -1;
    const char *record = kap_find_record(*h, name);
    FieldText value = record != nullptr ? kap_get_field(record, key, 1) : nullptr;
    if (!value) return -1;
    return copy_without_line_end(value.get(), text, size);
}

extern "C" int32_t BSB_get_palette(const ChartFile *chart, const char *name, uint8_t *red, uint8_t *green,
                                   uint8_t *blue, int32_t size) {
    const HeaderLines *h = header_of(chart, name);
    if (h == nullptr || size < 0 || (size > 0 && (red == nullptr || green == nullptr || blue == nullptr))) return -1;
    const int32_t entries = palette_length(chart->reader->image.depth);
    const int32_t written = std::min(size, entries);
    if (std::strcmp(name, "RGB") == 0) {
        // Exactly the chart's own, as the host interface reports it.
        std::copy_n(chart->palette_red, written, red);
        std::copy_n(chart->palette_green, written, green);
        std::copy_n(chart->palette_blue, written, blue);
        return chart->color_count;
    }
    uint8_t r[kLargestPalette] = {}, g[kLargestPalette] = {}, b[kLargestPalette] = {};
    const int32_t records = palette_from_records(*h, name, {r, g, b, entries});
    if (records == 0) return -1;
    std::copy_n(r, written, red);
    std::copy_n(g, written, green);
    std::copy_n(b, written, blue);
    return records + 1;
}
