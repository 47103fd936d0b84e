#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "chart_writer.h"
#include "open_chart.h"
#include "platform/heap.h"
#include "platform/heap_faults.h"
#include "chart/chart_reader.h"
#include "georef/matrix.h"
#include "raster/tiled.h"
#include "raster/skew.h"
#include "reader_probes.h"
#include "test_files.h"

namespace {

constexpr double kRadians = 0.017453292519943295;

// A depth-7 chart whose stored pixel (x, y) is 1 + (x + 3y) % 126, skewed
// by `degrees`.
kap::ChartWriter skewed_chart(int width, int height, double degrees) {
    kap::ChartWriter w = kap::simple_chart(width, height, 7, 3);
    char knp[160];
    std::snprintf(knp, sizeof knp, "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,PI=UNKNOWN,SP=,SK=%.10g,TA=90", degrees);
    w.header[3] = knp;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) w.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(1 + (x + 3 * y) % 126);
    return w;
}

// The upright image computed here from the rotation's definition: output
// pixel (i, r) shows stored pixel (trunc(a c - b s), trunc(b c + a s)) with
// a = min_x + i, b = min_y + r, or 0 outside the stored image.
std::vector<uint8_t> upright_by_definition(const kap::ChartWriter &w, const ChartReader &r, int32_t width,
                                           int32_t height) {
    std::vector<uint8_t> out(static_cast<size_t>(width) * height);
    const double s = std::sin(r.skew.angle), c = std::cos(r.skew.angle);
    for (int32_t row = 0; row < height; ++row) {
        for (int32_t i = 0; i < width; ++i) {
            const double a = r.skew.min_x + i, b = r.skew.min_y + row;
            const double as = a * s, ac = a * c, bs = b * s, bc = b * c;
            const auto x = static_cast<int64_t>(ac - bs), y = static_cast<int64_t>(bc + as);
            const bool inside = x >= 0 && x < w.width && y >= 0 && y < w.height;
            out[static_cast<size_t>(row) * width + i] = inside ? w.pixel(static_cast<int>(x), static_cast<int>(y)) : 0;
        }
    }
    return out;
}

// A provider that counts its calls and serves rows of a decoded image.
struct CountingProvider {
    static inline const kap::ChartWriter *image = nullptr;
    static inline int calls = 0;
    static inline int fail_at = -1;
    static uint8_t *provide(int32_t row, void *scratch) {
        if (calls++ == fail_at) return nullptr;
        auto *out = static_cast<uint8_t *>(scratch);
        std::copy_n(image->pixels.begin() + static_cast<size_t>(row) * image->width, image->width, out);
        return out;
    }
};

}  // namespace

TEST(SkewRotation, WorkedExampleTenDegrees) {
    const double t = 10 * kRadians;
    int32_t x, y;
    skew_rotate(100, 0, &x, &y, std::sin(-t), std::cos(-t));
    EXPECT_EQ(x, 98);
    EXPECT_EQ(y, -17);
    skew_rotate(100, 50, &x, &y, std::sin(-t), std::cos(-t));
    EXPECT_EQ(x, 107);
    EXPECT_EQ(y, 31);
    skew_rotate(0, 50, &x, &y, std::sin(-t), std::cos(-t));
    EXPECT_EQ(x, 8);
    EXPECT_EQ(y, 49);
    // Truncation toward zero: G(0, -17) = (2, -16), G(106, 48) = (96, 65).
    skew_rotate(0, -17, &x, &y, std::sin(t), std::cos(t));
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, -16);
    skew_rotate(106, 48, &x, &y, std::sin(t), std::cos(t));
    EXPECT_EQ(x, 96);
    EXPECT_EQ(y, 65);
    skew_rotate(0, 3, &x, &y, std::sin(t), std::cos(t));   // x = -0.52 truncates to 0
    EXPECT_EQ(x, 0);

    TempDir dir;
    const auto w = skewed_chart(100, 50, 10);
    auto o = open_chart(dir.write("s.kap", w.build()));
    ASSERT_EQ(o->result, 0) << o->output.err;
    const ChartReader &r = *o->chart.reader;
    EXPECT_EQ(o->chart.width, 107);
    EXPECT_EQ(o->chart.height, 66);
    EXPECT_EQ(r.skew.min_x, 0);
    EXPECT_EQ(r.skew.min_y, -17);
    EXPECT_EQ(r.image.width, 100);
    EXPECT_EQ(r.image.height, 50);
    const auto image = o->all_rows();
    auto at = [&](int i, int row) { return image[static_cast<size_t>(row) * 107 + i]; };
    EXPECT_EQ(at(0, 17), w.pixel(0, 0));
    EXPECT_EQ(at(10, 17), w.pixel(9, 1));
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(106, 65), 0);

    // A reference point at (50.7, 20.2) is cut to (50, 20) and lands at (52, 28).
    double **p = matrix(0, 1, 0, 0);
    p[0][0] = 50.7;
    p[1][0] = 20.2;
    skew_ref_points(p, 1, r.skew);
    EXPECT_EQ(p[0][0], 52);
    EXPECT_EQ(p[1][0], 28);
    release_matrix(p, 0, 1, 0, 0);
}

TEST(SkewRotation, EveryAngleAndSizeMatchesTheDefinitionInBothModes) {
    TempDir dir;
    const double angles[] = {10, -30, 45.0741597, 90, 180, 270, 343.4711111, 360, 0.001, 719.5, 26.3247222};
    const int sizes[][2] = {{100, 50}, {37, 91}, {300, 7}, {1, 1}, {513, 260}};
    for (double angle : angles) {
        for (const auto &size : sizes) {
            const auto w = skewed_chart(size[0], size[1], angle);
            const std::string path = dir.write("a.kap", w.build());
            auto cached = open_chart(path);
            ASSERT_EQ(cached->result, 0) << angle;
            const auto expected =
                upright_by_definition(w, *cached->chart.reader, cached->chart.width, cached->chart.height);
            EXPECT_EQ(cached->all_rows(), expected) << angle << " " << size[0] << "x" << size[1];
            if (cached->chart.width == 0 || cached->chart.height == 0) continue;   // a 1 x 1 chart turned
            EXPECT_EQ(cached->chart.reader->mode, RowMode::skewed_tiled);

            auto direct = open_chart(path);
            direct->chart.reader->mode = RowMode::skewed_direct;
            EXPECT_EQ(direct->all_rows(), expected) << angle;
        }
    }
}

TEST(SkewRotation, AsksTheProviderOncePerRunOfStoredRowsAndStopsAtANullRow) {
    TempDir dir;
    const auto w = skewed_chart(100, 50, 10);
    auto o = open_chart(dir.write("p.kap", w.build()));
    ChartFile &chart = o->chart;
    CountingProvider::image = &w;
    // Output row 40 crosses stored rows; count the runs of equal stored
    // rows inside the image.
    const ChartReader &r = *chart.reader;
    int runs = 0;
    int32_t last = -1;
    for (int32_t i = 0; i < chart.width; ++i) {
        int32_t x, y;
        skew_rotate(r.skew.min_x + i, r.skew.min_y + 40, &x, &y, r.skew.sin, r.skew.cos);
        if (x < 0 || x >= 100 || y < 0 || y >= 50) continue;
        if (y != last) ++runs;
        last = y;
    }
    ASSERT_GT(runs, 5);
    std::vector<uint8_t> row(static_cast<size_t>(chart.width), 0xEE);
    CountingProvider::calls = 0;
    CountingProvider::fail_at = -1;
    std::vector<uint8_t> scratch(100);
    EXPECT_EQ(skew_getrow(r.skew, 100, 50, 40, row.data(), CountingProvider::provide, scratch.data()), 0);
    EXPECT_EQ(CountingProvider::calls, runs);

    std::vector<uint8_t> failed(static_cast<size_t>(chart.width), 0xEE);
    CountingProvider::calls = 0;
    CountingProvider::fail_at = 2;
    EXPECT_EQ(skew_getrow(r.skew, 100, 50, 40, failed.data(), CountingProvider::provide, scratch.data()), -1);
    // Pixels up to the third stored row are written; the rest untouched.
    const auto first_untouched = std::find(failed.begin(), failed.end(), 0xEE);
    ASSERT_NE(first_untouched, failed.end());
    EXPECT_TRUE(std::equal(failed.begin(), first_untouched, row.begin()));
    EXPECT_TRUE(std::all_of(first_untouched, failed.end(), [](uint8_t v) { return v == 0xEE; }));
}

TEST(RowCache, NothingIsDecodedBeforeTheFirstRowAndRowsOutsideAreRefused) {
    TempDir dir;
    const auto w = skewed_chart(120, 60, 30);
    auto o = open_chart(dir.write("c.kap", w.build()));
    ChartFile &chart = o->chart;
    ChartReader &r = *chart.reader;
    EXPECT_EQ(r.mode, RowMode::skewed_untried);
    EXPECT_EQ(r.tiled, nullptr);
    std::vector<uint8_t> row(static_cast<size_t>(chart.width));
    ASSERT_EQ(BSB_getrow(chart.height / 2, row.data(), &chart), 0);
    EXPECT_EQ(r.mode, RowMode::skewed_tiled);
    // Stored rows come out exactly, from the tiles' index and from the file.
    std::vector<uint8_t> stored(120 + 16);
    for (int32_t y = 0; y < 60; ++y) {
        tiled_image_stored_row(*r.tiled, y, stored.data());
        EXPECT_TRUE(std::equal(w.pixels.begin() + y * 120, w.pixels.begin() + (y + 1) * 120, stored.begin())) << y;
        const uint8_t *direct = decode_into_scratch(r.image, r.walk, r.scratch, y);
        ASSERT_NE(direct, nullptr);
        EXPECT_TRUE(std::equal(w.pixels.begin() + y * 120, w.pixels.begin() + (y + 1) * 120, direct)) << y;
    }
    EXPECT_EQ(decode_into_scratch(r.image, r.walk, r.scratch, -1), nullptr);
    EXPECT_EQ(decode_into_scratch(r.image, r.walk, r.scratch, 60), nullptr);
    // Rows outside the upright image are refused without reading.
    std::vector<uint8_t> untouched(row.size(), 0xEE);
    EXPECT_EQ(BSB_getrow(-1, untouched.data(), &chart), -1);
    EXPECT_EQ(BSB_getrow(chart.height, untouched.data(), &chart), -1);
    EXPECT_EQ(untouched, std::vector<uint8_t>(row.size(), 0xEE));
}

TEST(SkewRotation, RowsReadInAnyOrderEqualTheRowsReadInOrder) {
    // Rows asked for backwards, at random, twice, or across tile
    // boundaries come out the same.
    TempDir dir;
    const auto w = skewed_chart(150, 70, 33);
    const std::string path = dir.write("o.kap", w.build());
    auto in_order = open_chart(path);
    const auto expected = in_order->all_rows();
    auto shuffled = open_chart(path);
    const int32_t width = shuffled->chart.width, height = shuffled->chart.height;
    std::vector<int32_t> order;
    for (int32_t y = height - 1; y >= 0; --y) order.push_back(y);
    std::mt19937 random(5);
    for (int k = 0; k < 200; ++k) order.push_back(static_cast<int32_t>(random() % static_cast<uint32_t>(height)));
    for (int32_t y : {7, 8, 7, 15, 16, 0}) order.push_back(y);
    std::vector<uint8_t> row(static_cast<size_t>(width));
    for (int32_t y : order) {
        ASSERT_EQ(BSB_getrow(y, row.data(), &shuffled->chart), 0);
        ASSERT_TRUE(std::equal(row.begin(), row.end(), expected.begin() + static_cast<ptrdiff_t>(y) * width)) << y;
    }
}

TEST(RowCache, DamagedRowsReadAsZeroInBothModes) {
    TempDir dir;
    auto w = skewed_chart(60, 30, 20);
    w.index_entries[5] = 1 << 30;            // row 5 cannot be found
    w.raw_rows[9] = kap::row_record(10, kap::Bytes(7, 3), 7);   // row 9 is short
    const std::string path = dir.write("d.kap", w.build());
    auto stored = w;
    std::fill_n(stored.pixels.begin() + 5 * 60, 60, 0);
    std::fill_n(stored.pixels.begin() + 9 * 60, 60, 0);
    std::fill_n(stored.pixels.begin() + 9 * 60, 7, 3);
    auto cached = open_chart(path);
    const auto expected = upright_by_definition(stored, *cached->chart.reader, cached->chart.width, cached->chart.height);
    EXPECT_EQ(cached->all_rows(), expected);
    auto direct = open_chart(path);
    direct->chart.reader->mode = RowMode::skewed_direct;
    EXPECT_EQ(direct->all_rows(), expected);
}

TEST(SkewSetup, RotatesHugeButFiniteAngles) {
    TempDir dir;
    auto w = kap::simple_chart(10, 4);
    w.header[3] = "KNP/SC=1,PR=MERCATOR,PP=1,SK=1e308";
    w.header[2] = "BSB/NA=X,RA=10,4";
    auto far = open_chart(dir.write("f.kap", w.build()));
    ASSERT_EQ(far->result, 0) << far->output.err;   // a huge but finite angle still rotates
}
