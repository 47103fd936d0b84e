#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "capture.h"
#include "bsb.h"
#include "common/process_state.h"
#include "georef/projection.h"

namespace {

constexpr double kRadians = 0.017453292519943295;
constexpr double kGrs80Major = 6378137.0;

// A header that holds one "KNP" record.
struct KnpReader {
    char record[256];
    char *lines[1] = {record};
    HeaderLines header;
    explicit KnpReader(const char *knp) {
        std::snprintf(record, sizeof record, "%s\r\n", knp);
        header.lines = lines;
        header.count = 1;
    }
};

struct Configured {
    ForwardTransform transform;
    std::string name;   // the caller's text afterwards
    Captured output;
};

Configured configure(const char *name, double meridian, const char *knp = "KNP/PR=X") {
    KnpReader r(knp);
    Configured s{};
    char text[128];
    std::snprintf(text, sizeof text, "%s", name);
    s.output = capture_output([&] { s.transform = setup_projection(text, meridian, r.header); });
    s.name = text;
    return s;
}

struct Point {
    double x = NAN, y = NAN;
    long status = -1;
};

Point project(ForwardTransform t, double lon_degrees, double lat_degrees) {
    Point p;
    p.status = t(lon_degrees * kRadians, lat_degrees * kRadians, &p.x, &p.y);
    return p;
}

}  // namespace

TEST(ProjectionSetup, SelectsTransverseMercatorForEveryItsNamesAndUpperCasesTheName) {
    for (const char *name : {"transverse mercator", "UNIVERSAL TRANSVERSE MERCATOR", "UTM", "UTM ZONE 10", "TM",
                             "TMX"}) {
        Configured s = configure(name, -123.0);
        ASSERT_NE(s.transform, nullptr) << name;
        EXPECT_EQ(s.output.err, "");
        // On its central meridian, with scale 0.9996 and no false
        // northing: the UTM northing of 45 degrees north.
        const Point p = project(s.transform, -123.0, 45.0);
        EXPECT_EQ(p.status, 0);
        EXPECT_NEAR(p.x, 0.0, 1e-6) << name;
        EXPECT_NEAR(p.y, 4982950.40, 0.01) << name;
    }
    EXPECT_EQ(configure("transverse mercator", 0).name, "TRANSVERSE MERCATOR");
}

TEST(ProjectionSetup, RefusesUnknownNamesWithTheUpperCasedName) {
    for (const char *name : {"gnomonic", "T", "LAMBERT", "LAMBERT CONFORMAL"}) {
        Configured s = configure(name, 0);
        EXPECT_EQ(s.transform, nullptr) << name;
        std::string upper = name;
        for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(s.output.err, upper + " not supported yet.\n");
        EXPECT_EQ(s.output.out, "");
    }
}

TEST(ProjectionSetup, MercatorIsCentredOnGreenwichAndResetsTheLatitudeOfTrueScale) {
    BSB_set_LTS(45.5f);
    Configured s = configure("MERCATOR", -122.0);
    ASSERT_NE(s.transform, nullptr);
    EXPECT_EQ(mercator_lts, 0.0);
    set_lon_normalisation(1);
    const Point p = project(s.transform, 0.0, 0.0);
    EXPECT_NEAR(p.x, 0.0, 1e-9);
    EXPECT_NEAR(p.y, 0.0, 1e-9);
    // x grows as a times the longitude in radians on the GRS 1980 ellipsoid.
    EXPECT_NEAR(project(s.transform, 10.0, 30.0).x, kGrs80Major * 10 * kRadians, 1e-6);
    // A pole cannot be projected: a failure code, no message.
    Captured quiet = capture_output([&] { EXPECT_NE(project(s.transform, 0, 90).status, 0); });
    EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST(ProjectionSetup, LongitudeStepFollowsTheSwitchThroughARealTransform) {
    Configured s = configure("MERCATOR", 0);
    ASSERT_NE(s.transform, nullptr);
    set_lon_normalisation(0);
    const double off = project(s.transform, -190.0, 10.0).x;
    set_lon_normalisation(1);
    const double on = project(s.transform, -190.0, 10.0).x;
    EXPECT_NEAR(off, -kGrs80Major * 190 * kRadians, 1e-6);
    EXPECT_LT(off, -kGrs80Major * 180 * kRadians);   // beyond the -180 degree position
    EXPECT_NEAR(on, kGrs80Major * 170 * kRadians, 1e-6);
    set_lon_normalisation(0);
}

TEST(ProjectionSetup, PolyconicAndLambertAreCentredOnTheirMeridian) {
    for (const char *name : {"POLYCONIC", "LAMBERT CONFORMAL CONIC"}) {
        Configured s = configure(name, -91.589);
        ASSERT_NE(s.transform, nullptr) << name;
        const Point on_meridian = project(s.transform, -91.589, 48.0);
        EXPECT_EQ(on_meridian.status, 0);
        EXPECT_NEAR(on_meridian.x, 0.0, 1e-6) << name;
        EXPECT_GT(project(s.transform, -91.0, 48.0).x, 0.0) << name;
    }
}

TEST(ProjectionSetup, AlbersTakesItsParametersFromKnpAndTheSphereForSphericalNames) {
    const char *knp = "KNP/PR=ALBERS,PP=-96.0,P1=23.0,P5=29.5,P6=45.5";
    Configured ellipsoid = configure("ALBERS EQUAL AREA", -96.0, knp);
    ASSERT_NE(ellipsoid.transform, nullptr);
    const Point e = project(ellipsoid.transform, -90.0, 40.0);
    Configured sphere = configure("albers spherical", -96.0, knp);
    ASSERT_NE(sphere.transform, nullptr);
    const Point s = project(sphere.transform, -90.0, 40.0);
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(s.status, 0);
    EXPECT_GT(std::fabs(e.y - s.y), 1000.0);   // different figures of the earth
    EXPECT_NEAR(project(sphere.transform, -96.0, 23.0).y, 0.0, 1e-6);   // P1 is the origin
}

TEST(ProjectionSetup, AlbersWithoutItsParametersOrWithOpposedParallelsFails) {
    Configured no_p1 = configure("ALBERS", 0, "KNP/PR=ALBERS,P5=29.5,P6=45.5");
    EXPECT_EQ(no_p1.transform, nullptr);
    EXPECT_EQ(no_p1.output.err, "Failed to find P1 for Albers\n");
    Configured no_p6 = configure("ALBERS", 0, "KNP/PR=ALBERS,P1=23.0,P5=29.5");
    EXPECT_EQ(no_p6.transform, nullptr);
    EXPECT_EQ(no_p6.output.err, "");
    KnpReader empty("VER/3.0");
    char name[] = "ALBERS";
    Captured none = capture_output([&] { EXPECT_EQ(setup_projection(name, 0, empty.header), nullptr); });
    EXPECT_EQ(none.err, "");
    Configured opposed = configure("ALBERS", 0, "KNP/PR=ALBERS,P1=0.0,P5=30.0,P6=-30.0");
    EXPECT_EQ(opposed.transform, nullptr);
    EXPECT_EQ(opposed.output.err, "ALBERS projection refused its parameters\n");
}
