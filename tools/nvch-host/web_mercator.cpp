#include "web_mercator.h"

#include <cmath>
#include <mutex>

#include "gctp_mercator.h"

extern "C" {
// GCTP's reporting switch, as its sources declare it.
long init(long ipr, long jpr, char *efile, char *pfile);
}

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegrees = 180.0 / kPi;

// GCTP keeps one Mercator in its globals; every call here uses the same
// one, set once before the first.
void set_up_sphere() {
    static std::once_flag once;
    std::call_once(once, [] {
        char no_file[] = "";
        init(4, 4, no_file, no_file);   // GCTP reports nothing
        merforint(kWebMercatorRadius, kWebMercatorRadius, 0, 0, 0, 0);
        merinvint(kWebMercatorRadius, kWebMercatorRadius, 0, 0, 0, 0);
    });
}

// Metres from the map's centre of a global pixel position.
double world_width() { return 2 * kPi * kWebMercatorRadius; }
double metres_of(int zoom, double pixels) { return pixels / (kTileSize * std::ldexp(1.0, zoom)) * world_width(); }

}  // namespace

double web_mercator_lon(int zoom, double x) { return metres_of(zoom, x) / world_width() * 360.0 - 180.0; }

double web_mercator_lat(int zoom, double y) {
    set_up_sphere();
    double lon = 0, lat = 0;
    merinv(0, world_width() / 2 - metres_of(zoom, y), &lon, &lat);
    return lat * kDegrees;
}

double web_mercator_x(int zoom, double lon) { return (lon + 180.0) / 360.0 * kTileSize * std::ldexp(1.0, zoom); }

double web_mercator_y(int zoom, double lat) {
    set_up_sphere();
    double x = 0, y = 0;
    const double limited = std::fmax(-kWebMercatorLimit, std::fmin(kWebMercatorLimit, lat));
    merfor(0, limited / kDegrees, &x, &y);
    return (world_width() / 2 - y) / world_width() * kTileSize * std::ldexp(1.0, zoom);
}

double web_mercator_pixel_metres(int zoom, double lat) {
    return world_width() * std::cos(lat / kDegrees) / (kTileSize * std::ldexp(1.0, zoom));
}
