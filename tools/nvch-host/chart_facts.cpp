#include "chart_facts.h"

#include <cstdlib>

const char *const kPaletteNames[8] = {"RGB", "DAY", "DSK", "NGT", "NGR", "GRY", "PRC", "PRG"};

namespace {

// A text the library writes into a buffer, however long it is.
template <typename Read>
std::optional<std::string> text_of(Read read) {
    std::string text(256, '\0');
    int32_t length = read(text.data(), static_cast<int32_t>(text.size()));
    if (length < 0) return std::nullopt;
    if (static_cast<size_t>(length) >= text.size()) {
        text.resize(static_cast<size_t>(length) + 1);
        length = read(text.data(), static_cast<int32_t>(text.size()));
        if (length < 0) return std::nullopt;
    }
    text.resize(static_cast<size_t>(length));
    return text;
}

std::optional<std::string> field(const NvchExports &nvch, const ChartFile *file, const char *record, const char *key) {
    auto value = text_of([&](char *t, int32_t n) { return nvch.get_field(file, record, key, t, n); });
    if (value && value->empty()) return std::nullopt;
    return value;
}

// "PLY/n,lat,lon" records, in order.
std::vector<LatLon> outline_of(const NvchExports &nvch, const ChartFile *file) {
    std::vector<LatLon> points;
    for (int32_t n = 0;; ++n) {
        const auto record = text_of([&](char *t, int32_t size) { return nvch.get_record(file, "PLY", n, t, size); });
        if (!record) break;
        const char *p = record->c_str() + record->find('/') + 1;
        char *end = nullptr;
        std::strtol(p, &end, 10);   // the point's number
        if (*end != ',') continue;
        LatLon point;
        point.lat = std::strtod(end + 1, &end);
        if (*end != ',') continue;
        point.lon = std::strtod(end + 1, &end);
        points.push_back(point);
    }
    return points;
}

}  // namespace

ChartFacts read_chart_facts(const NvchExports &nvch, const ChartFile *file, int32_t width, int32_t height) {
    ChartFacts f;
    f.name = field(nvch, file, "BSB", "NA");
    f.number = field(nvch, file, "BSB", "NU");
    f.scale = field(nvch, file, "KNP", "SC");
    f.edition = field(nvch, file, "CED", "ED");
    f.notice = field(nvch, file, "NTM", "ND");
    f.datum = field(nvch, file, "KNP", "GD");
    f.projection = field(nvch, file, "KNP", "PR");
    f.units = field(nvch, file, "KNP", "UN");
    f.sounding_datum = field(nvch, file, "KNP", "SD");
    f.skew = field(nvch, file, "KNP", "SK");
    for (const char *palette : kPaletteNames)
        if (nvch.get_palette(file, palette, nullptr, nullptr, nullptr, 0) >= 0) f.palettes.emplace_back(palette);
    const double x[4] = {0, static_cast<double>(width), static_cast<double>(width), 0};
    const double y[4] = {0, 0, static_cast<double>(height), static_cast<double>(height)};
    std::array<LatLon, 4> corners;
    double lat[4], lon[4];
    if (nvch.pixel_to_latlon(file, 4, x, y, lat, lon) == 0) {
        for (int k = 0; k < 4; ++k) corners[k] = {lat[k], lon[k]};
        f.corners = corners;
    }
    f.outline = outline_of(nvch, file);
    return f;
}
