// Writes the bundled sample charts with the project's chart writer: a small
// Mercator harbour (coast, depth areas, a dredged channel, buoys, a
// graticule) stored upright, and the same waters stored turned by 20
// degrees. The output is the same byte for byte on every run.
//
//   make-samples OUTPUT_FOLDER
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "chart_writer.h"
#include "gctp_mercator.h"


namespace {

constexpr double kRadians = 0.017453292519943295;
constexpr double kMajor = 6378137.0, kMinor = 6356752.31414;   // GRS 1980, as the reader uses
constexpr double kPixel = 4.0;                                  // metres

// Palette: the entries the map uses.
enum Colour : uint8_t { Ink = 1, Paper = 2, Land = 3, Shallow = 4, Medium = 5, Deep = 6, Magenta = 7 };
const char *kPalette[] = {"RGB/1,0,0,0",         "RGB/2,255,255,255",   "RGB/3,244,232,193", "RGB/4,165,205,240",
                          "RGB/5,196,222,246",   "RGB/6,226,239,252",   "RGB/7,219,73,150"};

// The waters, in metres east and south of the north-west corner of the
// upright chart (about 50.80 N, 1.12 W).
struct Point {
    double east, south;
};

double coast(double east) { return 560 + 90 * std::sin(east / 210) + 35 * std::sin(east / 67); }

uint8_t chart_colour(Point p) {
    const double shore = coast(p.east);
    if (p.south < shore) return p.south > shore - 5 ? Ink : Land;
    // A headland in the south-east.
    const double edge = 1480 + 60 * std::sin(p.south / 130);
    if (p.east > edge && p.south > 760) return p.east < edge + 5 || p.south < 765 ? Ink : Land;
    // Buoys marking the channel.
    for (const Point b : {Point{700, 1250}, Point{790, 990}, Point{860, 780}})
        if (std::hypot(p.east - b.east, p.south - b.south) < 18) return Magenta;
    // The dredged channel, dashed.
    const double axis = 760 + 0.3 * (1400 - p.south);
    if (std::fabs(p.east - axis) < 5 && static_cast<int>(p.south / 40) % 2 == 0) return Magenta;
    // Graticule lines every 800 m, dashed.
    const double gx = std::fmod(p.east + 8000, 800), gy = std::fmod(p.south + 8000, 800);
    if ((gx < 4 && static_cast<int>(p.south / 24) % 2 == 0) || (gy < 4 && static_cast<int>(p.east / 24) % 2 == 0))
        return Ink;
    const double depth = p.south - shore;
    if (depth < 120) return Shallow;
    if (depth < 380) return Medium;
    return Deep;
}

struct Georef {
    double corner_x, corner_y;   // Mercator metres of pixel (0, 0)
};

// Latitude and longitude (degrees) of an upright pixel position.
void lonlat_of(const Georef &g, double u, double v, double *lon, double *lat) {
    merinvint(kMajor, kMinor, 0, 0, 0, 0);
    merinv(g.corner_x + u * kPixel, g.corner_y - v * kPixel, lon, lat);
    *lon /= kRadians;
    *lat /= kRadians;
}

std::string ref(int n, int x, int y, double lat, double lon) {
    char text[96];
    std::snprintf(text, sizeof text, "REF/%d,%d,%d,%.10f,%.10f", n, x, y, lat, lon);
    return text;
}

std::vector<std::string> header(const char *name, int width, int height, double skew) {
    char bsb[96], knp[160];
    std::snprintf(bsb, sizeof bsb, "BSB/NA=%s,NU=NV1,RA=%d,%d,DU=254", name, width, height);
    std::snprintf(knp, sizeof knp, "KNP/SC=12000,GD=WGS84,PR=MERCATOR,PP=50.8,PI=UNKNOWN,SP=UNKNOWN,SK=%.7f", skew);
    std::vector<std::string> h = {"! Sample chart written by the nvch chart writer; not for navigation",
                                  "CRR/Synthetic waters for demonstrating the nvch plug-in.",
                                  "    No real soundings.",
                                  "VER/3.0",
                                  bsb,
                                  knp,
                                  "    TA=90.0,UN=METERS,SD=CHART DATUM,DX=4.0,DY=4.0",
                                  "OST/1",
                                  "IFM/3"};
    h.insert(h.end(), std::begin(kPalette), std::end(kPalette));
    h.push_back("DTM/0.0,0.0");
    return h;
}

// The upright chart: pixel (u, v) shows the waters at (u, v) times the
// pixel size from the corner.
kap::ChartWriter upright_chart(const Georef &g) {
    kap::ChartWriter w;
    w.depth = 3;
    w.width = 480;
    w.height = 360;
    w.header = header("NVCH SAMPLE HARBOUR", w.width, w.height, 0);
    w.pixels.resize(static_cast<size_t>(w.width) * w.height);
    for (int v = 0; v < w.height; ++v)
        for (int u = 0; u < w.width; ++u)
            w.pixels[static_cast<size_t>(v) * w.width + u] = chart_colour({u * kPixel, v * kPixel});
    const int points[][2] = {{0, 0}, {479, 0}, {479, 359}, {0, 359}, {240, 180}};
    for (int i = 0; i < 5; ++i) {
        double lon, lat;
        lonlat_of(g, points[i][0], points[i][1], &lon, &lat);
        w.header.push_back(ref(i + 1, points[i][0], points[i][1], lat, lon));
    }
    return w;
}

// The same waters stored turned: stored pixel (x, y) lies at
// F(x, y) = (x cos t + y sin t, y cos t - x sin t) in the upright plane, less
// its smallest corner, as the reader turns it back.
kap::ChartWriter skewed_chart(const Georef &g, double degrees) {
    kap::ChartWriter w;
    w.depth = 3;
    w.width = 420;
    w.height = 300;
    w.header = header("NVCH SAMPLE HARBOUR SKEWED", w.width, w.height, degrees);
    const double t = degrees * kRadians, s = std::sin(-t), c = std::cos(-t);
    auto forward = [&](double x, double y) { return Point{x * c - y * s, y * c + x * s}; };
    double min_x = 0, min_y = 0;
    for (const Point corner : {forward(w.width, 0), forward(w.width, w.height), forward(0, w.height)}) {
        min_x = std::min(min_x, std::trunc(corner.east));
        min_y = std::min(min_y, std::trunc(corner.south));
    }
    // The upright picture shows the same waters as the upright chart, 30
    // pixels in from its corner.
    const double shift = 30;
    w.pixels.resize(static_cast<size_t>(w.width) * w.height);
    for (int y = 0; y < w.height; ++y) {
        for (int x = 0; x < w.width; ++x) {
            const Point up = forward(x, y);
            const double u = up.east - min_x + shift, v = up.south - min_y + shift;
            w.pixels[static_cast<size_t>(y) * w.width + x] = chart_colour({u * kPixel, v * kPixel});
        }
    }
    const int points[][2] = {{0, 0}, {419, 0}, {419, 299}, {0, 299}, {210, 150}};
    for (int i = 0; i < 5; ++i) {
        const Point up = forward(std::trunc(points[i][0]), std::trunc(points[i][1]));
        double lon, lat;
        lonlat_of(g, std::trunc(up.east) - min_x + shift, std::trunc(up.south) - min_y + shift, &lon, &lat);
        w.header.push_back(ref(i + 1, points[i][0], points[i][1], lat, lon));
    }
    return w;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: make-samples OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    Georef g{};
    merforint(kMajor, kMinor, 0, 0, 0, 0);
    merfor(-1.12 * kRadians, 50.80 * kRadians, &g.corner_x, &g.corner_y);
    const std::string folder = argv[1];
    kap::write_file(folder + "/harbour.kap", upright_chart(g).build());
    kap::write_file(folder + "/harbour_skewed.kap", skewed_chart(g, 20.0).build());
    return 0;
}
