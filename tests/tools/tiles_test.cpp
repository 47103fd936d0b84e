// A folder of charts to one web map: Web Mercator tiles in an MBTiles
// file, checked against charts written here whose every pixel and place
// is known. Tile pixel centres are placed on the earth by the textbook
// Web Mercator formulas, and on each chart by the library in this process.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <tuple>

#include <png.h>
#include <sqlite3.h>

#include "bsb.h"
#include "chart_writer.h"
#include "exports.h"
#include "host_runner.h"
#include "open_chart.h"
#include "test_files.h"
#include "tile_drawing.h"

#ifndef NVCH_LIBRARY
#define NVCH_LIBRARY ""
#endif

namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.14159265358979323846;

double world_pixels(int zoom) { return 256.0 * std::ldexp(1.0, zoom); }
double lon_of(int zoom, double x) { return x / world_pixels(zoom) * 360.0 - 180.0; }
double lat_of(int zoom, double y) { return std::atan(std::sinh(kPi * (1 - 2 * y / world_pixels(zoom)))) * 180 / kPi; }
double x_of(int zoom, double lon) { return (lon + 180.0) / 360.0 * world_pixels(zoom); }
double y_of(int zoom, double lat) {
    const double phi = lat * kPi / 180;
    return (1 - std::log(std::tan(phi) + 1 / std::cos(phi)) / kPi) / 2 * world_pixels(zoom);
}

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba &o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

// Tiles by (zoom, column, row from the north), as read back.
using TileKey = std::tuple<int, int64_t, int64_t>;

struct TileSet {
    std::map<TileKey, std::vector<Rgba>> tiles;
    std::map<TileKey, int64_t> stored_rows;   // the TMS row each was stored under
    std::map<std::string, std::string> metadata;

    Rgba pixel(int zoom, double world_x, double world_y) const {
        const auto x = static_cast<int64_t>(std::floor(world_x)), y = static_cast<int64_t>(std::floor(world_y));
        const int64_t n = int64_t{1} << zoom;
        const auto it = tiles.find({zoom, ((x / 256) % n + n) % n, y / 256});
        if (it == tiles.end()) return {};
        return it->second[static_cast<size_t>(y % 256) * 256 + static_cast<size_t>(x % 256)];
    }
};

std::vector<Rgba> decode_png(const void *data, size_t size) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::vector<Rgba> pixels;
    if (!png_image_begin_read_from_memory(&image, data, size)) return pixels;
    image.format = PNG_FORMAT_RGBA;
    pixels.resize(static_cast<size_t>(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) pixels.clear();
    return pixels;
}

TileSet read_tile_set(const std::string &path) {
    TileSet set;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return set;
    }
    sqlite3_stmt *q = nullptr;
    sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1, &q, nullptr);
    while (q != nullptr && sqlite3_step(q) == SQLITE_ROW) {
        const int zoom = sqlite3_column_int(q, 0);
        const int64_t x = sqlite3_column_int64(q, 1), tms = sqlite3_column_int64(q, 2);
        const int64_t y = (int64_t{1} << zoom) - 1 - tms;
        set.tiles[{zoom, x, y}] =
            decode_png(sqlite3_column_blob(q, 3), static_cast<size_t>(sqlite3_column_bytes(q, 3)));
        set.stored_rows[{zoom, x, y}] = tms;
    }
    sqlite3_finalize(q);
    sqlite3_prepare_v2(db, "SELECT name, value FROM metadata", -1, &q, nullptr);
    while (q != nullptr && sqlite3_step(q) == SQLITE_ROW)
        set.metadata[reinterpret_cast<const char *>(sqlite3_column_text(q, 0))] =
            reinterpret_cast<const char *>(sqlite3_column_text(q, 1));
    sqlite3_finalize(q);
    sqlite3_close(db);
    return set;
}

// A Mercator chart of `width` x `height` pixels from (north, west) to
// (south, east), its pixels and palette given: entry v of `colours` is
// pixel value v + 1's colour.
struct PlacedChart {
    int width, height;
    double north, west, south, east;
    std::vector<Rgba> colours;
    std::function<int(int, int)> value;   // pixel value (1 and up) at (x, y)
    std::string knp = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,PI=UNKNOWN,SP=UNKNOWN,SK=0.0,TA=90.0";
    std::vector<std::string> extra;       // more header lines (an outline, an edition)

    PlacedChart(int width_, int height_, double north_, double west_, double south_, double east_,
                std::vector<Rgba> colours_, std::function<int(int, int)> value_)
        : width(width_), height(height_), north(north_), west(west_), south(south_), east(east_),
          colours(std::move(colours_)), value(std::move(value_)) {}

    kap::Bytes build() const {
        kap::ChartWriter w = kap::simple_chart(width, height, 4, static_cast<int>(colours.size()));
        w.header[3] = knp;
        const auto degrees = [](double v) {
            char t[32];
            std::snprintf(t, sizeof t, "%.10f", v > 180 ? v - 360 : v);
            return std::string(t);
        };
        // Reference points at the corner pixels' upper-left corners, where
        // pixel positions (0, 0) to (width, height) span the image.
        const std::string right = std::to_string(width - 1), bottom = std::to_string(height - 1);
        const double dx = (east - west) / width, dy = (north - south) / height;
        for (std::string &line : w.header) {
            if (line.rfind("RGB/", 0) == 0) {
                const int i = std::stoi(line.substr(4));
                const Rgba &c = colours[static_cast<size_t>(i - 1)];
                line = "RGB/" + std::to_string(i) + "," + std::to_string(c.r) + "," + std::to_string(c.g) + "," +
                       std::to_string(c.b);
            }
            if (line.rfind("REF/1", 0) == 0) line = "REF/1,0,0," + degrees(north) + "," + degrees(west);
            if (line.rfind("REF/2", 0) == 0) line = "REF/2," + right + ",0," + degrees(north) + "," + degrees(east - dx);
            if (line.rfind("REF/3", 0) == 0)
                line = "REF/3," + right + "," + bottom + "," + degrees(south + dy) + "," + degrees(east - dx);
            if (line.rfind("REF/4", 0) == 0) line = "REF/4,0," + bottom + "," + degrees(south + dy) + "," + degrees(west);
        }
        w.header.insert(w.header.end(), extra.begin(), extra.end());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) w.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(value(x, y));
        return w.build();
    }
};

const std::vector<Rgba> kFifteen = [] {
    std::vector<Rgba> c;
    for (int i = 1; i <= 15; ++i)
        c.push_back({static_cast<uint8_t>(i * 37 % 256), static_cast<uint8_t>(i * 91 % 256),
                     static_cast<uint8_t>(i * 53 % 256), 255});
    return c;
}();

int patterned(int x, int y) { return 1 + (x / 3 + y / 2 * 7 + x * y % 5) % 15; }

// Where a chart puts the centre of world pixel (x, y) at `zoom`.
struct ChartPlace {
    std::unique_ptr<OpenedChart> chart;
    bool at(int zoom, double x, double y, double *cx, double *cy) const {
        const double lat = lat_of(zoom, y + 0.5), lon = lon_of(zoom, x + 0.5);
        return BSB_latlon_to_pixel(&chart->chart, 1, &lat, &lon, cx, cy) == 0;
    }
};

// Well inside a pixel of the chart: no interpolation near a pixel's edge
// may tip which pixel it is.
bool clearly_in_pixel(double v) {
    const double f = v - std::floor(v);
    return f > 0.05 && f < 0.95;
}

Outcome tiles(const std::string &arguments) { return host("tiles " + arguments); }

const std::regex kTilesSummary(
    "tiled ([0-9]+), not charts ([0-9]+), skipped ([0-9]+), failed ([0-9]+): ([0-9]+) tiles, zoom ([0-9]+)-([0-9]+), "
    "in [0-9]+\\.[0-9] s\n");

std::vector<int> tiles_counts(const std::string &out) {
    std::smatch m;
    if (!std::regex_match(out, m, kTilesSummary)) return {};
    std::vector<int> v;
    for (size_t k = 1; k < m.size(); ++k) v.push_back(std::stoi(m[k]));
    return v;
}

}  // namespace

TEST(Tiles, ATileAtNativeZoomHoldsTheChartPixelsItsPixelCentresLandIn) {
    TempDir dir;
    fs::create_directories(dir.path("charts"));
    const PlacedChart placed{600, 400, 50.01, -1.01, 49.99, -0.99, kFifteen, patterned};
    const std::string path = dir.write("charts/harbour.kap", placed.build());
    const std::string out = dir.path("harbour.mbtiles");
    const Outcome r = tiles(quoted(dir.path("charts")) + " " + quoted(out));
    ASSERT_EQ(r.status, 0) << r.err;
    const TileSet set = read_tile_set(out);
    const int native = std::stoi(set.metadata.at("maxzoom"));
    // 2.4 m pixels at 50 N: Web Mercator's 3.07 m at level 15 is nearest.
    EXPECT_EQ(native, 15);
    EXPECT_EQ(set.metadata.at("minzoom"), "11");
    EXPECT_EQ(tiles_counts(r.out)[0], 1);

    ChartPlace place{open_chart(path)};
    ASSERT_EQ(place.chart->result, 0);
    const double x0 = std::floor(x_of(native, placed.west)) - 3, x1 = std::ceil(x_of(native, placed.east)) + 3;
    const double y0 = std::floor(y_of(native, placed.north)) - 3, y1 = std::ceil(y_of(native, placed.south)) + 3;
    int inside = 0, outside = 0, wrong = 0;
    for (double y = y0; y < y1; ++y)
        for (double x = x0; x < x1; ++x) {
            double cx, cy;
            ASSERT_TRUE(place.at(native, x, y, &cx, &cy));
            const Rgba got = set.pixel(native, x, y);
            if (cx > 0.05 && cx < placed.width - 0.05 && cy > 0.05 && cy < placed.height - 0.05 &&
                clearly_in_pixel(cx) && clearly_in_pixel(cy)) {
                ++inside;
                const Rgba want = placed.colours[static_cast<size_t>(
                    placed.value(static_cast<int>(cx), static_cast<int>(cy)) - 1)];
                wrong += got == want ? 0 : 1;
            } else if (cx < -0.05 || cx > placed.width + 0.05 || cy < -0.05 || cy > placed.height + 0.05) {
                ++outside;
                wrong += got.a == 0 ? 0 : 1;
            }
        }
    EXPECT_EQ(wrong, 0) << "of " << inside << " inside and " << outside << " outside";
    EXPECT_GT(inside, 150000);
    EXPECT_GT(outside, 1000);

    // Rows are stored counted from the south: the tile holding 50.0 N,
    // 1.0 W at level 15 is row 11113 from the north (by hand: y = (1 -
    // ln(tan 50 + sec 50) / pi) / 2 = 0.339145, times 32768 tiles), 21654
    // from the south; column 179 / 360 of 32768 = 16292.98.
    const auto tile_x = static_cast<int64_t>(x_of(15, -1.0) / 256), tile_y = static_cast<int64_t>(y_of(15, 50.0) / 256);
    EXPECT_EQ(tile_x, 16292);
    EXPECT_EQ(tile_y, 11113);
    ASSERT_EQ(set.stored_rows.count({15, tile_x, tile_y}), 1u);
    EXPECT_EQ(set.stored_rows.at({15, tile_x, tile_y}), 21654);

    // The bounds: the image's edges, in degrees.
    double w, s, e, n;
    ASSERT_EQ(std::sscanf(set.metadata.at("bounds").c_str(), "%lf,%lf,%lf,%lf", &w, &s, &e, &n), 4);
    EXPECT_NEAR(w, placed.west, 1e-5);
    EXPECT_NEAR(e, placed.east, 1e-5);
    EXPECT_NEAR(s, placed.south, 1e-5);
    EXPECT_NEAR(n, placed.north, 1e-5);
    EXPECT_EQ(set.metadata.at("format"), "png");
    EXPECT_EQ(set.metadata.at("name"), "charts");
    EXPECT_EQ(set.metadata.at("type"), "baselayer");
    EXPECT_TRUE(std::regex_match(set.metadata.at("center"), std::regex("-1\\.0000[0-9]*,50\\.0000[0-9]*,11")))
        << set.metadata.at("center");
}

TEST(Tiles, TheLargerScaleIsDrawnOverTheSmallerAndTheLaterEditionOverTheEarlier) {
    // A harbour chart at 1:10000 inside an approach chart at 1:40000 whose
    // pixels are twice as large; a second approach chart of the same scale,
    // a later edition, over the approach's east half. Each is one colour.
    TempDir dir;
    fs::create_directories(dir.path("charts"));
    const auto one = [](int) { return 1; };
    const auto uniform = [&](uint8_t r, uint8_t g, uint8_t b) { return std::vector<Rgba>{{r, g, b, 255}}; };
    PlacedChart approach{600, 400, 50.02, -1.02, 49.98, -0.98, uniform(200, 0, 0), [&](int, int) { return one(0); }};
    approach.knp = "KNP/SC=40000,GD=NAD83,PR=MERCATOR,PP=50.0";
    approach.extra = {"CED/SE=1,RE=1,ED=03/01/2004"};
    PlacedChart later = approach;
    later.west = -1.0, later.east = -0.96;
    later.colours = uniform(0, 0, 200);
    later.extra = {"CED/SE=2,RE=1,ED=11/15/2010"};
    PlacedChart harbour{600, 400, 50.01, -1.01, 49.99, -0.99, uniform(0, 200, 0), [&](int, int) { return one(0); }};
    harbour.knp = "KNP/SC=10000,GD=NAD83,PR=MERCATOR,PP=50.0";
    dir.write("charts/approach.kap", approach.build());
    dir.write("charts/later.kap", later.build());
    dir.write("charts/harbour.kap", harbour.build());
    const std::string out = dir.path("quilt.mbtiles");
    const Outcome r = tiles(quoted(dir.path("charts")) + " " + quoted(out) + " --zoom 15");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tiles_counts(r.out), (std::vector<int>{3, 0, 0, 0, tiles_counts(r.out).at(4), 15, 15})) << r.out;
    const TileSet set = read_tile_set(out);
    const auto at = [&](double lat, double lon) { return set.pixel(15, x_of(15, lon), y_of(15, lat)); };
    const Rgba red{200, 0, 0, 255}, green{0, 200, 0, 255}, blue{0, 0, 200, 255}, none{};
    EXPECT_EQ(at(50.0, -1.0), green);      // the harbour over both approaches
    EXPECT_EQ(at(50.005, -1.005), green);
    EXPECT_EQ(at(50.015, -1.015), red);    // the approach around it
    EXPECT_EQ(at(49.985, -0.995), blue);   // the later edition over the earlier
    EXPECT_EQ(at(50.0, -0.97), blue);      // the later edition alone
    EXPECT_EQ(at(50.015, -0.995), blue);   // outside the harbour, inside both approaches
    EXPECT_EQ(at(50.03, -1.0), none);      // no chart
    // Every pixel is one of the three colours or nothing: no blend where
    // charts meet, at this level each chart's pixel for pixel.
    for (const auto &[key, pixels] : set.tiles)
        for (const Rgba &p : pixels) ASSERT_TRUE(p == red || p == green || p == blue || p == none);
}

TEST(Tiles, OnlyTheChartedAreaInsideTheOutlineIsDrawn) {
    // The outline of the chart GIS checks use: a pentagon with a notch,
    // well inside the image. Tile pixels far enough from its edges to be
    // sure of their side: inside drawn, outside transparent.
    TempDir dir;
    fs::create_directories(dir.path("charts"));
    PlacedChart placed{600, 400, 50.01, -1.01, 49.99, -0.99, kFifteen, patterned};
    const std::vector<std::pair<double, double>> outline = {
        {50.008, -1.008}, {50.008, -0.992}, {49.992, -0.992}, {49.992, -1.000}, {50.000, -1.003}, {49.992, -1.008}};
    for (size_t k = 0; k < outline.size(); ++k) {
        char line[64];
        std::snprintf(line, sizeof line, "PLY/%zu,%.3f,%.3f", k + 1, outline[k].first, outline[k].second);
        placed.extra.push_back(line);
    }
    dir.write("charts/outline.kap", placed.build());
    const std::string out = dir.path("outline.mbtiles");
    ASSERT_EQ(tiles(quoted(dir.path("charts")) + " " + quoted(out) + " --zoom 15").status, 0);
    const TileSet set = read_tile_set(out);
    // Distance in degrees of latitude from a point to the outline's edges,
    // longitudes scaled to the same ground.
    const double k = std::cos(50 * kPi / 180);
    const auto distance = [&](double lat, double lon) {
        double best = HUGE_VAL;
        for (size_t i = 0; i < outline.size(); ++i) {
            const auto [alat, alon] = outline[i];
            const auto [blat, blon] = outline[(i + 1) % outline.size()];
            const double ax = alon * k, bx = blon * k, px = lon * k;
            const double t = std::clamp(((px - ax) * (bx - ax) + (lat - alat) * (blat - alat)) /
                                            ((bx - ax) * (bx - ax) + (blat - alat) * (blat - alat)),
                                        0.0, 1.0);
            best = std::min(best, std::hypot(px - ax - t * (bx - ax), lat - alat - t * (blat - alat)));
        }
        return best;
    };
    const auto inside = [&](double lat, double lon) {
        bool in = false;
        for (size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
            const auto [ilat, ilon] = outline[i];
            const auto [jlat, jlon] = outline[j];
            if ((ilat > lat) != (jlat > lat) && lon < (jlon - ilon) * (lat - ilat) / (jlat - ilat) + ilon) in = !in;
        }
        return in;
    };
    int drawn = 0, hidden = 0, wrong = 0;
    const double margin = 2.5 * 0.02 / 400;   // two and a half chart pixels
    for (double y = std::floor(y_of(15, 50.01)); y < y_of(15, 49.99); ++y)
        for (double x = std::floor(x_of(15, -1.01)); x < x_of(15, -0.99); ++x) {
            const double lat = lat_of(15, y + 0.5), lon = lon_of(15, x + 0.5);
            if (distance(lat, lon) < margin) continue;
            const bool in = inside(lat, lon);
            const Rgba p = set.pixel(15, x, y);
            (in ? drawn : hidden) += 1;
            wrong += (p.a == 255) == in ? 0 : 1;
        }
    EXPECT_EQ(wrong, 0) << drawn << " inside, " << hidden << " outside";
    EXPECT_GT(drawn, 20000);
    EXPECT_GT(hidden, 10000);
}

TEST(Tiles, AChartAcrossTheAntimeridianIsDrawnOnBothSides) {
    TempDir dir;
    fs::create_directories(dir.path("charts"));
    // From 179.99 E to 179.99 W: its east edge written as charts write it.
    const PlacedChart placed{600, 400, 50.01, 179.99, 49.99, 180.01, kFifteen, patterned};
    const std::string path = dir.write("charts/dateline.kap", placed.build());
    const std::string out = dir.path("dateline.mbtiles");
    const Outcome r = tiles(quoted(dir.path("charts")) + " " + quoted(out) + " --zoom 15");
    ASSERT_EQ(r.status, 0) << r.err;
    const TileSet set = read_tile_set(out);
    const int64_t last = (int64_t{1} << 15) - 1;
    bool west_side = false, east_side = false;
    for (const auto &[key, pixels] : set.tiles) {
        west_side = west_side || std::get<1>(key) == last;
        east_side = east_side || std::get<1>(key) == 0;
    }
    EXPECT_TRUE(west_side && east_side);
    // A pixel each side, where the chart says.
    ChartPlace place{open_chart(path)};
    for (double lon : {179.995, -179.995}) {
        int checked = 0;
        for (int step = 0; step < 6; ++step) {
            const double x = std::floor(x_of(15, lon)) + step, y = std::floor(y_of(15, 50.0)) + step;
            double cx, cy;
            ASSERT_TRUE(place.at(15, x, y, &cx, &cy));
            ASSERT_TRUE(cx > 0 && cx < 600 && cy > 0 && cy < 400) << cx << " " << cy;
            if (!clearly_in_pixel(cx) || !clearly_in_pixel(cy)) continue;
            ++checked;
            EXPECT_EQ(set.pixel(15, x, y), placed.colours[static_cast<size_t>(
                                               placed.value(static_cast<int>(cx), static_cast<int>(cy)) - 1)])
                << lon;
        }
        EXPECT_GT(checked, 2) << lon;
    }
    // The bounds cannot say "across": they span every longitude.
    EXPECT_TRUE(set.metadata.at("bounds").rfind("-180.000000,", 0) == 0) << set.metadata.at("bounds");
}

TEST(Tiles, BelowNativeZoomATilePixelIsTheAverageOfTheChartPixelsItCovers) {
    // Stripes one pixel wide of two colours: pixel for pixel they would
    // come out one colour or the other; averaged, every pixel inside is
    // their mean.
    TempDir dir;
    fs::create_directories(dir.path("charts"));
    const std::vector<Rgba> two{{0, 0, 0, 255}, {200, 100, 50, 255}};
    const PlacedChart placed{600, 400, 50.01, -1.01, 49.99, -0.99, two, [](int x, int) { return 1 + x % 2; }};
    dir.write("charts/stripes.kap", placed.build());
    const std::string out = dir.path("stripes.mbtiles");
    ASSERT_EQ(tiles(quoted(dir.path("charts")) + " " + quoted(out) + " --zoom 12-14").status, 0);
    const TileSet set = read_tile_set(out);
    for (int zoom : {12, 13, 14}) {
        int checked = 0;
        for (double y = std::ceil(y_of(zoom, 50.008)); y < y_of(zoom, 49.992) - 1; ++y)
            for (double x = std::ceil(x_of(zoom, -1.008)); x < x_of(zoom, -0.992) - 1; ++x) {
                const Rgba p = set.pixel(zoom, x, y);
                ++checked;
                ASSERT_EQ(p.a, 255);
                EXPECT_NEAR(p.r, 100, 14) << zoom;
                EXPECT_NEAR(p.g, 50, 7) << zoom;
                EXPECT_NEAR(p.b, 25, 4) << zoom;
            }
        EXPECT_GT(checked, 10) << zoom;
    }
}

TEST(Tiles, ZoomAndBoxSplitTheWorkAndChartsThatFailAreCounted) {
    TempDir dir;
    fs::create_directories(dir.path("charts"));
    dir.write("charts/harbour.kap", PlacedChart{600, 400, 50.01, -1.01, 49.99, -0.99, kFifteen, patterned}.build());
    // Drawn at the same levels as the harbour; every row lies past the end
    // of its file.
    auto unreadable = kap::simple_chart(600, 400);
    unreadable.index_pointer = 1 << 30;
    dir.write("charts/unreadable.kap", unreadable.build());
    dir.write("charts/notes.kap", {'h', 'i', '\n'});
    const std::string out = dir.path("part.mbtiles");
    // West half of the harbour, levels 14 and 15 only.
    const Outcome r = tiles(quoted(dir.path("charts")) + " " + quoted(out) + " --zoom 14-15 --bbox -1.02,49.9,-1.0,50.1");
    EXPECT_EQ(r.status, 1);
    const std::vector<int> counts = tiles_counts(r.out);
    ASSERT_EQ(counts.size(), 7u) << r.out;
    EXPECT_EQ(counts[0], 1);   // the harbour
    EXPECT_EQ(counts[1], 1);   // notes.kap
    EXPECT_EQ(counts[3], 1);   // unreadable.kap
    EXPECT_EQ(counts[5], 14);
    EXPECT_EQ(counts[6], 15);
    EXPECT_NE(r.err.find("nvch-host: " + dir.path("charts/notes.kap") + " is not a BSB chart (KAP file)\n"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nvch-host: " + dir.path("charts/unreadable.kap") + ": row "), std::string::npos) << r.err;
    const TileSet set = read_tile_set(out);
    ASSERT_FALSE(set.tiles.empty());
    const int64_t east_edge = static_cast<int64_t>(x_of(15, -1.0) / 256);
    for (const auto &[key, pixels] : set.tiles) {
        const auto [zoom, x, y] = key;
        EXPECT_TRUE(zoom == 14 || zoom == 15);
        if (zoom == 15) {
            EXPECT_LE(x, east_edge);
        }
    }
    // What is there stays, unless --force.
    const Outcome again = tiles(quoted(dir.path("charts")) + " " + quoted(out));
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "nvch-host: " + out + " is already there (--force replaces it)\n");
    const Outcome forced = tiles(quoted(dir.path("charts")) + " " + quoted(out) + " --force --zoom 13");
    EXPECT_EQ(forced.status, 1);
    EXPECT_EQ(read_tile_set(out).metadata.at("maxzoom"), "13");
    // Usage errors.
    EXPECT_EQ(tiles(quoted(dir.path("charts")) + " x.mbtiles --zoom 9-3").status, 2);
    EXPECT_EQ(tiles(quoted(dir.path("charts")) + " x.mbtiles --bbox 1,2,3").status, 2);
}

TEST(Tiles, InterpolatedPositionsStayWithinAFiftiethOfAPixelOfExact) {
    // Every projection, a skewed chart, and the real charts: at native zoom
    // and four levels below, every pixel of tiles over the chart, against
    // the library's exact position. Most tiles must be interpolated.
    LoadedLibrary library;
    NvchExports nvch{};
    std::string problem;
    ASSERT_TRUE(load_exports(NVCH_LIBRARY, &library, &nvch, &problem)) << problem;
    TempDir dir;
    std::vector<std::pair<std::string, int>> charts;   // path, native zoom
    const char *knps[] = {"KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0",
                          "KNP/SC=20000,GD=NAD83,PR=TRANSVERSE MERCATOR,PP=-1.5",
                          "KNP/SC=20000,GD=NAD83,PR=POLYCONIC,PP=-0.5",
                          "KNP/SC=20000,GD=NAD83,PR=LAMBERT CONFORMAL CONIC,PP=-2.0",
                          "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=33.5"};
    int n = 0;
    for (const char *knp : knps) {
        PlacedChart p{600, 400, 50.3, -1.3, 49.7, -0.7, kFifteen, patterned};
        p.knp = knp;
        // 71 x 167 m pixels at 50 N: level 10's 98 m is nearest.
        charts.push_back({dir.write("c" + std::to_string(n++) + ".kap", p.build()), 10});
    }
    if (!real_charts_dir().empty())
        for (const auto &[name, native] : std::vector<std::pair<const char *, int>>{
                 {"11361_2.KAP", 15}, {"12205_7.KAP", 15}, {"14988_2.KAP", 15}, {"14771_1.KAP", 16}})
            charts.push_back({real_chart(name), native});
    int interpolated = 0, exact = 0;
    double worst = 0;
    for (const auto &[path, native] : charts) {
        int32_t title = -1;
        ChartFile *file = nvch.FileTitleIdentifyAndOpen(path.c_str(), &title, 1);
        ASSERT_NE(file, nullptr) << path;
        for (int zoom : {native, native - 4}) {
            // Tiles across the image's middle row.
            const int32_t w = file->width, h = file->height;
            double lat[2], lon[2];
            const double px[2] = {0, static_cast<double>(w)}, py[2] = {h / 2.0, h / 2.0};
            ASSERT_EQ(nvch.pixel_to_latlon(file, 2, px, py, lat, lon), 0);
            const auto ty = static_cast<int64_t>(y_of(zoom, lat[0]) / 256);
            const auto tx0 = static_cast<int64_t>(x_of(zoom, lon[0]) / 256),
                       tx1 = static_cast<int64_t>(x_of(zoom, lon[1]) / 256);
            for (int64_t tx = tx0; tx <= tx1 && tx <= tx0 + 6; ++tx) {
                std::vector<double> x, y;
                bool by_grid = false;
                tile_positions(nvch, file, zoom, tx, ty, &x, &y, &by_grid);
                (by_grid ? interpolated : exact) += 1;
                std::vector<double> lats(256 * 256), lons(256 * 256), ex(256 * 256), ey(256 * 256);
                for (int r = 0; r < 256; ++r)
                    for (int c = 0; c < 256; ++c) {
                        lats[static_cast<size_t>(r) * 256 + c] = lat_of(zoom, static_cast<double>(ty * 256 + r) + 0.5);
                        lons[static_cast<size_t>(r) * 256 + c] = lon_of(zoom, static_cast<double>(tx * 256 + c) + 0.5);
                    }
                ASSERT_EQ(nvch.latlon_to_pixel(file, 256 * 256, lats.data(), lons.data(), ex.data(), ey.data()), 0);
                for (size_t k = 0; k < ex.size(); ++k)
                    worst = std::max({worst, std::fabs(x[k] - ex[k]), std::fabs(y[k] - ey[k])});
            }
        }
        nvch.FileClose(file);
    }
    std::printf("tile positions: %d tiles interpolated, %d exact, largest difference %.4f chart pixels\n",
                interpolated, exact, worst);
    EXPECT_LE(worst, 0.05);
    EXPECT_GT(interpolated, 3 * exact);
}
