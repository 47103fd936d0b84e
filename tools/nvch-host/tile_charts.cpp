#include "tile_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "chart_facts.h"
#include "web_mercator.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadians = kPi / 180.0;
// Points taken along each edge of the image for its extent: its edges are
// curves on the earth.
constexpr int kEdgePoints = 32;

// The ground size of a pixel at the image's centre, in metres: the square
// root of the area the pixel covers there.
double centre_pixel_metres(const NvchExports &nvch, const ChartFile *file, int32_t width, int32_t height,
                           double *lat_centre) {
    const double cx = width / 2.0, cy = height / 2.0;
    const double x[3] = {cx, cx + 1, cx}, y[3] = {cy, cy, cy + 1};
    double lat[3], lon[3];
    if (nvch.pixel_to_latlon(file, 3, x, y, lat, lon) != 0) return NAN;
    const auto east = [&](int k) {
        double d = lon[k] - lon[0];
        d -= 360.0 * std::round(d / 360.0);
        return d * kRadians * kWebMercatorRadius * std::cos(lat[0] * kRadians);
    };
    const auto north = [&](int k) { return (lat[k] - lat[0]) * kRadians * kWebMercatorRadius; };
    *lat_centre = lat[0];
    return std::sqrt(std::fabs(east(1) * north(2) - north(1) * east(2)));
}

// Longitudes unwrapped along a path: each within 180 degrees of the one
// before.
void unwrap(std::vector<double> &lons) {
    for (size_t k = 1; k < lons.size(); ++k) lons[k] -= 360.0 * std::round((lons[k] - lons[k - 1]) / 360.0);
}

}  // namespace

int native_zoom_of(double metres, double lat) {
    const double level = std::log2(web_mercator_pixel_metres(0, lat) / metres);
    return std::clamp(static_cast<int>(std::lround(level)), 0, kHighestZoom);
}

int64_t edition_date(const std::string &text) {
    int month = 0, day = 0, year = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%d/%d/%d%c", &month, &day, &year, &end) != 3) return 0;
    if (year < 100) year += year < 50 ? 2000 : 1900;
    return int64_t{year} * 10000 + month * 100 + day;
}

bool drawn_over(const TileChart &a, const TileChart &b) {
    const double sa = a.scale > 0 ? a.scale : HUGE_VAL, sb = b.scale > 0 ? b.scale : HUGE_VAL;
    return std::tie(sa, b.edition, a.path) < std::tie(sb, a.edition, b.path);
}

bool tile_chart_of(const NvchExports &nvch, const ChartFile *file, int32_t width, int32_t height, TileChart *chart) {
    const ChartFacts facts = read_chart_facts(nvch, file, width, height);
    chart->scale = facts.scale ? std::strtod(facts.scale->c_str(), nullptr) : 0;
    chart->edition = facts.edition ? edition_date(*facts.edition) : 0;
    double lat_centre = 0;
    const double metres = centre_pixel_metres(nvch, file, width, height, &lat_centre);
    if (!std::isfinite(metres) || metres <= 0) return false;
    chart->native_zoom = native_zoom_of(metres, lat_centre);

    // The extent: the image's edges, within the outline's when it has one.
    std::vector<double> x, y;
    for (int k = 0; k < kEdgePoints; ++k) {
        const double t = static_cast<double>(k) / kEdgePoints;
        x.insert(x.end(), {t * width, static_cast<double>(width), (1 - t) * width, 0});
        y.insert(y.end(), {0, t * height, static_cast<double>(height), (1 - t) * height});
    }
    std::vector<double> lat(x.size()), lon(x.size());
    if (nvch.pixel_to_latlon(file, static_cast<int32_t>(x.size()), x.data(), y.data(), lat.data(), lon.data()) != 0)
        return false;
    // Round the edges in order, so that longitudes unwrap along them.
    std::vector<double> ring_lat, ring_lon;
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k < kEdgePoints; ++k) {
            ring_lat.push_back(lat[static_cast<size_t>(k) * 4 + side]);
            ring_lon.push_back(lon[static_cast<size_t>(k) * 4 + side]);
        }
    for (double v : ring_lat)
        if (!std::isfinite(v)) return false;
    unwrap(ring_lon);
    double west = *std::min_element(ring_lon.begin(), ring_lon.end());
    double east = *std::max_element(ring_lon.begin(), ring_lon.end());
    double south = *std::min_element(ring_lat.begin(), ring_lat.end());
    double north = *std::max_element(ring_lat.begin(), ring_lat.end());
    if (facts.outline.size() >= 3) {
        std::vector<double> outline_lon;
        for (const LatLon &p : facts.outline) outline_lon.push_back(p.lon);
        // On the same side of the 180th meridian as the image.
        outline_lon[0] -= 360.0 * std::round((outline_lon[0] - ring_lon[0]) / 360.0);
        unwrap(outline_lon);
        double o_south = 90, o_north = -90;
        for (const LatLon &p : facts.outline) {
            o_south = std::min(o_south, p.lat);
            o_north = std::max(o_north, p.lat);
        }
        west = std::max(west, *std::min_element(outline_lon.begin(), outline_lon.end()));
        east = std::min(east, *std::max_element(outline_lon.begin(), outline_lon.end()));
        south = std::max(south, o_south);
        north = std::min(north, o_north);
        if (west >= east || south >= north) return false;
    }
    const double shift = west < -180.0 ? 360.0 : west >= 180.0 ? -360.0 : 0.0;
    chart->west = west + shift;
    chart->east = east + shift;
    chart->south = south;
    chart->north = north;
    return true;
}
