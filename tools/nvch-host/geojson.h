// Chart footprints as GeoJSON (RFC 7946): longitude and latitude on WGS
// 84, rings closed and counterclockwise, and a footprint across the 180th
// meridian split into two polygons, one either side.
#pragma once

#include <string>
#include <vector>

struct LonLat {
    double lon, lat;
};

// A footprint's ring (in order, not closed, longitudes as given) as the
// polygons GeoJSON wants: one, or two when it crosses the 180th meridian.
// Each ring comes closed and counterclockwise, longitudes in -180..180.
std::vector<std::vector<LonLat>> footprint_polygons(std::vector<LonLat> ring);

// The geometry of those polygons: a "Polygon", a "MultiPolygon", or null
// for none.
std::string geometry_json(const std::vector<std::vector<LonLat>> &polygons);
