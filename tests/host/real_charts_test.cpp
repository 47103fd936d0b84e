// The five real charts: every pixel, colour and map position checked
// against reference values computed by independent implementations.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "chart/chart_reader.h"
#include "chart_writer.h"
#include "nvch.h"
#include "platform/heap.h"
#include "platform/heap_faults.h"
#include "open_chart.h"
#include "reader_probes.h"
#include "raster/tiled.h"
#include "sha256.h"
#include "test_files.h"

namespace {

struct RealChart {
    const char *file;
    int32_t width, height;
    const char *stored_sha256;
    uint8_t first_pixel, pixel_100_100;
    double upper_left_x, upper_left_y, pixel_width, pixel_height;
};

const RealChart kCharts[] = {
    {"11361_2.KAP", 1493, 2344, "7b97bd4c862f614f03f0d69cda18a28b0ffade2cc53454def8f49cc54cf5f956", 2, 2,
     -9959235.031, 3346996.492, 4.576367, -4.575701},
    {"12205_7.KAP", 2979, 609, "d35aec61daee7e60740467cdbf3af4dea3b5a21b16349b01a071695739475177", 2, 6,
     -8504165.640, 4265152.093, 6.298314, -6.225474},
    {"12205_12.KAP", 2296, 1230, "6bfd0fcf2073ab7fbbb8ae9d61edec3176eede3dd9df4a714c1b83865c2b0bfc", 2, 2,
     -8498079.176, 4306262.714, 6.285271, -6.280748},
    {"14988_2.KAP", 637, 665, "cbe2e4d80193de58fb07b753269975960c60a09ac741572372aad3491e6325a3", 1, 3,
     -1003.942, 5921542.833, 2.683277, -2.684420},
    {"14771_1.KAP", 9513, 7841, "15b327c7dab5edd3b9c6a608582e93d2f211953cee0f52001ac57b80f8da10de", 2, 2,
     -8264.393, 4933086.373, 1.499963, -1.500410},
};

void PrintTo(const RealChart &c, std::ostream *os) { *os << c.file; }

// Opens through the host interface and reads every block into one image.
struct HostRead {
    ChartFile *file = nullptr;
    LayerHandle *layer = nullptr;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    std::string sha256;

    explicit HostRead(const std::string &path) {
        int32_t title = -9;
        file = nvchFileTitleIdentifyAndOpen(path.c_str(), &title, 1);
        if (file == nullptr) return;
        int32_t z1, z2, bw, bh;
        nvchLayerOpen(file, "Band_1", &z1, &width, &height, &z2, &bw, &bh, &layer);
        pixels.assign(static_cast<size_t>(width) * height, 0);
        for (int32_t r = 0; r < height; ++r) {
            void *block = pixels.data() + static_cast<size_t>(r) * width;
            EXPECT_EQ(nvchLayerRasterRead(layer, static_cast<uint32_t>(r), 0, &block), 0) << r;
        }
        Sha256 h;
        h.update(pixels.data(), pixels.size());
        sha256 = h.hex();
    }
    ~HostRead() {
        nvchLayerClose(layer);
        nvchFileClose(file);
    }
};

// The "RGB" records of a chart's header, by index.
std::map<int, std::array<int, 3>> rgb_records(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::map<int, std::array<int, 3>> rgb;
    std::string line;
    while (std::getline(f, line) && line.find('\x1a') == std::string::npos) {
        if (line.rfind("RGB/", 0) != 0) continue;
        int i, r, g, b;
        if (std::sscanf(line.c_str(), "RGB/%d,%d,%d,%d", &i, &r, &g, &b) == 4) rgb[i] = {r, g, b};
    }
    return rgb;
}

class RealCharts : public ::testing::TestWithParam<RealChart> {
protected:
    void SetUp() override { REQUIRE_REAL_CHARTS(); }
};

}  // namespace

TEST_P(RealCharts, StoredPixelsMatchTheReferenceHashWithSkewCorrectionOff) {
    const RealChart &c = GetParam();
    SkewSwitch off(0);
    HostRead read(real_chart(c.file));
    ASSERT_NE(read.file, nullptr);
    EXPECT_EQ(read.width, c.width);
    EXPECT_EQ(read.height, c.height);
    EXPECT_EQ(read.pixels[0], c.first_pixel);
    EXPECT_EQ(read.pixels[100 * static_cast<size_t>(c.width) + 100], c.pixel_100_100);
    EXPECT_EQ(read.sha256, c.stored_sha256);
}

TEST_P(RealCharts, ColourTableHoldsTheRgbRecords) {
    const RealChart &c = GetParam();
    HostRead read(real_chart(c.file));
    ASSERT_NE(read.file, nullptr);
    const auto rgb = rgb_records(real_chart(c.file));
    ASSERT_EQ(read.file->color_count, static_cast<int32_t>(rgb.size()) + 1);
    std::vector<double> channel[3];
    const char *names[3] = {"Red", "Green", "Blue"};
    for (int k = 0; k < 3; ++k) {
        channel[k].assign(256, -1);
        ASSERT_EQ(nvchLayerColorRead(read.layer, names[k], 0, 256, channel[k].data()), 0);
        EXPECT_EQ(channel[k][0], 1.0);
    }
    for (const auto &[index, colour] : rgb)
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(channel[k][index] * 255.0, colour[k], 1e-9) << index;
    for (int i = static_cast<int>(rgb.size()) + 1; i < 256; ++i) EXPECT_EQ(channel[0][i], 0.0);
}

TEST_P(RealCharts, MapInformationMatchesTheIndependentFit) {
    const RealChart &c = GetParam();
    HostRead read(real_chart(c.file));
    ASSERT_NE(read.file, nullptr);
    char *name = nullptr, *units = nullptr;
    double x, y, w, h;
    ASSERT_EQ(nvchLayerMapInfoRead(read.layer, &name, &x, &y, &w, &h, &units), 0);
    EXPECT_STREQ(units, "meter");
    EXPECT_NEAR(x, c.upper_left_x, 0.01);
    EXPECT_NEAR(y, c.upper_left_y, 0.01);
    EXPECT_NEAR(w, c.pixel_width, 1e-5);
    EXPECT_NEAR(h, c.pixel_height, 1e-5);
    host_release(name);
    host_release(units);
}

INSTANTIATE_TEST_SUITE_P(Noaa, RealCharts, ::testing::ValuesIn(kCharts),
                         [](const auto &info) {
                             std::string n = info.param.file;
                             return "chart_" + n.substr(0, n.find('.'));
                         });

namespace {

struct SkewedChart {
    const char *file;
    int32_t width, height, min_x, min_y;
    const char *upright_sha256;
    bool every_row_direct;   // direct decoding of all of the 45-degree chart takes a minute
};

const SkewedChart kSkewed[] = {
    {"12205_7.KAP", 2940, 1866, 0, -1321, "58591d1d23d40b72d5b66199efab6c0c227de6c41b90948817dff38d84ba85e4", true},
    {"12205_12.KAP", 2550, 1832, -349, 0, "c30313e225f40a4f95c95b95713ef1c20090077e0451cbe9c885a498659f0422", true},
    {"14771_1.KAP", 12269, 12272, 0, -6735, "5b73abd9f12c1c5774a44be410e668937108ae0fc4fdb89132b002bed97f4abe",
     false},
};

void PrintTo(const SkewedChart &c, std::ostream *os) { *os << c.file; }

std::string sha256_of(const std::vector<uint8_t> &pixels) {
    Sha256 h;
    h.update(pixels.data(), pixels.size());
    return h.hex();
}

class SkewedRealCharts : public ::testing::TestWithParam<SkewedChart> {
protected:
    void SetUp() override { REQUIRE_REAL_CHARTS(); }
};

}  // namespace

TEST_P(SkewedRealCharts, UprightPixelsMatchTheReferenceFromTheCache) {
    const SkewedChart &c = GetParam();
    HostRead read(real_chart(c.file));
    ASSERT_NE(read.file, nullptr);
    EXPECT_EQ(read.width, c.width);
    EXPECT_EQ(read.height, c.height);
    EXPECT_EQ(read.file->reader->skew.min_x, c.min_x);
    EXPECT_EQ(read.file->reader->skew.min_y, c.min_y);
    EXPECT_EQ(read.file->reader->mode, RowMode::skewed_tiled);
    EXPECT_EQ(read.sha256, c.upright_sha256);
}

TEST_P(SkewedRealCharts, DirectDecodingDeliversTheSameBytes) {
    // Each stored row a row crosses decoded from the file: what a row
    // whose tiles cannot be had comes from.
    const SkewedChart &c = GetParam();
    auto o = open_chart(real_chart(c.file));
    ASSERT_EQ(o->result, 0);
    o->chart.reader->mode = RowMode::skewed_direct;
    std::vector<uint8_t> first(static_cast<size_t>(c.width));
    if (c.every_row_direct) {
        EXPECT_EQ(sha256_of(o->all_rows()), c.upright_sha256);
        return;
    }
    // Forty rows across the chart, against the cache's rows.
    auto cached = open_chart(real_chart(c.file));
    std::vector<uint8_t> direct_row(first.size()), cached_row(first.size());
    for (int32_t y = 0; y < c.height; y += c.height / 40) {
        ASSERT_EQ(BSB_getrow(y, direct_row.data(), &o->chart), 0);
        ASSERT_EQ(BSB_getrow(y, cached_row.data(), &cached->chart), 0);
        EXPECT_EQ(direct_row, cached_row) << y;
    }
}

TEST_P(SkewedRealCharts, AFailedAllocationAtTheFirstRowLeavesNoSlowPath) {
    // The tiles cannot be had at the first row: that row comes from whole
    // stored rows, and the next from tiles again; every row is right.
    const SkewedChart &c = GetParam();
    auto o = open_chart(real_chart(c.file));
    ASSERT_EQ(o->result, 0);
    std::vector<uint8_t> first(static_cast<size_t>(c.width));
    heap_fail_after(0);
    Captured output = capture_output([&] { EXPECT_EQ(BSB_getrow(0, first.data(), &o->chart), 0); });
    heap_fail_after(-1);
    EXPECT_EQ(output.err, "");
    EXPECT_EQ(o->chart.reader->mode, RowMode::skewed_untried);
    std::vector<uint8_t> second(first.size());
    ASSERT_EQ(BSB_getrow(1, second.data(), &o->chart), 0);
    EXPECT_EQ(o->chart.reader->mode, RowMode::skewed_tiled);
    auto whole = o->all_rows();
    EXPECT_TRUE(std::equal(first.begin(), first.end(), whole.begin()));
    EXPECT_EQ(sha256_of(whole), c.upright_sha256);
}

INSTANTIATE_TEST_SUITE_P(Noaa, SkewedRealCharts, ::testing::ValuesIn(kSkewed), [](const auto &info) {
    std::string n = info.param.file;
    return "chart_" + n.substr(0, n.find('.'));
});

namespace {

// Each skewed chart through each kernel on its own: the blocks read through
// byte permutes (their ragged ends gathered with AVX-512) and byte
// shuffles (the ends with AVX2), and the SSE2 gathers of older processors.
// A kernel this processor lacks is skipped, with its reason.
class SkewedRealChartKernels : public ::testing::TestWithParam<std::tuple<SkewedChart, SkewKernel>> {
protected:
    void SetUp() override {
        REQUIRE_REAL_CHARTS();
        if (const std::string missing = kernel_missing(std::get<1>(GetParam())); !missing.empty())
            GTEST_SKIP() << missing;
    }
};

}  // namespace

TEST_P(SkewedRealChartKernels, GiveTheReferencePixels) {
    const auto &[c, kernel] = GetParam();
    auto o = open_chart(real_chart(c.file));
    ASSERT_EQ(o->result, 0);
    ChartReader &r = *o->chart.reader;
    TiledOptions options;
    options.kernel = kernel;
    r.tiled = tiled_image_make(r.image, r.skew, options);
    ASSERT_NE(r.tiled, nullptr);
    r.mode = RowMode::skewed_tiled;
    EXPECT_EQ(sha256_of(o->all_rows()), c.upright_sha256);
}

INSTANTIATE_TEST_SUITE_P(Noaa, SkewedRealChartKernels,
                         ::testing::Combine(::testing::ValuesIn(kSkewed),
                                            ::testing::Values(SkewKernel::vbmi_blocks, SkewKernel::avx2_blocks,
                                                              SkewKernel::sse2)),
                         [](const auto &info) {
                             std::string n = std::get<0>(info.param).file;
                             return "chart_" + n.substr(0, n.find('.')) + "_" +
                                    skew_kernel_info(std::get<1>(info.param)).name;
                         });

namespace {

// A real chart with one header text changed (the index moved to match),
// opened through the host interface and read whole.
struct EditedRead {
    TempDir dir;
    std::unique_ptr<HostRead> read;
    EditedRead(const char *chart, const std::string &from, const std::string &to) {
        const kap::Bytes edited = kap::edit_header(kap::read_file(real_chart(chart)), from, to);
        read = std::make_unique<HostRead>(dir.write(chart, edited));
    }
};

}  // namespace

TEST(RealChartsEdited, AnOstInTheBillionsReadsTheSamePixelsWithoutStartingOver) {
    REQUIRE_REAL_CHARTS();
    // Every row sits under the first index entry: each is reached by
    // passing over the rows before it, once, in order.
    const std::string billions = "OST/2000000000\r\n";
    {
        SkewSwitch off(0);
        EditedRead stored("12205_7.KAP", "OST/1\r\n", billions);
        ASSERT_NE(stored.read->file, nullptr);
        EXPECT_EQ(stored.read->sha256, kCharts[1].stored_sha256);
    }
    EditedRead upright("12205_7.KAP", "OST/1\r\n", billions);
    ASSERT_NE(upright.read->file, nullptr);
    EXPECT_EQ(upright.read->sha256, kSkewed[0].upright_sha256);
}

TEST(RealChartsEdited, ASizeClaimedInTheBillionsIsRefused) {
    REQUIRE_REAL_CHARTS();
    TempDir dir;
    kap::Bytes edited = kap::edit_header(kap::read_file(real_chart("11361_2.KAP")), "RA=1493,2344",
                                         "RA=2000000000,2000000000");
    edited = kap::edit_header(edited, "SK=0.0000000", "SK=270");
    auto o = open_chart(dir.write("claims.kap", edited));
    EXPECT_EQ(o->result, -1);
    EXPECT_EQ(o->output.err,
              "Chart of 2000000000 x 2000000000 pixels is larger than this reader serves (131072 pixels a side)\n");
}
