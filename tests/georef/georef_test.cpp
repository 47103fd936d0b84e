#include <gtest/gtest.h>

#include <cmath>

#include "chart/chart_reader.h"
#include "chart_writer.h"
#include "common/process_state.h"
#include "georef/georef.h"
#include "georef/matrix.h"
#include "georef/projection.h"
#include "open_chart.h"
#include "test_files.h"

extern "C" {
long merinvint(double r_maj, double r_min, double center_lon, double center_lat, double false_east,
               double false_north);
long merinv(double x, double y, double *lon, double *lat);
long merforint(double r_maj, double r_min, double center_lon, double center_lat, double false_east,
               double false_north);
long merfor(double lon, double lat, double *x, double *y);
}

namespace {

constexpr double kRadians = 0.017453292519943295;
constexpr double kA = 6378137.0, kB = 6356752.31414;

// Mercator on GRS 1980 centred on Greenwich, as the library sets it up.
void mercator_xy(double lon, double lat, double *x, double *y) {
    merforint(kA, kB, 0, 0, 0, 0);
    merfor(lon * kRadians, lat * kRadians, x, y);
}

// The longitude and latitude (degrees) that Mercator puts at (x, y).
void mercator_lonlat(double x, double y, double *lon, double *lat) {
    merinvint(kA, kB, 0, 0, 0, 0);
    merinv(x, y, lon, lat);
    *lon /= kRadians;
    *lat /= kRadians;
}

struct Ref {
    double x, y, lat, lon;
};

std::string ref_record(int n, const Ref &r) {
    char text[160];
    std::snprintf(text, sizeof text, "REF/%d,%.17g,%.17g,%.17g,%.17g", n, r.x, r.y, r.lat, r.lon);
    return text;
}

// A Mercator chart with exactly these reference points and extra records.
kap::ChartWriter chart_with_refs(const std::vector<Ref> &refs, const std::vector<std::string> &extra = {}) {
    kap::ChartWriter w = kap::simple_chart(20, 10);
    std::erase_if(w.header, [](const std::string &l) { return l.rfind("REF", 0) == 0 || l.rfind("DTM", 0) == 0; });
    for (size_t i = 0; i < refs.size(); ++i) w.header.push_back(ref_record(static_cast<int>(i + 1), refs[i]));
    w.header.insert(w.header.end(), extra.begin(), extra.end());
    return w;
}

class Georef : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<OpenedChart> open(const kap::ChartWriter &w) { return open_chart(dir.write("g.kap", w.build())); }
};

}  // namespace

TEST(PixelFit, WorkedExampleGivesTwoMetresAndThePointNearestTheOrigin) {
    double **p = matrix(0, 3, 0, 3);
    double **q = matrix(0, 1, 0, 3);
    const double px[] = {10, 510, 10, 60}, py[] = {20, 20, 420, 70};
    const double qx[] = {1000, 2000, 1000, 1100}, qy[] = {5000, 5000, 4200, 4900};
    for (int i = 0; i < 4; ++i) {
        p[0][i] = px[i];
        p[1][i] = py[i];
        q[0][i] = qx[i];
        q[1][i] = qy[i];
    }
    EXPECT_DOUBLE_EQ(fit_pixel_scale(p, q, 0, 4), 2.0);
    EXPECT_DOUBLE_EQ(fit_pixel_scale(p, q, 1, 4), -2.0);
    EXPECT_DOUBLE_EQ(fit_pixel_scale(p, q, 2, 4), 1.0);
    EXPECT_DOUBLE_EQ(fit_pixel_scale(p, q, 0, 1), 1.0);
    EXPECT_EQ(nearest_ref_to_origin(p, 4), 0);
    // No pair more than 100 pixels apart: 1.0, never 0 / 0.
    p[0][1] = 110;
    EXPECT_DOUBLE_EQ(fit_pixel_scale(p, q, 0, 4), 1.0);
    release_matrix(p, 0, 3, 0, 3);
    release_matrix(q, 0, 1, 0, 3);
}

TEST(PixelFit, TiesForTheOriginPointGoToTheLowerNumber) {
    double **p = matrix(0, 1, 0, 3);
    const double px[] = {9, 3, 4, 5}, py[] = {9, 4, 3, 0};   // 162, then three at 25
    for (int i = 0; i < 4; ++i) {
        p[0][i] = px[i];
        p[1][i] = py[i];
    }
    EXPECT_EQ(nearest_ref_to_origin(p, 4), 1);
    EXPECT_EQ(nearest_ref_to_origin(p, 1), 0);
    release_matrix(p, 0, 1, 0, 3);
}

TEST_F(Georef, WorkedExampleThroughARealOpen) {
    // Reference points placed where Mercator projects them to the worked
    // example's coordinates.
    const double px[] = {10, 510, 10, 60}, py[] = {20, 20, 420, 70};
    const double qx[] = {1000, 2000, 1000, 1100}, qy[] = {5000, 5000, 4200, 4900};
    std::vector<Ref> refs;
    for (int i = 0; i < 4; ++i) {
        Ref r{px[i], py[i], 0, 0};
        mercator_lonlat(qx[i], qy[i], &r.lon, &r.lat);
        refs.push_back(r);
    }
    auto o = open(chart_with_refs(refs));
    ASSERT_EQ(o->result, 0) << o->output.err;
    EXPECT_NEAR(o->chart.pixel_size_x, 2.0, 1e-6);
    EXPECT_NEAR(o->chart.pixel_size_y, 2.0, 1e-6);
    EXPECT_NEAR(o->chart.upper_left_x, 980.0, 1e-6);
    EXPECT_NEAR(o->chart.upper_left_y, 5040.0, 1e-6);
}

TEST_F(Georef, TheDatumSettersLeaveTheFitAsItIs) {
    // BSB_useSphere and BSB_useWGS84 set a process-wide value that no step
    // of the open reads: a chart is placed the same after either.
    const auto w = kap::simple_chart(300, 200);
    BSB_useSphere();
    auto sphere = open(w);
    EXPECT_EQ(datum_switch, 0);
    BSB_useWGS84();
    auto wgs84 = open(w);
    EXPECT_EQ(datum_switch, 1);
    ASSERT_EQ(sphere->result, 0);
    ASSERT_EQ(wgs84->result, 0);
    EXPECT_EQ(sphere->chart.upper_left_x, wgs84->chart.upper_left_x);
    EXPECT_EQ(sphere->chart.upper_left_y, wgs84->chart.upper_left_y);
    EXPECT_EQ(sphere->chart.pixel_size_x, wgs84->chart.pixel_size_x);
    EXPECT_EQ(sphere->chart.pixel_size_y, wgs84->chart.pixel_size_y);
}

TEST_F(Georef, SinglePointGivesUnitPixelsAndItsOwnCorner) {
    auto o = open(chart_with_refs({{7, 3, 50.0, -1.0}}));
    ASSERT_EQ(o->result, 0) << o->output.err;
    double x, y;
    mercator_xy(-1.0, 50.0, &x, &y);
    EXPECT_EQ(o->chart.pixel_size_x, 1.0);
    EXPECT_EQ(o->chart.pixel_size_y, 1.0);
    EXPECT_NEAR(o->chart.upper_left_x, x - 7, 1e-6);
    EXPECT_NEAR(o->chart.upper_left_y, y + 3, 1e-6);
}

TEST_F(Georef, DatumShiftIsSubtractedInSecondsOfArc) {
    auto o = open(chart_with_refs({{0, 0, 47.5, -122.25}}, {"DTM/3.6,-7.2"}));
    ASSERT_EQ(o->result, 0) << o->output.err;
    double x, y;
    mercator_xy(-122.248, 47.499, &x, &y);
    EXPECT_NEAR(o->chart.upper_left_x, x, 1e-6);
    EXPECT_NEAR(o->chart.upper_left_y, y, 1e-6);
    // Only a latitude shift; text and non-numbers shift nothing.
    for (const char *dtm : {"DTM/3.6", "DTM/3.6,abc"}) {
        auto lat_only = open(chart_with_refs({{0, 0, 47.5, -122.25}}, {dtm}));
        mercator_xy(-122.25, 47.499, &x, &y);
        EXPECT_NEAR(lat_only->chart.upper_left_x, x, 1e-6) << dtm;
        EXPECT_NEAR(lat_only->chart.upper_left_y, y, 1e-6) << dtm;
    }
    auto nan_shift = open(chart_with_refs({{0, 0, 47.5, -122.25}}, {"DTM/nan,inf"}));
    mercator_xy(-122.25, 47.5, &x, &y);
    EXPECT_NEAR(nan_shift->chart.upper_left_x, x, 1e-6);
}

TEST_F(Georef, LongitudesStraddlingTheAntimeridianAreBroughtWest) {
    // The point at pixel (0, 0) is the origin point: the corner is its
    // projection, where its (wrapped) longitude shows.
    const struct {
        std::vector<double> lons;
        double corner_lon;
    } cases[] = {
        {{179.8, -179.6, 179.9}, -180.2},
        {{10, -10}, 10},
        {{120, -100}, -240},
        {{170, 10}, 170},
        {{-170, -10}, -170},
    };
    for (const auto &c : cases) {
        std::vector<Ref> refs;
        for (size_t i = 0; i < c.lons.size(); ++i) refs.push_back({i * 200.0, i * 150.0, 10.0 + i * 0.01, c.lons[i]});
        auto o = open(chart_with_refs(refs));
        ASSERT_EQ(o->result, 0) << o->output.err;
        EXPECT_NEAR(o->chart.upper_left_x, kA * c.corner_lon * kRadians, 1e-6) << c.corner_lon;
    }
    EXPECT_EQ(lon_normalisation, 0);   // switched off for good
}

TEST_F(Georef, ACompleteArcRecordIsTakenAsWritten) {
    auto o = open(chart_with_refs({{0, 0, 50, -1}}, {"ARC/UX=-1000.5,UY=2000.25,DX=3.5,DY=-4.75,UN=Meters"}));
    ASSERT_EQ(o->result, 0) << o->output.err;
    EXPECT_EQ(o->chart.upper_left_x, -1000.5);
    EXPECT_EQ(o->chart.upper_left_y, 2000.25);
    EXPECT_EQ(o->chart.pixel_size_x, 3.5);
    EXPECT_EQ(o->chart.pixel_size_y, -4.75);
    // Without DY the reference points decide, as without the record.
    auto incomplete = open(chart_with_refs({{0, 0, 50, -1}}, {"ARC/UX=-1000.5,UY=2000.25,DX=3.5"}));
    auto none = open(chart_with_refs({{0, 0, 50, -1}}));
    EXPECT_EQ(incomplete->chart.upper_left_x, none->chart.upper_left_x);
    EXPECT_EQ(incomplete->chart.pixel_size_y, none->chart.pixel_size_y);
    // An ARC chart needs no reference points at all, and a skewed one keeps
    // the size of the upright image it delivers.
    auto arc_only = chart_with_refs({}, {"ARC/UX=1,UY=2,DX=3,DY=4"});
    arc_only.header[3] = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=30";
    auto skewed = open(arc_only);
    ASSERT_EQ(skewed->result, 0);
    EXPECT_TRUE(chart_is_skewed(skewed->chart.reader));
    EXPECT_EQ(skewed->chart.width, 22);   // 20 x 10 turned by 30 degrees
    EXPECT_EQ(skewed->chart.height, 17);
    EXPECT_EQ(skewed->chart.pixel_size_y, 4);
}

TEST_F(Georef, RefusesChartsWhoseProjectionCannotBeSetUp) {
    auto refs = chart_with_refs({{0, 0, 50, -1}});
    const struct {
        const char *knp;
        const char *err;
    } cases[] = {
        {"KNP/SC=1,PP=50.0", "KNP record lacks PR or PP: cannot set up the projection\n"},
        {"KNP/SC=1,PR=MERCATOR", "KNP record lacks PR or PP: cannot set up the projection\n"},
        {"KNP/SC=1,PR=GNOMONIC,PP=1.0", "GNOMONIC not supported yet.\n"},
        {"KNP/SC=1,PR=ALBERS,PP=1.0,P5=1,P6=2", "Failed to find P1 for Albers\n"},
    };
    for (const auto &c : cases) {
        refs.header[3] = c.knp;
        auto o = open(refs);
        EXPECT_EQ(o->result, -1) << c.knp;
        EXPECT_EQ(o->output.err, c.err);
    }
    // A point at the pole cannot be projected by Mercator: silent failure.
    auto pole = open(chart_with_refs({{0, 0, 50, -1}, {500, 500, 90, -1}}));
    EXPECT_EQ(pole->result, -1);
    EXPECT_EQ(pole->output.err, "");
}

TEST(RefPoints, ReadsColumnsByPointNumberWhateverTheRecordOrder) {
    char r1[] = "REF/2,10,20,30.5,-40.25\r\n", r2[] = "BSB/X\r\n", r3[] = "REF/1,1,2,3,4,extra\r\n";
    char *lines[] = {r1, r2, r3};
    RefPoints points;
    ASSERT_EQ(read_ref_points(lines, 3, &points), 0);
    ASSERT_EQ(points.count, 2);
    EXPECT_EQ(points.table[0][0], 1);
    EXPECT_EQ(points.table[3][0], 4);
    EXPECT_EQ(points.table[1][1], 20);
    EXPECT_EQ(points.table[3][1], -40.25);
    release_ref_points(&points);
}
