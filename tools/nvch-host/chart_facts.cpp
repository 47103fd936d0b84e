#include "chart_facts.h"

#include <cmath>
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

// The "DTM" record's shift, seconds of arc of latitude and longitude, in
// degrees: the outline is in the chart's datum, as its reference points
// are, and goes where they go once shifted.
LatLon datum_shift(const NvchExports &nvch, const ChartFile *file) {
    LatLon shift;
    const auto dtm = text_of([&](char *t, int32_t size) { return nvch.get_record(file, "DTM", 0, t, size); });
    if (!dtm) return shift;
    const char *p = dtm->c_str() + dtm->find('/') + 1;
    char *end = nullptr;
    while (*p == ',') ++p;
    shift.lat = std::strtod(p, &end) / 3600;
    if (end == p) return LatLon{};
    p = end;
    while (*p == ',') ++p;
    shift.lon = std::strtod(p, &end) / 3600;
    if (end == p) shift.lon = 0;
    if (!std::isfinite(shift.lat)) shift.lat = 0;
    if (!std::isfinite(shift.lon)) shift.lon = 0;
    return shift;
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
    const LatLon shift = datum_shift(nvch, file);
    for (LatLon &p : f.outline) {
        p.lat -= shift.lat;
        p.lon -= shift.lon;
    }
    return f;
}

std::vector<std::pair<double, double>> outline_in_pixels(const NvchExports &nvch, const ChartFile *file,
                                                         const ChartFacts &facts) {
    std::vector<double> lat, lon;
    for (const LatLon &p : facts.outline) {
        lat.push_back(p.lat);
        lon.push_back(p.lon);
    }
    std::vector<double> x(lat.size()), y(lat.size());
    std::vector<std::pair<double, double>> points;
    if (lat.size() < 3 ||
        nvch.latlon_to_pixel(file, static_cast<int32_t>(lat.size()), lat.data(), lon.data(), x.data(), y.data()) != 0)
        return points;
    for (size_t k = 0; k < x.size(); ++k)
        if (std::isfinite(x[k]) && std::isfinite(y[k])) points.push_back({x[k], y[k]});
    if (points.size() < 3) points.clear();
    return points;
}

std::optional<std::vector<Colour>> palette_named(const NvchExports &nvch, const ChartFile *file,
                                                 const std::string &name) {
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    const int32_t count = nvch.get_palette(file, name.c_str(), red, green, blue, 256);
    if (count < 0) return std::nullopt;
    // All 256 entries: the palette's own may stand anywhere in the chart's
    // range, whatever its count; the rest are 0.
    std::vector<Colour> colours;
    for (int32_t i = 0; i < 256; ++i) colours.push_back({red[i], green[i], blue[i]});
    return colours;
}

void add_header_facts(JsonObject &j, const ChartFacts &f) {
    j.text_or_null("name", f.name);
    j.text_or_null("number", f.number);
    j.number_or_null("scale", f.scale ? std::optional<double>(std::strtod(f.scale->c_str(), nullptr)) : std::nullopt);
    j.text_or_null("edition", f.edition);
    j.text_or_null("notice", f.notice);
    j.text_or_null("datum", f.datum);
    j.text_or_null("projection", f.projection);
    j.text_or_null("units", f.units);
    j.text_or_null("sounding_datum", f.sounding_datum);
}
