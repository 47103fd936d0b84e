#include "georeference.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

// GeoTIFF keys and codes (GeoTIFF 1.0 and 1.1).
enum : uint16_t {
    kModelType = 1024,
    kRasterType = 1025,
    kCitation = 1026,
    kGeographicType = 2048,
    kProjectedCsType = 3072,
    kPcsCitation = 3073,
    kProjection = 3074,
    kCoordTransform = 3075,
    kLinearUnits = 3076,
    kStdParallel1 = 3078,
    kStdParallel2 = 3079,
    kNatOriginLong = 3080,
    kNatOriginLat = 3081,
    kFalseEasting = 3082,
    kFalseNorthing = 3083,
    kFalseOriginLong = 3084,
    kFalseOriginLat = 3085,
    kFalseOriginEasting = 3086,
    kFalseOriginNorthing = 3087,
    kScaleAtNatOrigin = 3092,
};
constexpr uint16_t kModelProjected = 1, kPixelIsArea = 1, kWgs84 = 4326, kUserDefined = 32767, kMetre = 9001;
constexpr uint16_t kTransverseMercator = 1, kMercator = 7, kLambert2Sp = 8, kPolyconic = 22;

// The parts of the library's well-known text the keys need.
struct Wkt {
    std::string name;                          // PROJCS["name"
    std::string projection;                    // PROJECTION["name"]
    std::map<std::string, double> parameters;  // PARAMETER["name",value]
};

std::string quoted_after(const std::string &text, size_t at) {
    const size_t open = text.find('"', at);
    const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    return close == std::string::npos ? "" : text.substr(open + 1, close - open - 1);
}

Wkt parse_wkt(const std::string &text) {
    Wkt w;
    if (text.rfind("PROJCS[", 0) == 0) w.name = quoted_after(text, 0);
    const size_t projection = text.find("PROJECTION[");
    if (projection != std::string::npos) w.projection = quoted_after(text, projection);
    for (size_t at = text.find("PARAMETER["); at != std::string::npos; at = text.find("PARAMETER[", at + 1)) {
        const std::string name = quoted_after(text, at);
        const size_t comma = text.find(',', at);
        if (comma == std::string::npos) break;
        w.parameters[name] = std::strtod(text.c_str() + comma + 1, nullptr);
    }
    return w;
}

double parameter(const Wkt &w, const char *name) {
    const auto found = w.parameters.find(name);
    return found == w.parameters.end() ? 0.0 : found->second;
}

// "zone 18" for a central meridian on a UTM zone's, else empty.
std::string utm_zone(double central_meridian) {
    const double zone = (central_meridian + 183.0) / 6.0;
    if (zone < 1 || zone > 60 || std::fabs(zone - std::round(zone)) > 1e-9) return "";
    return "zone " + std::to_string(static_cast<int>(std::lround(zone)));
}

}  // namespace

GeoKeys geotiff_keys(const MapInfo &map, const std::optional<std::string> &wkt, bool *known) {
    GeoKeys g;
    g.scale_x = std::fabs(map.pixel_width);
    g.scale_y = std::fabs(map.pixel_height);
    g.origin_x = map.upper_left_x;
    g.origin_y = map.upper_left_y;
    *known = false;
    if (!wkt) return g;
    const Wkt w = parse_wkt(*wkt);
    const double cm = parameter(w, "Central_Meridian");
    std::vector<std::pair<uint16_t, double>> parameters;
    uint16_t transform = 0;
    std::string citation = w.name;
    if (w.projection == "Mercator") {
        transform = kMercator;
        parameters = {{kNatOriginLong, cm}, {kStdParallel1, parameter(w, "Standard_Parallel_1")}};
    } else if (w.projection == "Transverse_Mercator") {
        transform = kTransverseMercator;
        parameters = {{kNatOriginLong, cm},
                      {kNatOriginLat, parameter(w, "Latitude_Of_Origin")},
                      {kScaleAtNatOrigin, parameter(w, "Scale_Factor")}};
        // The library's UTM keeps the zone's central meridian and scale but
        // no false easting: an EPSG UTM code would move the chart 500 km.
        if (w.name.size() > 4 && w.name.compare(w.name.size() - 4, 4, "_UTM") == 0) {
            const std::string zone = utm_zone(cm);
            citation += zone.empty() ? " (no false easting)" : " " + zone + " (no false easting)";
        }
    } else if (w.projection == "Polyconic") {
        transform = kPolyconic;
        parameters = {{kNatOriginLong, cm}, {kNatOriginLat, parameter(w, "Latitude_Of_Origin")}};
    } else if (w.projection == "Lambert_Conformal_Conic") {
        transform = kLambert2Sp;
        parameters = {{kStdParallel1, parameter(w, "Standard_Parallel_1")},
                      {kStdParallel2, parameter(w, "Standard_Parallel_2")},
                      {kFalseOriginLong, cm},
                      {kFalseOriginLat, parameter(w, "Latitude_Of_Origin")},
                      {kFalseOriginEasting, parameter(w, "False_Easting")},
                      {kFalseOriginNorthing, parameter(w, "False_Northing")}};
    } else {
        return g;
    }
    if (transform != kLambert2Sp) {
        parameters.push_back({kFalseEasting, parameter(w, "False_Easting")});
        parameters.push_back({kFalseNorthing, parameter(w, "False_Northing")});
    }
    g.shorts = {{kModelType, kModelProjected}, {kRasterType, kPixelIsArea}, {kGeographicType, kWgs84},
                {kProjectedCsType, kUserDefined}, {kProjection, kUserDefined}, {kCoordTransform, transform},
                {kLinearUnits, kMetre}};
    g.doubles = parameters;
    g.texts = {{kCitation, citation}, {kPcsCitation, citation}};
    *known = true;
    return g;
}

std::string world_file_text(const MapInfo &map) {
    char text[256];
    std::snprintf(text, sizeof text, "%.10f\n0.0000000000\n0.0000000000\n%.10f\n%.10f\n%.10f\n", map.pixel_width,
                  map.pixel_height, map.upper_left_x + map.pixel_width / 2, map.upper_left_y + map.pixel_height / 2);
    return text;
}

bool write_world_files(const std::string &png, const MapInfo &map, const std::optional<std::string> &wkt,
                       std::string *error) {
    std::filesystem::path base = png;
    auto write = [&](const std::string &extension, const std::string &text) {
        std::filesystem::path path = base;
        path.replace_extension(extension);
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << text;
        if (!f) *error = path.string() + " cannot be written";
        return static_cast<bool>(f);
    };
    if (!write(".pgw", world_file_text(map))) return false;
    return !wkt || write(".prj", *wkt);
}
