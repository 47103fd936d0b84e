#include <gtest/gtest.h>

#include "chart_writer.h"
#include "host/layer_handle.h"
#include "nvch.h"
#include "open_chart.h"
#include "test_files.h"

namespace {

struct LayerInfo {
    int32_t zero1 = 9, width = 0, height = 0, zero2 = 9, block_width = 0, block_height = 0;
    LayerHandle *layer = nullptr;
    int32_t result = -9;
};

LayerInfo open_layer(ChartFile *file, const char *name = "Band_1") {
    LayerInfo i;
    i.result = nvchLayerOpen(file, name, &i.zero1, &i.width, &i.height, &i.zero2, &i.block_width,
                             &i.block_height, &i.layer);
    return i;
}

class Layers : public ::testing::Test {
protected:
    TempDir dir;
    kap::ChartWriter w = kap::simple_chart(1000, 800);
    ChartFile *file = nullptr;
    void SetUp() override {
        int32_t title = 0;
        const std::string path = dir.write("l.kap", w.build());
        file = nvchFileTitleIdentifyAndOpen(path.c_str(), &title, 1);
        ASSERT_NE(file, nullptr);
    }
    void TearDown() override { nvchFileClose(file); }
};

}  // namespace

TEST_F(Layers, ReportsTheChartSizeAndOneRowBlocks) {
    LayerInfo i = open_layer(file);
    ASSERT_EQ(i.result, 0);
    EXPECT_EQ(i.zero1, 0);
    EXPECT_EQ(i.zero2, 0);
    EXPECT_EQ(i.width, 1000);
    EXPECT_EQ(i.height, 800);
    EXPECT_EQ(i.block_width, 1000);
    EXPECT_EQ(i.block_height, 1);
    EXPECT_EQ(nvchLayerClose(i.layer), 0);
}

TEST_F(Layers, BlockRowsAreChartRowsAndBlocksPastTheEndReadNothing) {
    LayerInfo i = open_layer(file);
    kap::Bytes image(1000 * 800, 0xEE);
    for (uint32_t r = 0; r < 800; ++r) {
        void *block = image.data() + r * 1000;
        ASSERT_EQ(nvchLayerRasterRead(i.layer, r, 0, &block), 0);
    }
    EXPECT_EQ(image, w.pixels);
    kap::Bytes untouched(1000, 0xEE);
    void *block = untouched.data();
    for (uint32_t r : {800u, 801u, 0xFFFFFFFFu}) {
        EXPECT_EQ(nvchLayerRasterRead(i.layer, r, 0, &block), 0);
        EXPECT_EQ(untouched, kap::Bytes(1000, 0xEE));
    }
    // The block column only enters the row stride: a one-row block lands
    // at the buffer's start.
    EXPECT_EQ(nvchLayerRasterRead(i.layer, 799, 3, &block), 0);
    EXPECT_TRUE(std::equal(untouched.begin(), untouched.end(), w.pixels.begin() + 799 * 1000));
    nvchLayerClose(i.layer);
}

TEST_F(Layers, ClosingALayerLeavesTheFileUsable) {
    LayerInfo first = open_layer(file);
    EXPECT_EQ(nvchLayerClose(first.layer), 0);
    LayerInfo second = open_layer(file);
    kap::Bytes row(1000);
    void *block = row.data();
    EXPECT_EQ(nvchLayerRasterRead(second.layer, 5, 0, &block), 0);
    EXPECT_TRUE(std::equal(row.begin(), row.end(), w.pixels.begin() + 5 * 1000));
    nvchLayerClose(second.layer);
}

TEST_F(Layers, AnyNameOpensTheChartsOneLayer) {
    // The file has one layer; whatever name a host asks for, it gets that
    // layer: its size, its block and its rows.
    for (const char *name : {"Band_1", "Band_7", "My_Band_ 12x", "Band", "Band_", ""}) {
        LayerInfo i = open_layer(file, name);
        ASSERT_EQ(i.result, 0) << name;
        EXPECT_EQ(i.width, 1000) << name;
        EXPECT_EQ(i.height, 800) << name;
        EXPECT_EQ(i.block_width, 1000) << name;
        EXPECT_EQ(i.block_height, 1) << name;
        std::vector<uint8_t> row(1000);
        void *block = row.data();
        ASSERT_EQ(nvchLayerRasterRead(i.layer, 5, 0, &block), 0) << name;
        EXPECT_TRUE(std::equal(row.begin(), row.end(), w.pixels.begin() + 5 * 1000)) << name;
        nvchLayerClose(i.layer);
    }
}

TEST(LayerRead, FailsAtTheFirstRowThatCannotBeDelivered) {
    TempDir dir;
    auto w = kap::simple_chart(10, 4);
    w.index_entries[2] = 1 << 30;
    int32_t title = 0;
    ChartFile *file = nvchFileTitleIdentifyAndOpen(dir.write("b.kap", w.build()).c_str(), &title, 1);
    ASSERT_NE(file, nullptr);
    LayerInfo i = open_layer(file);
    kap::Bytes row(10, 0xEE);
    void *block = row.data();
    EXPECT_EQ(nvchLayerRasterRead(i.layer, 2, 0, &block), -1);
    EXPECT_EQ(row, kap::Bytes(10, 0xEE));
    EXPECT_EQ(nvchLayerRasterRead(i.layer, 3, 0, &block), 0);
    void *no_buffer = nullptr;
    EXPECT_EQ(nvchLayerRasterRead(i.layer, 0, 0, &no_buffer), -1);
    nvchLayerClose(i.layer);
    nvchFileClose(file);
}

TEST(Handles, AClosedOrUnknownHandleGetsMinusOneNeverACrash) {
    TempDir dir;
    const auto w = kap::simple_chart(40, 6);
    const std::string path = dir.write("h.kap", w.build());
    int32_t title = 0;
    ChartFile *file = nvchFileTitleIdentifyAndOpen(path.c_str(), &title, 1);
    ASSERT_NE(file, nullptr);
    LayerInfo i = open_layer(file);
    ASSERT_EQ(i.result, 0);
    std::vector<uint8_t> row(40, 0xEE);
    void *block = row.data();
    ASSERT_EQ(nvchLayerRasterRead(i.layer, 2, 0, &block), 0);

    // The file closed under its layer: the layer reads nothing, and is
    // closed once.
    EXPECT_EQ(nvchFileClose(file), 0);
    EXPECT_EQ(nvchFileClose(file), -1);
    EXPECT_EQ(nvchLayerRasterRead(i.layer, 2, 0, &block), -1);
    double corner = 0;
    EXPECT_EQ(nvchLayerMapInfoRead(i.layer, nullptr, &corner, nullptr, nullptr, nullptr, nullptr), -1);
    std::vector<double> red(4);
    EXPECT_EQ(nvchLayerColorRead(i.layer, "Red", 0, 4, red.data()), -1);
    LayerInfo orphan = open_layer(file);
    EXPECT_EQ(orphan.result, -1);
    EXPECT_EQ(nvchLayerClose(i.layer), 0);
    EXPECT_EQ(nvchLayerClose(i.layer), -1);
    EXPECT_EQ(nvchLayerRasterRead(i.layer, 2, 0, &block), -1);

    // Addresses the plug-in never handed out.
    ChartFile stranger{};
    LayerHandle *unknown = reinterpret_cast<LayerHandle *>(&stranger);
    EXPECT_EQ(nvchFileClose(&stranger), -1);
    EXPECT_EQ(nvchLayerClose(unknown), -1);
    EXPECT_EQ(nvchLayerRasterRead(unknown, 0, 0, &block), -1);
    EXPECT_EQ(open_layer(&stranger).result, -1);
    EXPECT_EQ(nvchFileClose(nullptr), 0);
    EXPECT_EQ(nvchLayerClose(nullptr), 0);
}
