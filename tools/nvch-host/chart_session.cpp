#include "chart_session.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Process-heap texts and lists handed over by the library.
std::string take_text(char *text) {
    std::string copy = text ? text : "";
    host_free(text);
    return copy;
}

std::vector<std::string> take_list(char **list, int32_t count) {
    std::vector<std::string> items;
    if (list == nullptr) return items;
    for (int32_t i = 0; i < count; ++i) items.push_back(take_text(list[i]));
    host_free(list);
    return items;
}

}  // namespace

ChartSession::~ChartSession() {
    if (layer_) nvch_.LayerClose(layer_);
    if (file_) nvch_.FileClose(file_);
}

std::vector<std::string> ChartSession::layer_names() {
    int32_t count = 0;
    char **names = nullptr;
    if (nvch_.FileLayerNamesGet(file_, &count, &names) != 0) return take_list(names, 0);
    return take_list(names, count);
}

bool ChartSession::open_layer(const std::string &name) {
    int32_t zero1 = 0, zero2 = 0;
    return nvch_.LayerOpen(file_, name.c_str(), &zero1, &width_, &height_, &zero2, &block_width_, &block_height_,
                           &layer_) == 0;
}

bool ChartSession::read_row(uint32_t row, uint8_t *pixels) {
    void *block = pixels;
    return nvch_.LayerRasterRead(layer_, row, 0, &block) == 0;
}

std::optional<MapInfo> ChartSession::map_info() {
    MapInfo m;
    char *name = nullptr, *units = nullptr;
    if (nvch_.LayerMapInfoRead(layer_, &name, &m.upper_left_x, &m.upper_left_y, &m.pixel_width, &m.pixel_height,
                               &units) != 0)
        return std::nullopt;
    take_text(name);
    m.units = take_text(units);
    return m;
}

std::vector<Colour> ChartSession::colours(int32_t *mod_time) {
    *mod_time = -1;
    nvch_.LayerColorModTimeGet(layer_, nullptr, mod_time);
    // The file handle is the chart's ChartFile record, whose colour count
    // tells how many entries the table has (pixel values are below 256).
    const int32_t count = std::min(std::max(file_->color_count, 0), 256);
    std::vector<double> red(count), green(count), blue(count);
    if (nvch_.LayerColorRead(layer_, "Red", 0, count, red.data()) != 0 ||
        nvch_.LayerColorRead(layer_, "Green", 0, count, green.data()) != 0 ||
        nvch_.LayerColorRead(layer_, "Blue", 0, count, blue.data()) != 0)
        return {};
    std::vector<Colour> table;
    auto byte = [](double v) { return static_cast<int>(std::lround(v * 255.0)); };
    for (int32_t i = 0; i < count; ++i) table.push_back({byte(red[i]), byte(green[i]), byte(blue[i])});
    return table;
}

std::optional<std::string> ChartSession::coordinate_system() {
    char *short_name = nullptr, *descriptor = nullptr, *type_name = nullptr;
    void *block = nullptr;
    int32_t size = 0, z1, z2, z3, z4;
    const int32_t result = nvch_.LayerMapProjectionRead(layer_, &short_name, &block, &size, &descriptor, &type_name,
                                                        &z1, &z2, &z3, &z4);
    take_text(short_name);
    take_text(descriptor);
    take_text(type_name);
    std::optional<std::string> text;
    if (result == 0 && block != nullptr) {
        // The block: a 32-bit length, the text's address, then the text.
        struct Record {
            uint32_t length;
            const char *text;
        } record;
        std::memcpy(&record, block, sizeof record);
        text = std::string(record.text, record.length);
    }
    host_free(block);
    return text;
}
