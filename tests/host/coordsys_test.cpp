#include <gtest/gtest.h>

#include <cstring>

#include "chart/chart_reader.h"
#include "chart_writer.h"
#include "host/coordsys.h"
#include "nvch.h"
#include "open_chart.h"
#include "platform/heap.h"
#include "test_files.h"

namespace {

const std::string kGeogcs =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,298.257223563]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943295]]";

struct CoordSys {
    int32_t result = -9;
    std::string short_name, descriptor, type_name, text;
    int32_t size = -1;
    bool block = false;
    int32_t zeros[4] = {9, 9, 9, 9};
};

// Opens a chart whose "KNP" record is `knp` (plus `extra` records) and
// asks for its coordinate system through the host interface.
CoordSys query(const std::string &knp, const std::vector<std::string> &extra = {}) {
    TempDir dir;
    kap::ChartWriter w = kap::simple_chart(20, 10);
    w.header[3] = knp;
    w.header.insert(w.header.end(), extra.begin(), extra.end());
    int32_t title = 0;
    CoordSys c;
    ChartFile *file = nullptr;
    capture_output([&] { file = nvchFileTitleIdentifyAndOpen(dir.write("c.kap", w.build()).c_str(), &title, 1); });
    if (file == nullptr) return c;
    int32_t z1, width, height, z2, bw, bh;
    LayerHandle *layer = nullptr;
    nvchLayerOpen(file, "Band_1", &z1, &width, &height, &z2, &bw, &bh, &layer);
    char *short_name = nullptr, *descriptor = nullptr, *type_name = nullptr;
    void *block = nullptr;
    c.result = nvchLayerMapProjectionRead(layer, &short_name, &block, &c.size, &descriptor, &type_name, &c.zeros[0],
                                          &c.zeros[1], &c.zeros[2], &c.zeros[3]);
    if (short_name) c.short_name = short_name;
    if (descriptor) c.descriptor = descriptor;
    if (type_name) c.type_name = type_name;
    if (block) {
        c.block = true;
        CoordSysRecord record;
        std::memcpy(&record, block, sizeof record);
        // The record's text address points just past the record.
        EXPECT_EQ(record.text, static_cast<const char *>(block) + sizeof(CoordSysRecord));
        EXPECT_EQ(static_cast<size_t>(c.size), record.length + sizeof(CoordSysRecord));
        c.text.assign(record.text, record.length);
    }
    for (void *p : {static_cast<void *>(short_name), block, static_cast<void *>(descriptor),
                    static_cast<void *>(type_name)})
        host_release(p);
    nvchLayerClose(layer);
    nvchFileClose(file);
    return c;
}

std::string mercator_wkt(const std::string &parallel) {
    return "PROJCS[\"WGS84_MERCATOR\"," + kGeogcs +
           ",PROJECTION[\"Mercator\"],PARAMETER[\"False_Easting\",0],PARAMETER[\"False_Northing\",0],"
           "PARAMETER[\"Central_Meridian\",0],PARAMETER[\"Standard_Parallel_1\"," +
           parallel + "],UNIT[\"Meter\",1.0]]";
}

const char *kMercatorKnp = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=-122.0,PI=UNKNOWN";

}  // namespace

TEST(CoordinateSystem, MercatorChartGetsItsTextInAPeCoordsysBlock) {
    const CoordSys c = query(kMercatorKnp);
    ASSERT_EQ(c.result, 0);
    EXPECT_EQ(c.short_name, "PE");
    EXPECT_EQ(c.type_name, "PE_COORDSYS");
    EXPECT_EQ(c.descriptor, "{0:pcstring,}Emif_String,{1:x{0:pcstring,}Emif_String,coordSys,}PE_COORDSYS,.");
    EXPECT_EQ(c.text, mercator_wkt("0"));
    EXPECT_EQ(c.text.size(), 335u);
    EXPECT_EQ(c.size, static_cast<int32_t>(335 + sizeof(CoordSysRecord)));
    if (sizeof(void *) == 4) {
        EXPECT_EQ(c.size, 343);   // the 32-bit plug-in's layout
    }
    for (int32_t zero : c.zeros) EXPECT_EQ(zero, 0);
}

TEST(CoordinateSystem, MercatorReportsTheLatitudeOfTrueScaleSetAfterTheOpen) {
    TempDir dir;
    kap::ChartWriter w = kap::simple_chart(20, 10);
    w.header[3] = kMercatorKnp;
    auto o = open_chart(dir.write("m.kap", w.build()));
    ASSERT_EQ(o->result, 0);
    BSB_set_LTS(45.5f);
    EXPECT_EQ(std::string(coordsys_wkt_build(&o->chart).get()), mercator_wkt("45.5"));
    BSB_set_LTS(22.25f);
    EXPECT_EQ(std::string(coordsys_wkt_build(&o->chart).get()), mercator_wkt("22.25"));
    // A Mercator open resets it.
    auto again = open_chart(dir.path("m.kap"));
    EXPECT_EQ(mercator_lts_get(), 0.0);
}

TEST(CoordinateSystem, OtherProjectionsUseTheirTemplatesAndTheHeadersMeridianText) {
    const CoordSys tm = query("KNP/SC=1,PR=Transverse Mercator,PP=-123.0,PI=1");
    ASSERT_EQ(tm.result, 0);
    EXPECT_EQ(tm.text, "PROJCS[\"WGS84_Transverse_Mercator\"," + kGeogcs +
                           ",PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",0],"
                           "PARAMETER[\"False_Northing\",0],PARAMETER[\"Central_Meridian\",-123.0],"
                           "PARAMETER[\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\",0],"
                           "UNIT[\"Meter\",1]]");
    const CoordSys utm = query("KNP/SC=1,PR=UNIVERSAL TRANSVERSE MERCATOR,PP=-123.0,PI=1");
    EXPECT_EQ(utm.text.rfind("PROJCS[\"WGS84_UTM\",", 0), 0u);
    EXPECT_EQ(utm.text.substr(utm.text.find(",PROJECTION")), tm.text.substr(tm.text.find(",PROJECTION")));
    const CoordSys poly = query("KNP/SC=1,PR=POLYCONIC,PP=-75.817,PI=1");
    EXPECT_EQ(poly.text, "PROJCS[\"WGS84_Polyconic\"," + kGeogcs +
                             ",PROJECTION[\"Polyconic\"],PARAMETER[\"False_Easting\",0],"
                             "PARAMETER[\"False_Northing\",0],PARAMETER[\"Central_Meridian\",-75.817],"
                             "PARAMETER[\"Latitude_Of_Origin\",0],UNIT[\"Meter\",1]]");
    const CoordSys lambert = query("KNP/SC=1,PR=LAMBERT CONFORMAL CONIC,PP=-91.589,PI=1,P2=30,P3=60");
    EXPECT_EQ(lambert.text, "PROJCS[\"WGS84_Lambert_Conformal_Conic\"," + kGeogcs +
                                ",PROJECTION[\"Lambert_Conformal_Conic\"],PARAMETER[\"False_Easting\",0],"
                                "PARAMETER[\"False_Northing\",0],PARAMETER[\"Central_Meridian\",-91.589],"
                                "PARAMETER[\"Standard_Parallel_1\",47.03333333],"
                                "PARAMETER[\"Standard_Parallel_2\",48.05],PARAMETER[\"Latitude_Of_Origin\",0],"
                                "UNIT[\"Meter\",1]]");
}

TEST(CoordinateSystem, ChartsWithoutATemplateOrMeridianGetNone) {
    for (const auto &[knp, extra] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {kMercatorKnp, {"ARC/UX=1,UY=2,DX=3,DY=4"}},
             {"KNP/SC=1,PR=ALBERS,PP=-96.0,P1=23,P5=29.5,P6=45.5", {}},
             {"KNP/SC=1,PR=UTM,PP=-96.0", {}}}) {
        const CoordSys c = query(knp, extra);
        EXPECT_EQ(c.result, -1) << knp;
        EXPECT_EQ(c.short_name, "PE");
        EXPECT_FALSE(c.block);
        EXPECT_EQ(c.type_name, "");
    }
    // No PP: the chart opens only with an ARC record; the query has none.
    TempDir dir;
    kap::ChartWriter w = kap::simple_chart(20, 10);
    w.header[3] = "KNP/SC=1,PR=MERCATOR";
    auto o = open_chart(dir.write("n.kap", w.build()));
    EXPECT_EQ(o->result, -1);
    ChartFile hand{};
    ChartReader reader;
    char knp[] = "KNP/SC=1,PR=MERCATOR\r\n";
    char *lines[] = {knp};
    reader.header.lines = lines;
    reader.header.count = 1;
    hand.reader = &reader;
    EXPECT_FALSE(coordsys_wkt_build(&hand));
}

TEST(CoordinateSystem, BuildsTheWholeTextHoweverLongTheMeridianText) {
    // Header lines are read in pieces of 499 bytes, so this is about the
    // longest meridian text a chart can carry; the text passes 510 bytes.
    const std::string meridian = "-75.817" + std::string(443, '0');
    const CoordSys c = query("KNP/SC=1,PR=POLYCONIC,PP=" + meridian + ",PI=1");
    ASSERT_EQ(c.result, 0);
    EXPECT_NE(c.text.find("PARAMETER[\"Central_Meridian\"," + meridian + "]"), std::string::npos);
    EXPECT_GT(c.text.size(), 700u);
    EXPECT_TRUE(c.text.ends_with("UNIT[\"Meter\",1]]"));
}
