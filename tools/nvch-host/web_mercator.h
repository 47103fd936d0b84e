// Web Mercator (EPSG:3857) tiles: 256 x 256 pixels, 2^z tiles each way at
// zoom z, numbered from the upper-left (x east, y south) as web maps number
// them. The sphere's inverse Mercator is GCTP's.
#pragma once

#include <cstdint>

constexpr int kTileSize = 256;
// The sphere of Web Mercator, in metres.
constexpr double kWebMercatorRadius = 6378137.0;
// The latitude of the map's top and bottom edges, in degrees.
constexpr double kWebMercatorLimit = 85.0511287798066;

// The longitude of global pixel position `x` (pixels from the west edge
// at zoom z, 256 * 2^z in all), in degrees.
double web_mercator_lon(int zoom, double x);
// The latitude of global pixel position `y` (pixels from the top edge).
double web_mercator_lat(int zoom, double y);
// The global pixel position of a longitude (-180 to 180) and a latitude.
double web_mercator_x(int zoom, double lon);
double web_mercator_y(int zoom, double lat);

// The TMS row of tile row `y` at zoom z (rows counted from the south), as
// MBTiles stores them.
inline int64_t tms_row(int zoom, int64_t y) { return (int64_t{1} << zoom) - 1 - y; }

// The ground size of a pixel at zoom z and latitude `lat`, in metres.
double web_mercator_pixel_metres(int zoom, double lat);
