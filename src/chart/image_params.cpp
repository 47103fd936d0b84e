#include "chart/image_params.h"

#include <cstdio>
#include <cstring>

#include "common/header_records.h"

namespace {

// Rows a chart may claim beyond twice what its index table addresses.
constexpr int64_t kIndexSlack = 1024;

// The text of a record after its name and slash ("IFM/4" gives "4").
const char *record_value(const char *record) {
    return std::strlen(record) >= 4 ? record + 4 : record + std::strlen(record);
}

// The byte just before the index table, or -1 when there is none.
int32_t depth_byte_before_index(ChartReader *reader) {
    const int64_t at = static_cast<int64_t>(reader->image.index_offset) - 1;
    if (at < 0 || !stream_seek(reader->image.stream, at)) return -1;
    return stream_getc(reader->image.stream);
}

// Stores one palette record: index, red, green, blue. Records with fewer
// than four numbers, or an index outside the arrays, store nothing.
void store_palette_entry(const PaletteArrays &p, const char *record, const char *palette) {
    FieldText copy(text_copy(record, 399));
    if (!copy) return;
    char *cursor = copy.get();
    const char *name = next_token(&cursor, "/");
    if (name == nullptr || std::strncmp(name, palette, 3) != 0) return;
    int32_t numbers[4];
    for (int32_t &n : numbers) {
        const char *token = next_token(&cursor, ",");
        if (token == nullptr) return;
        n = text_to_int(token);
    }
    const int32_t index = numbers[0];
    if (index < 0 || index >= p.entries) return;
    p.red[index] = static_cast<uint8_t>(numbers[1] & 0xFF);
    p.green[index] = static_cast<uint8_t>(numbers[2] & 0xFF);
    p.blue[index] = static_cast<uint8_t>(numbers[3] & 0xFF);
}

bool is_palette_record(const char *record, const char *palette) {
    // The name is the text before the first slash (leading slashes skipped).
    // Since a palette's name holds no slash, comparing the unsplit text is
    // the same.
    return std::strncmp(record + std::strspn(record, "/"), palette, 3) == 0;
}

}  // namespace

uint8_t value_mask_for_depth(int32_t depth) {
    static constexpr uint8_t kBits[7] = {0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
    uint8_t mask = 0;
    for (int32_t i = 0; i < depth && i < 7; ++i) mask |= kBits[i];
    return mask;
}

int32_t palette_length(int32_t depth) {
    return depth >= 1 && depth <= 7 ? (1 << depth) + 1 : 0;
}

int32_t kap_read_depth(ChartReader *reader) {
    const HeaderLines &h = reader->header;
    const char *ifm = kap_find_record(h, "IFM");
    const int32_t depth = ifm != nullptr ? text_to_int(record_value(ifm)) : depth_byte_before_index(reader);
    reader->image.depth = depth;
    if (depth >= 1 && depth <= 7) {
        reader->image.value_mask = value_mask_for_depth(depth);
        return 0;
    }
    std::fputs("failed to get color mode\n", stderr);
    return -1;
}

int32_t kap_read_size(ChartFile *chart) {
    const HeaderLines &h = chart->reader->header;
    const char *bsb = kap_find_record(h, "BSB");
    if (bsb == nullptr) {
        std::fputs("couldn't find BSB line\n", stderr);
        return -1;
    }
    FieldText ra = kap_get_field(bsb, "RA", 2);
    if (!ra) {
        std::fputs("failed to find code RA\n", stderr);
        return -1;
    }
    char *cursor = ra.get();
    const char *width = next_token(&cursor, ",");
    const char *height = next_token(&cursor, ",");
    StoredImage &image = chart->reader->image;
    image.width = chart->width = width != nullptr ? text_to_int(width) : 0;
    image.height = chart->height = height != nullptr ? text_to_int(height) : 0;
    return chart->width > 0 && chart->height > 0 ? 0 : -1;
}

int32_t kap_check_size(const ChartFile *chart) {
    if (chart->width > kLargestChartSide || chart->height > kLargestChartSide) {
        std::fprintf(stderr, "Chart of %d x %d pixels is larger than this reader serves (%d pixels a side)\n",
                     static_cast<int>(chart->width), static_cast<int>(chart->height),
                     static_cast<int>(kLargestChartSide));
        return -1;
    }
    // A damaged table may fall short by a few rows; a header that claims
    // many times what the table reaches is not this file's.
    const StoredImage &image = chart->reader->image;
    const int64_t size = stored_size(image);
    const int64_t entries = image.index_offset >= 0 && image.index_offset < size ? (size - image.index_offset) / 4 : 0;
    const int64_t addressable = entries * image.rows_per_entry;
    if (chart->height > 2 * addressable + kIndexSlack) {
        std::fprintf(stderr, "Chart claims %d rows but its index table addresses only %lld\n",
                     static_cast<int>(chart->height), static_cast<long long>(addressable));
        return -1;
    }
    return 0;
}

int32_t kap_read_palette(ChartFile *chart) {
    const ChartReader *reader = chart->reader;
    const int32_t entries = palette_length(reader->image.depth);
    auto *red = static_cast<uint8_t *>(lib_calloc(static_cast<std::size_t>(entries), 1));
    auto *green = static_cast<uint8_t *>(lib_calloc(static_cast<std::size_t>(entries), 1));
    auto *blue = static_cast<uint8_t *>(lib_calloc(static_cast<std::size_t>(entries), 1));
    if (red == nullptr || green == nullptr || blue == nullptr) {
        lib_free(red);
        lib_free(green);
        lib_free(blue);
        return -1;
    }
    red[0] = green[0] = blue[0] = 255;
    chart->palette_red = red;
    chart->palette_green = green;
    chart->palette_blue = blue;
    chart->color_count = palette_from_records(reader->header, "RGB", {red, green, blue, entries}) + 1;
    return 0;
}

int32_t palette_from_records(const HeaderLines &h, const char *name, const PaletteArrays &arrays) {
    if (name == nullptr || std::strlen(name) != 3 || std::strchr(name, '/') != nullptr) return 0;
    int32_t tally = 0;
    for (int32_t i = 0; i < h.count; ++i) {
        if (!is_palette_record(h.lines[i], name)) continue;
        store_palette_entry(arrays, h.lines[i], name);
        ++tally;
    }
    return tally;
}
