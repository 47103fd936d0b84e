// Header values that would make a tiny file cost seconds a row: the work of
// every row stays bounded by the file, and the pixels stay those the
// format defines (checked against a decoder written from the format alone).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "chart/chart_reader.h"
#include "chart_writer.h"
#include "nvch.h"
#include "open_chart.h"
#include "test_files.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace {

using kap::Bytes;

constexpr int kBillions = 2000000000;

// An upright chart of `width` x `height` claimed pixels whose file holds
// eight rows under one index entry that covers two billion rows.
kap::ChartWriter ost_in_the_billions(int width, int height, const std::string &sk = "SK=0.0") {
    kap::ChartWriter w = kap::simple_chart(width, 8);
    w.rows_per_entry = kBillions;
    char record[96];
    std::snprintf(record, sizeof record, "BSB/NA=X,RA=%d,%d", width, height);
    w.header[2] = record;
    w.header[3] = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0," + sk;
    w.header[5] = "OST/2000000000";
    return w;
}

Bytes row_by_definition(const Bytes &file, const kap::ChartWriter &w, int row, int width, uint8_t fill) {
    Bytes buffer(static_cast<size_t>(width), fill);
    EXPECT_TRUE(kap::decode_row_by_definition(file, w.depth, w.rows_per_entry, row, buffer));
    return buffer;
}

}  // namespace

TEST(BoundedWork, RowsOfAnEntryInTheBillionsArePassedOverOnlyToTheEndOfTheFile) {
    TempDir dir;
    const auto w = ost_in_the_billions(100, 131072);
    const Bytes file = w.build();
    auto o = open_chart(dir.write("ost.kap", file));
    ASSERT_EQ(o->result, 0) << o->output.err;
    // The last row would pass over 131071 rows; past the eighth there is
    // nothing left to pass over.
    for (int row : {131071, 0, 1, 7, 8, 9, 500, 131070, 3}) {
        Bytes got(100, 0xEE);
        ASSERT_EQ(BSB_getrow(row, got.data(), &o->chart), 0);
        EXPECT_EQ(got, row_by_definition(file, w, row, 100, 0xEE)) << row;
    }
}

TEST(BoundedWork, EveryRowOfOneLongEntryIsPassedOverOnce) {
    // 3000 rows under one index entry: read in order, each row continues
    // from where the previous one stood instead of passing over all the
    // rows before it again. The rows cover their width, so the pixels are
    // those of the same chart with an entry a row.
    TempDir dir;
    kap::ChartWriter one_entry = kap::simple_chart(400, 3000);
    one_entry.rows_per_entry = kBillions;
    one_entry.header[5] = "OST/2000000000";
    auto o = open_chart(dir.write("long.kap", one_entry.build()));
    ASSERT_EQ(o->result, 0) << o->output.err;
    EXPECT_EQ(o->all_rows(), one_entry.pixels);

    auto skewed = one_entry, plain = kap::simple_chart(400, 3000);
    for (kap::ChartWriter *w : {&skewed, &plain})
        w->header[3] = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=30";
    auto turned = open_chart(dir.write("turned.kap", skewed.build()));
    auto reference = open_chart(dir.write("reference.kap", plain.build()));
    ASSERT_EQ(turned->result, 0) << turned->output.err;
    EXPECT_EQ(turned->all_rows(), reference->all_rows());
}

TEST(BoundedWork, ASkewedChartWithAnEntryInTheBillionsDecodesEachStoredRowOnce) {
    TempDir dir;
    const auto w = ost_in_the_billions(100, 2000, "SK=30");
    const Bytes file = w.build();
    auto o = open_chart(dir.write("ost.kap", file));
    ASSERT_EQ(o->result, 0) << o->output.err;
    const ChartReader &r = *o->chart.reader;
    // The stored image as the format defines it, on a zero background.
    std::vector<Bytes> stored;
    for (int y = 0; y < 2000; ++y) stored.push_back(row_by_definition(file, w, y, 100, 0));
    const auto image = o->all_rows();
    const double s = std::sin(r.skew.angle), c = std::cos(r.skew.angle);
    for (int32_t row = 0; row < o->chart.height; ++row) {
        for (int32_t i = 0; i < o->chart.width; ++i) {
            const double a = r.skew.min_x + i, b = r.skew.min_y + row;
            const auto x = static_cast<int64_t>(a * c - b * s), y = static_cast<int64_t>(b * c + a * s);
            const bool inside = x >= 0 && x < 100 && y >= 0 && y < 2000;
            const uint8_t expected = inside ? stored[static_cast<size_t>(y)][static_cast<size_t>(x)] : 0;
            ASSERT_EQ(image[static_cast<size_t>(row) * o->chart.width + i], expected) << i << "," << row;
        }
    }
}

#if !defined(_WIN32)
TEST(BoundedWork, AFifoNamedLikeAChartIsNotWaitedOn) {
    TempDir dir;
    const std::string fifo = dir.path("chart.kap");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<char> found(fifo.size() + 5);
    int32_t exists = -1;
    Captured probe = capture_output([&] { exists = BSB_exist(dir.path("chart").c_str(), found.data()); });
    EXPECT_EQ(exists, 0);
    EXPECT_EQ(probe.out, "Unable to open the file " + dir.path("chart") + " [.KAP][.kap]\n");
    auto o = open_chart(fifo);
    EXPECT_EQ(o->result, -1);
    EXPECT_EQ(o->output.err, "Error: (BSB_open) fopen failed\n");
    int32_t title = 9;
    Captured host = capture_output([&] { EXPECT_EQ(nvchFileTitleIdentifyAndOpen(fifo.c_str(), &title, 1), nullptr); });
    EXPECT_EQ(title, -1);
    EXPECT_EQ(host.out, "Unable to open the file " + fifo + " [.KAP][.kap]\n");
}
#endif
