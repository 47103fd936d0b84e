#include <gtest/gtest.h>

#include "chart_writer.h"
#include "host/layer_handle.h"
#include "nvch.h"
#include "open_chart.h"
#include "platform/heap.h"
#include "test_files.h"

namespace {

// A chart opened through the host interface, with its layer.
class HostChart {
public:
    explicit HostChart(const kap::ChartWriter &w) {
        int32_t title = 0;
        file_ = nvchFileTitleIdentifyAndOpen(dir_.write("h.kap", w.build()).c_str(), &title, 1);
        int32_t z1, width, height, z2, bw, bh;
        if (file_) nvchLayerOpen(file_, "Band_1", &z1, &width, &height, &z2, &bw, &bh, &layer_);
    }
    ~HostChart() {
        nvchLayerClose(layer_);
        nvchFileClose(file_);
    }
    LayerHandle *layer() const { return layer_; }
    ChartFile *file() const { return file_; }

private:
    TempDir dir_;
    ChartFile *file_ = nullptr;
    LayerHandle *layer_ = nullptr;
};

struct MapInfo {
    std::string name, units;
    double x = 0, y = 0, width = 0, height = 0;
    int32_t result = -9;
};

MapInfo map_info(LayerHandle *layer) {
    MapInfo m;
    char *name = nullptr, *units = nullptr;
    m.result = nvchLayerMapInfoRead(layer, &name, &m.x, &m.y, &m.width, &m.height, &units);
    if (name) m.name = name;
    if (units) m.units = units;
    host_release(name);
    host_release(units);
    return m;
}

kap::ChartWriter with_records(const std::vector<std::string> &records, int colors = 5) {
    kap::ChartWriter w = kap::simple_chart(20, 10, 4, colors);
    w.header.insert(w.header.end(), records.begin(), records.end());
    return w;
}

}  // namespace

TEST(MapInfo, ReportsTheFittedCornerWithNegatedPixelHeightInMetres) {
    HostChart c(with_records({}));
    ASSERT_NE(c.layer(), nullptr);
    const MapInfo m = map_info(c.layer());
    EXPECT_EQ(m.result, 0);
    EXPECT_EQ(m.name, "");
    EXPECT_EQ(m.units, "meter");
    EXPECT_EQ(m.x, c.file()->upper_left_x);
    EXPECT_EQ(m.y, c.file()->upper_left_y);
    EXPECT_EQ(m.width, c.file()->pixel_size_x);
    EXPECT_EQ(m.height, -c.file()->pixel_size_y);
    EXPECT_GT(m.width, 0);
    EXPECT_LT(m.height, 0);
}

TEST(MapInfo, NamesTheUnitsOfTheArcRecord) {
    const struct {
        const char *arc;
        const char *units;
    } cases[] = {
        {"ARC/UX=1,UY=2,DX=3,DY=4,UN=U.S. Feet", "feet"},
        {"ARC/UX=1,UY=2,DX=3,DY=4,UN=International Feet", "international_feet"},
        {"ARC/UX=1,UY=2,DX=3,DY=4,UN=Meters", "meters"},
        {"ARC/UX=1,UY=2,DX=3,DY=4,UN=Degrees of arc", "dd"},
        {"ARC/UX=1,UY=2,DX=3,DY=4,UN=Seconds of arc", "ds"},
        {"ARC/UX=1,UY=2,DX=3,DY=4,UN=Radians", "radians"},
        {"ARC/UX=1,UY=2,DX=3,DY=4,UN=METERS", "other"},
        {"ARC/UX=1,UY=2,DX=3,DY=4, UN=Meters", "meters"},
        {"ARC/UX=1,UY=2,DX=3,DY=4, UN=U.S. Feet,XX=1", "feet"},
        {"ARC/UX=1,UY=2,DX=3,DY=4", "other"},
        {"ARC/UX=1,UY=2,DX=3,DY=4, UN", "other"},
    };
    for (const auto &c : cases) {
        HostChart chart(with_records({c.arc}));
        ASSERT_NE(chart.layer(), nullptr) << c.arc;
        EXPECT_EQ(map_info(chart.layer()).units, c.units) << c.arc;
    }
}

TEST(ColourTable, GivesEachComponentScaledToOneAndBlackPastTheColours) {
    HostChart c(with_records({}, 16));   // depth 4: 17 entries
    ASSERT_NE(c.layer(), nullptr);
    ASSERT_EQ(c.file()->color_count, 17);
    std::vector<double> green(256, -1.0);
    EXPECT_EQ(nvchLayerColorRead(c.layer(), "Green", 0, 256, green.data()), 0);
    EXPECT_EQ(green[0], 1.0);
    for (int i = 1; i <= 16; ++i) EXPECT_EQ(green[i], (i * 91 % 256) * 0.00392156862745098) << i;
    for (int i = 17; i < 256; ++i) EXPECT_EQ(green[i], 0.0) << i;

    std::vector<double> part(16, -1.0);
    EXPECT_EQ(nvchLayerColorRead(c.layer(), "Red", 5, 10, part.data()), 0);
    for (int i = 0; i < 16; ++i) {
        if (i >= 5 && i < 10)
            EXPECT_EQ(part[i], (i * 37 % 256) * 0.00392156862745098) << i;
        else
            EXPECT_EQ(part[i], -1.0) << i;
    }
    // Past the colours, only the entries asked for are written, as black.
    std::vector<double> beyond(120, -1.0);
    EXPECT_EQ(nvchLayerColorRead(c.layer(), "Blue", 100, 105, beyond.data()), 0);
    for (int i = 0; i < 120; ++i) EXPECT_EQ(beyond[i], i >= 100 && i < 105 ? 0.0 : -1.0) << i;
    int32_t time = 9;
    EXPECT_EQ(nvchLayerColorModTimeGet(c.layer(), nullptr, &time), 0);
    EXPECT_EQ(time, 0);
}

TEST(ColourTable, AChartWithoutRgbRecordsHasOnlyItsWhiteEntry) {
    HostChart c(with_records({}, 0));
    std::vector<double> blue(4, -1.0);
    EXPECT_EQ(nvchLayerColorRead(c.layer(), "Blue", 0, 4, blue.data()), 0);
    EXPECT_EQ(blue, (std::vector<double>{1.0, 0.0, 0.0, 0.0}));
}

TEST(ColourTable, NeverReadsPastThePaletteArrays) {
    // Depth 1 has three entries; 6 records (4 out of range) count 7.
    auto w = kap::simple_chart(20, 10, 1, 0);
    w.header.insert(w.header.end(), {"RGB/1,255,0,0", "RGB/2,0,255,0", "RGB/3,1,1,1", "RGB/4,1,1,1",
                                     "RGB/200,1,1,1", "RGB/-4,1,1,1"});
    HostChart c(w);
    ASSERT_EQ(c.file()->color_count, 7);
    std::vector<double> red(8, -1.0);
    EXPECT_EQ(nvchLayerColorRead(c.layer(), "Red", -3, 8, red.data()), 0);
    EXPECT_EQ(red, (std::vector<double>{1.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}));
}

TEST(ColourTable, RefusesUnknownComponentsAndChartsWithoutColours) {
    HostChart c(with_records({}));
    std::vector<double> values(4, -1.0);
    EXPECT_EQ(nvchLayerColorRead(c.layer(), "Alpha", 0, 4, values.data()), -1);
    EXPECT_EQ(nvchLayerColorRead(c.layer(), "red", 0, 4, values.data()), -1);
    EXPECT_EQ(values, std::vector<double>(4, -1.0));

    ChartFile empty{};
    LayerHandle layer{&empty, 0, 1, 0};
    EXPECT_EQ(nvchLayerColorRead(&layer, "Red", 0, 4, values.data()), -1);
    EXPECT_EQ(values, std::vector<double>(4, -1.0));
    int32_t time = 9;
    EXPECT_EQ(nvchLayerColorModTimeGet(&layer, nullptr, &time), 0);
    EXPECT_EQ(time, -1);
}
