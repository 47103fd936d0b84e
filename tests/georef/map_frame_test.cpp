// Pixels to latitude and longitude and back: worked examples of every
// projection computed here from the projections' formulas, round trips
// over whole images, both ways of serving a skewed chart, the 180th
// meridian, and the real charts' reference points against an independent
// fit (the reference map information and the projection library called
// directly).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "bsb.h"
#include "chart_writer.h"
#include "georef/gctp.h"
#include "georef/projection.h"
#include "open_chart.h"
#include "test_files.h"

namespace {

constexpr double kRadians = 0.017453292519943295;
constexpr double kQuarterTurn = 0.78539816339744830962;   // pi / 4
// GRS 1980, as every chart here is projected on.
constexpr double kA = 6378137.0;
constexpr double kB = 6356752.31414036;
const double kE2 = 1 - (kB / kA) * (kB / kA);
const double kE = std::sqrt(kE2);

// ---- the projections, written from their textbook formulas (ellipsoid) ----

double meridian_arc(double phi) {
    const double e4 = kE2 * kE2, e6 = e4 * kE2;
    return kA * ((1 - kE2 / 4 - 3 * e4 / 64 - 5 * e6 / 256) * phi -
                 (3 * kE2 / 8 + 3 * e4 / 32 + 45 * e6 / 1024) * std::sin(2 * phi) +
                 (15 * e4 / 256 + 45 * e6 / 1024) * std::sin(4 * phi) - (35 * e6 / 3072) * std::sin(6 * phi));
}

double conformal_t(double phi) {
    const double es = kE * std::sin(phi);
    return std::tan(kQuarterTurn - phi / 2) / std::pow((1 - es) / (1 + es), kE / 2);
}

double authalic_q(double phi) {
    const double s = std::sin(phi), es = kE * s;
    return (1 - kE2) * (s / (1 - kE2 * s * s) - std::log((1 - es) / (1 + es)) / (2 * kE));
}

double small_m(double phi) { return std::cos(phi) / std::sqrt(1 - kE2 * std::sin(phi) * std::sin(phi)); }

struct Plane {
    double x, y;
};

Plane mercator(double phi, double lambda) {
    const double es = kE * std::sin(phi);
    return {kA * lambda, kA * std::log(std::tan(kQuarterTurn + phi / 2) * std::pow((1 - es) / (1 + es), kE / 2))};
}

Plane transverse_mercator(double phi, double lambda, double lambda0) {
    const double k0 = 0.9996, ep2 = kE2 / (1 - kE2);
    const double n = kA / std::sqrt(1 - kE2 * std::sin(phi) * std::sin(phi));
    const double t = std::tan(phi) * std::tan(phi), c = ep2 * std::cos(phi) * std::cos(phi);
    const double a = (lambda - lambda0) * std::cos(phi);
    const double x = k0 * n * (a + (1 - t + c) * std::pow(a, 3) / 6 +
                               (5 - 18 * t + t * t + 72 * c - 58 * ep2) * std::pow(a, 5) / 120);
    const double y = k0 * (meridian_arc(phi) + n * std::tan(phi) *
                                                   (a * a / 2 + (5 - t + 9 * c + 4 * c * c) * std::pow(a, 4) / 24 +
                                                    (61 - 58 * t + t * t + 600 * c - 330 * ep2) * std::pow(a, 6) / 720));
    return {x, y};
}

Plane polyconic(double phi, double lambda, double lambda0) {
    const double n = kA / std::sqrt(1 - kE2 * std::sin(phi) * std::sin(phi));
    const double e = (lambda - lambda0) * std::sin(phi);
    return {n / std::tan(phi) * std::sin(e), meridian_arc(phi) + n / std::tan(phi) * (1 - std::cos(e))};
}

Plane lambert(double phi, double lambda, double lambda0, double phi1, double phi2) {
    const double n = (std::log(small_m(phi1)) - std::log(small_m(phi2))) / (std::log(conformal_t(phi1)) - std::log(conformal_t(phi2)));
    const double f = small_m(phi1) / (n * std::pow(conformal_t(phi1), n));
    const double rho = kA * f * std::pow(conformal_t(phi), n), rho0 = kA * f * std::pow(conformal_t(0), n);
    const double theta = n * (lambda - lambda0);
    return {rho * std::sin(theta), rho0 - rho * std::cos(theta)};
}

Plane albers(double phi, double lambda, double lambda0, double phi0, double phi1, double phi2) {
    const double m1 = small_m(phi1), m2 = small_m(phi2);
    const double n = (m1 * m1 - m2 * m2) / (authalic_q(phi2) - authalic_q(phi1));
    const double c = m1 * m1 + n * authalic_q(phi1);
    const double rho = kA * std::sqrt(c - n * authalic_q(phi)) / n, rho0 = kA * std::sqrt(c - n * authalic_q(phi0)) / n;
    const double theta = n * (lambda - lambda0);
    return {rho * std::sin(theta), rho0 - rho * std::cos(theta)};
}

// A chart of `knp`, its reference points around 50N 1W at its corners.
std::unique_ptr<OpenedChart> open_with(const TempDir &dir, const std::string &knp, int width = 600, int height = 400) {
    kap::ChartWriter w = kap::simple_chart(width, height);
    w.header[3] = knp;
    return open_chart(dir.write("p.kap", w.build()));
}

// The pixel where the map information puts a plane position.
void pixel_of(const ChartFile &c, Plane p, double *x, double *y) {
    *x = (p.x - c.upper_left_x) / c.pixel_size_x;
    *y = (c.upper_left_y - p.y) / c.pixel_size_y;
}

struct WorkedExample {
    const char *what;
    std::string knp;
    Plane (*plane)(double phi, double lambda);
};

const double kLambert1 = (47 + 2.0 / 60) * kRadians, kLambert2 = (48 + 3.0 / 60) * kRadians;

const WorkedExample kExamples[] = {
    {"Mercator", "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0", [](double p, double l) { return mercator(p, l); }},
    {"Transverse Mercator", "KNP/SC=20000,GD=NAD83,PR=TRANSVERSE MERCATOR,PP=-1.5",
     [](double p, double l) { return transverse_mercator(p, l, -1.5 * kRadians); }},
    {"UTM", "KNP/SC=20000,GD=NAD83,PR=UTM,PP=-3.0", [](double p, double l) { return transverse_mercator(p, l, -3 * kRadians); }},
    {"Polyconic", "KNP/SC=20000,GD=NAD83,PR=POLYCONIC,PP=-0.5",
     [](double p, double l) { return polyconic(p, l, -0.5 * kRadians); }},
    {"Lambert Conformal Conic", "KNP/SC=20000,GD=NAD83,PR=LAMBERT CONFORMAL CONIC,PP=-2.0",
     [](double p, double l) { return lambert(p, l, -2 * kRadians, kLambert1, kLambert2); }},
    {"Albers", "KNP/SC=20000,GD=NAD83,PR=ALBERS EQUAL AREA,PP=-1.0,P1=45.0,P5=49.0,P6=51.0",
     [](double p, double l) { return albers(p, l, -1 * kRadians, 45 * kRadians, 49 * kRadians, 51 * kRadians); }},
};

}  // namespace

TEST(PixelsAndLatitudes, EveryProjectionPlacesAWorkedExampleWhereItsFormulasSay) {
    TempDir dir;
    for (const WorkedExample &e : kExamples) {
        auto o = open_with(dir, e.knp);
        ASSERT_EQ(o->result, 0) << e.what << o->output.err;
        // 50.003 N, 1.004 W: inside the chart.
        const double lat = 50.003, lon = -1.004;
        double want_x, want_y;
        pixel_of(o->chart, e.plane(lat * kRadians, lon * kRadians), &want_x, &want_y);
        double x = 0, y = 0;
        ASSERT_EQ(BSB_latlon_to_pixel(&o->chart, 1, &lat, &lon, &x, &y), 0) << e.what;
        EXPECT_NEAR(x, want_x, 1e-4) << e.what;
        EXPECT_NEAR(y, want_y, 1e-4) << e.what;
        double back_lat = 0, back_lon = 0;
        ASSERT_EQ(BSB_pixel_to_latlon(&o->chart, 1, &want_x, &want_y, &back_lat, &back_lon), 0) << e.what;
        EXPECT_NEAR(back_lat, lat, 1e-9) << e.what;
        EXPECT_NEAR(back_lon, lon, 1e-9) << e.what;
    }
}

TEST(PixelsAndLatitudes, EveryPixelOfEveryImageComesBackToItself) {
    // Upright charts of each projection, a skewed one served upright and
    // the same served as stored: a grid over the whole image, there and
    // back within a millionth of a pixel.
    TempDir dir;
    std::vector<std::unique_ptr<OpenedChart>> charts;
    for (const WorkedExample &e : kExamples) charts.push_back(open_with(dir, e.knp));
    const std::string skewed_knp = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=33.5";
    charts.push_back(open_with(dir, skewed_knp));
    {
        SkewSwitch as_stored(0);
        charts.push_back(open_with(dir, skewed_knp));
    }
    for (const auto &o : charts) {
        ASSERT_EQ(o->result, 0) << o->output.err;
        std::vector<double> x, y;
        for (int i = 0; i <= 20; ++i)
            for (int j = 0; j <= 20; ++j) {
                x.push_back(o->chart.width * i / 20.0 + 0.37);
                y.push_back(o->chart.height * j / 20.0 + 0.61);
            }
        const auto n = static_cast<int32_t>(x.size());
        std::vector<double> lat(x.size()), lon(x.size()), bx(x.size()), by(x.size());
        ASSERT_EQ(BSB_pixel_to_latlon(&o->chart, n, x.data(), y.data(), lat.data(), lon.data()), 0);
        ASSERT_EQ(BSB_latlon_to_pixel(&o->chart, n, lat.data(), lon.data(), bx.data(), by.data()), 0);
        double worst = 0;
        for (size_t k = 0; k < x.size(); ++k) {
            worst = std::max({worst, std::fabs(bx[k] - x[k]), std::fabs(by[k] - y[k])});
            EXPECT_NEAR(bx[k], x[k], 1e-6) << k;
            EXPECT_NEAR(by[k], y[k], 1e-6) << k;
            EXPECT_GT(lat[k], 49.9);
            EXPECT_LT(lat[k], 50.1);
        }
        std::printf("%s: largest difference %.2g pixels\n", o->output.err.c_str(), worst);
    }
}

TEST(PixelsAndLatitudes, AChartServedAsStoredIsPlacedThroughItsTurn) {
    // The same skewed chart both ways: a stored pixel lies where the
    // upright pixel it turns into lies, by the continuous turn.
    TempDir dir;
    const std::string knp = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=33.5";
    auto upright = open_with(dir, knp);
    std::unique_ptr<OpenedChart> stored;
    {
        SkewSwitch as_stored(0);
        stored = open_with(dir, knp);
    }
    ASSERT_EQ(upright->result, 0);
    ASSERT_EQ(stored->result, 0);
    ASSERT_EQ(stored->chart.width, 600);
    const double t = 33.5 * kRadians;
    // The upright image's smallest corner coordinates, by the turn.
    double min_x = 0, min_y = 0;
    for (const auto &k : {std::pair{600.0, 0.0}, {600.0, 400.0}, {0.0, 400.0}}) {
        min_x = std::min(min_x, std::trunc(k.first * std::cos(-t) - k.second * std::sin(-t)));
        min_y = std::min(min_y, std::trunc(k.second * std::cos(-t) + k.first * std::sin(-t)));
    }
    for (const auto &p : {std::pair{0.0, 0.0}, {599.5, 0.25}, {300.0, 200.0}, {17.0, 399.0}}) {
        const double u = p.first * std::cos(t) + p.second * std::sin(t) - min_x;
        const double v = p.second * std::cos(t) - p.first * std::sin(t) - min_y;
        double lat_s, lon_s, lat_u, lon_u;
        ASSERT_EQ(BSB_pixel_to_latlon(&stored->chart, 1, &p.first, &p.second, &lat_s, &lon_s), 0);
        ASSERT_EQ(BSB_pixel_to_latlon(&upright->chart, 1, &u, &v, &lat_u, &lon_u), 0);
        EXPECT_NEAR(lat_s, lat_u, 1e-9);
        EXPECT_NEAR(lon_s, lon_u, 1e-9);
    }
}

TEST(PixelsAndLatitudes, AChartAcrossThe180thMeridianMapsBothSides) {
    TempDir dir;
    kap::ChartWriter w = kap::simple_chart(600, 400);
    for (std::string &line : w.header) {
        if (line.rfind("REF/1", 0) == 0) line = "REF/1,0,0,50.0100000000,179.9900000000";
        if (line.rfind("REF/2", 0) == 0) line = "REF/2,599,0,50.0100000000,-179.9900000000";
        if (line.rfind("REF/3", 0) == 0) line = "REF/3,599,399,49.9900000000,-179.9900000000";
        if (line.rfind("REF/4", 0) == 0) line = "REF/4,0,399,49.9900000000,179.9900000000";
    }
    auto o = open_chart(dir.write("dateline.kap", w.build()));
    ASSERT_EQ(o->result, 0) << o->output.err;
    // West and east halves: longitudes in -180..180 either side.
    const double x[2] = {100, 500}, y[2] = {200, 200};
    double lat[2], lon[2];
    ASSERT_EQ(BSB_pixel_to_latlon(&o->chart, 2, x, y, lat, lon), 0);
    EXPECT_GT(lon[0], 179.99);
    EXPECT_LE(lon[0], 180.0);
    EXPECT_LT(lon[1], -179.99);
    EXPECT_GE(lon[1], -180.0);
    // A longitude given either way lands on the same pixel.
    const double east = 179.995, west = -180.005, at = 50.0;
    double xe, ye, xw, yw;
    ASSERT_EQ(BSB_latlon_to_pixel(&o->chart, 1, &at, &east, &xe, &ye), 0);
    ASSERT_EQ(BSB_latlon_to_pixel(&o->chart, 1, &at, &west, &xw, &yw), 0);
    EXPECT_NEAR(xe, xw, 1e-6);
    EXPECT_GT(xe, 0);
    EXPECT_LT(xe, 599);
}

TEST(PixelsAndLatitudes, RefusesWhatItCannotInvertAndBadArguments) {
    TempDir dir;
    kap::ChartWriter arc = kap::simple_chart(60, 40);
    arc.header.push_back("ARC/UX=100,UY=200,DX=2,DY=3");
    auto by_arc = open_chart(dir.write("arc.kap", arc.build()));
    ASSERT_EQ(by_arc->result, 0);
    double x = 1, y = 1, lat = 0, lon = 0;
    EXPECT_EQ(BSB_pixel_to_latlon(&by_arc->chart, 1, &x, &y, &lat, &lon), -1);
    EXPECT_EQ(BSB_latlon_to_pixel(&by_arc->chart, 1, &lat, &lon, &x, &y), -1);

    auto o = open_with(dir, kExamples[0].knp);
    ASSERT_EQ(o->result, 0);
    EXPECT_EQ(BSB_pixel_to_latlon(nullptr, 1, &x, &y, &lat, &lon), -1);
    EXPECT_EQ(BSB_pixel_to_latlon(&o->chart, -1, &x, &y, &lat, &lon), -1);
    EXPECT_EQ(BSB_pixel_to_latlon(&o->chart, 1, nullptr, &y, &lat, &lon), -1);
    EXPECT_EQ(BSB_latlon_to_pixel(&o->chart, 1, &lat, &lon, &x, nullptr), -1);
    EXPECT_EQ(BSB_pixel_to_latlon(&o->chart, 0, nullptr, nullptr, nullptr, nullptr), 0);
    // The poles lie nowhere on a Mercator chart.
    const double pole = 90, meridian = 0;
    ASSERT_EQ(BSB_latlon_to_pixel(&o->chart, 1, &pole, &meridian, &x, &y), 0);
    EXPECT_TRUE(std::isnan(x) && std::isnan(y));
    ChartFile closed = o->chart;
    BSB_close(&o->chart);
    closed.reader = nullptr;
    EXPECT_EQ(BSB_pixel_to_latlon(&closed, 1, &x, &y, &lat, &lon), -1);
}

namespace {

// A real chart, its reference map information (independent of this
// library) and, for the skewed ones, the upright image's corner.
struct RealFit {
    const char *file;
    double upper_left_x, upper_left_y, pixel_x, pixel_y;
    double skew_degrees;
    int32_t min_x, min_y;
};

const RealFit kRealFits[] = {
    {"11361_2.KAP", -9959235.031, 3346996.492, 4.576367, 4.575701, 0, 0, 0},
    {"12205_7.KAP", -8504165.640, 4265152.093, 6.298314, 6.225474, 26.3247222, 0, -1321},
    {"12205_12.KAP", -8498079.176, 4306262.714, 6.285271, 6.280748, 343.4711111, -349, 0},
    {"14988_2.KAP", -1003.942, 5921542.833, 2.683277, 2.684420, 0, 0, 0},
    {"14771_1.KAP", -8264.393, 4933086.373, 1.499963, 1.500410, 45.0741597, 0, -6735},
};

struct Ref {
    double x, y, lat, lon;
};

// The "REF" points of a chart file, read here from its header text.
std::vector<Ref> refs_of(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<Ref> refs;
    std::string line;
    while (std::getline(in, line) && line.rfind("\x1a", 0) != 0) {
        if (line.rfind("REF/", 0) != 0) continue;
        Ref r{};
        int n = 0;
        if (std::sscanf(line.c_str(), "REF/%d,%lf,%lf,%lf,%lf", &n, &r.x, &r.y, &r.lat, &r.lon) == 5) refs.push_back(r);
    }
    return refs;
}

// The header's projection set up in the projection library directly.
ForwardTransform forward_of(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::string line, header;
    while (std::getline(in, line) && line.rfind("\x1a", 0) != 0) header += line + "\n";
    const auto pr = header.find("PR=");
    const auto pp = header.find("PP=");
    const std::string name = header.substr(pr + 3, header.find_first_of(",\r\n", pr) - pr - 3);
    const double meridian = std::strtod(header.c_str() + pp + 3, nullptr) * kRadians;
    char none[] = "none";
    init(4, 4, none, none);
    set_lon_normalisation(0);
    if (name == "MERCATOR") return merforint(kA, kB, 0, 0, 0, 0) == 0 ? merfor : nullptr;
    if (name == "POLYCONIC") return polyforint(kA, kB, meridian, 0, 0, 0) == 0 ? polyfor : nullptr;
    if (name == "LAMBERT CONFORMAL CONIC")
        return lamccforint(kA, kB, kLambert1, kLambert2, meridian, 0, 0, 0) == 0 ? lamccfor : nullptr;
    return nullptr;
}

}  // namespace

TEST(PixelsAndLatitudes, RealReferencePointsLandWithinTheFitsOwnResidual) {
    REQUIRE_REAL_CHARTS();
    for (const RealFit &f : kRealFits) {
        const std::string path = real_chart(f.file);
        const std::vector<Ref> refs = refs_of(path);
        ASSERT_FALSE(refs.empty()) << f.file;
        auto upright = open_chart(path);
        std::unique_ptr<OpenedChart> stored;
        {
            SkewSwitch as_stored(0);
            stored = open_chart(path);
        }
        ASSERT_EQ(upright->result, 0);
        ASSERT_EQ(stored->result, 0);
        const double t = f.skew_degrees * kRadians;
        double worst = 0;
        for (const Ref &r : refs) {
            // Where the independent fit puts the point.
            ForwardTransform forward = forward_of(path);
            ASSERT_NE(forward, nullptr) << f.file;
            double px, py;
            ASSERT_EQ(forward(r.lon * kRadians, r.lat * kRadians, &px, &py), 0);
            const double fit_x = (px - f.upper_left_x) / f.pixel_x, fit_y = (f.upper_left_y - py) / f.pixel_y;
            // The point's own pixel in the frame the fit used: turned as whole
            // pixels for a skewed chart.
            double own_x = r.x, own_y = r.y;
            if (f.skew_degrees != 0) {
                const double a = std::trunc(r.x), b = std::trunc(r.y);
                own_x = std::trunc(a * std::cos(-t) - b * std::sin(-t)) - f.min_x;
                own_y = std::trunc(b * std::cos(-t) + a * std::sin(-t)) - f.min_y;
            }
            const double residual = std::hypot(fit_x - own_x, fit_y - own_y);
            worst = std::max(worst, residual);
            double x, y;
            ASSERT_EQ(BSB_latlon_to_pixel(&upright->chart, 1, &r.lat, &r.lon, &x, &y), 0);
            EXPECT_NEAR(x, fit_x, 0.02) << f.file;
            EXPECT_NEAR(y, fit_y, 0.02) << f.file;
            EXPECT_LE(std::hypot(x - own_x, y - own_y), residual + 0.02) << f.file;
            // Served as stored: the fitted upright position turned back.
            double sx, sy;
            ASSERT_EQ(BSB_latlon_to_pixel(&stored->chart, 1, &r.lat, &r.lon, &sx, &sy), 0);
            double want_x = fit_x, want_y = fit_y;
            if (f.skew_degrees != 0) {
                const double a = fit_x + f.min_x, b = fit_y + f.min_y;
                want_x = a * std::cos(t) - b * std::sin(t);
                want_y = b * std::cos(t) + a * std::sin(t);
            }
            EXPECT_NEAR(sx, want_x, 0.02) << f.file;
            EXPECT_NEAR(sy, want_y, 0.02) << f.file;
        }
        std::printf("%s: %zu reference points, the fit's largest residual %.3f pixels\n", f.file, refs.size(), worst);
    }
}
