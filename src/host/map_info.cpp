// Where the layer lies on the map, and its colour table.
#include <cstring>

#include "common/header_records.h"
#include "chart/image_params.h"
#include "host/handles.h"
#include "host/layer_handle.h"
#include "nvch.h"
#include "host/text_copy.h"

namespace {

constexpr double kByteToUnit = 0.00392156862745098;   // 1 / 255

struct UnitsRow {
    const char *prefix;
    const char *units;
};

// Compared over each prefix's length, in order; the first match wins.
constexpr UnitsRow kUnits[] = {
    {"U.S. Feet", "feet"},     {"International Feet", "international_feet"},
    {"Meters", "meters"},      {"Degrees of arc", "dd"},
    {"Seconds of arc", "ds"},  {"Radians", "radians"},
};

const char *units_for(const char *value) {
    for (const UnitsRow &row : kUnits)
        if (std::strncmp(value, row.prefix, std::strlen(row.prefix)) == 0) return row.units;
    return "other";
}

// The units value of an "ARC" record: its "UN" field, or else a " UN"
// field, which the lookup hands back with its '=' in front and, as the
// record's last field, its line end behind.
FieldText arc_units_value(const char *arc) {
    if (FieldText value = kap_get_field(arc, "UN", 1)) return value;
    FieldText spaced = kap_get_field(arc, " UN", 1);
    if (!spaced) return nullptr;
    FieldText trimmed = record_without_line_end(spaced.get());
    if (!trimmed || trimmed.get()[0] == '\0') return trimmed;
    char *text = trimmed.get();
    std::memmove(text, text + 1, std::strlen(text));   // drop the '='
    return trimmed;
}

const char *units_of(const ChartFile *chart) {
    const HeaderLines &h = chart->reader->header;
    const char *arc = kap_find_record(h, "ARC");
    if (arc == nullptr) return "meter";
    FieldText value = arc_units_value(arc);
    return value ? units_for(value.get()) : "other";
}

const uint8_t *component_array(const ChartFile *chart, const char *component) {
    if (component == nullptr) return nullptr;
    if (std::strcmp(component, "Red") == 0) return chart->palette_red;
    if (std::strcmp(component, "Green") == 0) return chart->palette_green;
    if (std::strcmp(component, "Blue") == 0) return chart->palette_blue;
    return nullptr;
}

// Entries that exist in the palette arrays; color_count counts records and
// may say more.
int32_t palette_entries(const ChartFile *chart) {
    return chart->reader != nullptr ? palette_length(chart->reader->image.depth) : 0;
}

}  // namespace

extern "C" {

int32_t nvchLayerMapInfoRead(LayerHandle *layer, char **name, double *upper_left_x, double *upper_left_y,
                             double *pixel_width, double *pixel_height, char **units) {
    if (!handle_is_open_layer(layer) || layer->chart->reader == nullptr) return -1;
    const ChartFile *chart = layer->chart;
    if (name) *name = host_strdup("");
    if (upper_left_x) *upper_left_x = chart->upper_left_x;
    if (upper_left_y) *upper_left_y = chart->upper_left_y;
    if (pixel_width) *pixel_width = chart->pixel_size_x;
    if (pixel_height) *pixel_height = -chart->pixel_size_y;
    if (units) *units = host_strdup(units_of(chart));
    return 0;
}

int32_t nvchLayerColorRead(LayerHandle *layer, const char *component, int32_t first, int32_t end,
                           double *values) {
    if (!handle_is_open_layer(layer) || values == nullptr) return -1;
    const ChartFile *chart = layer->chart;
    if (chart->color_count <= 0) return -1;
    const uint8_t *palette = component_array(chart, component);
    if (palette == nullptr) return -1;
    const int32_t available = palette_entries(chart);
    const int32_t shown = chart->color_count < end ? chart->color_count : end;
    // Positions before 0, and before the first asked for, are not the
    // host's to write.
    const int32_t from = first > 0 ? first : 0;
    for (int32_t i = from; i < shown; ++i) values[i] = i < available ? palette[i] * kByteToUnit : 0.0;
    // Entries past the chart's colours read as black.
    for (int32_t i = chart->color_count > from ? chart->color_count : from; i < end; ++i) values[i] = 0.0;
    return 0;
}

int32_t nvchLayerColorModTimeGet(LayerHandle *layer, void *, int32_t *mod_time) {
    if (mod_time == nullptr) return 0;
    *mod_time = handle_is_open_layer(layer) && layer->chart->color_count > 0 ? 0 : -1;
    return 0;
}

}  // extern "C"
