// Damaged and hostile files, one group per kind of damage. Each must end
// cleanly: a refused open with its message, a delivered image, or -1 for a
// row that cannot be had; never a crash, a hang or a sanitizer report.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "chart/chart_reader.h"
#include "chart_writer.h"
#include "nvch.h"
#include "open_chart.h"
#include "platform/heap.h"
#include "platform/heap_faults.h"
#include "raster/tiled.h"
#include "test_files.h"

namespace {

using kap::Bytes;

// What the reader made of a file: the open, and each row's status.
struct Examined {
    int32_t result = -1;
    Captured output;
    int32_t width = 0, height = 0;
    std::vector<int32_t> statuses;
    Bytes pixels;   // rows that failed keep 0xEE
};

// Opens with BSB_open and reads every row, when the image is small enough
// to hold.
Examined examine(const std::string &path) {
    Examined e;
    auto o = open_chart(path);
    e.result = o->result;
    e.output = o->output;
    if (e.result != 0) return e;
    e.width = o->chart.width;
    e.height = o->chart.height;
    if (static_cast<int64_t>(e.width) * e.height > (INT64_C(1) << 24)) return e;
    e.pixels.assign(static_cast<size_t>(e.width) * e.height, 0xEE);
    for (int32_t y = 0; y < e.height; ++y)
        e.statuses.push_back(BSB_getrow(y, e.pixels.data() + static_cast<size_t>(y) * e.width, &o->chart));
    return e;
}

// The same file through the host interface: every block and every query.
void drive_host(const std::string &path) {
    int32_t title = -1;
    ChartFile *file = nullptr;
    capture_output([&] { file = nvchFileTitleIdentifyAndOpen(path.c_str(), &title, 1); });
    if (file == nullptr) return;
    int32_t z1, width, height, z2, bw, bh;
    LayerHandle *layer = nullptr;
    ASSERT_EQ(nvchLayerOpen(file, "Band_1", &z1, &width, &height, &z2, &bw, &bh, &layer), 0);
    if (static_cast<int64_t>(width) * height <= (INT64_C(1) << 22)) {
        Bytes row(static_cast<size_t>(width));
        void *block = row.data();
        for (int32_t r = 0; r <= height; ++r) nvchLayerRasterRead(layer, static_cast<uint32_t>(r), 0, &block);
    }
    char *name = nullptr, *units = nullptr, *short_name = nullptr, *descriptor = nullptr, *type_name = nullptr;
    double x, y, w, h;
    nvchLayerMapInfoRead(layer, &name, &x, &y, &w, &h, &units);
    std::vector<double> colours(256);
    nvchLayerColorRead(layer, "Red", 0, 256, colours.data());
    void *cs = nullptr;
    int32_t size, a, b, c, d;
    nvchLayerMapProjectionRead(layer, &short_name, &cs, &size, &descriptor, &type_name, &a, &b, &c, &d);
    for (void *p : {static_cast<void *>(name), static_cast<void *>(units), static_cast<void *>(short_name), cs,
                    static_cast<void *>(descriptor), static_cast<void *>(type_name)})
        host_release(p);
    nvchLayerClose(layer);
    nvchFileClose(file);
}

int32_t exist(const std::string &path) {
    std::vector<char> found(path.size() + 5);
    int32_t r = 0;
    capture_output([&] { r = BSB_exist(path.c_str(), found.data()); });
    return r;
}

bool all_equal(const std::vector<int32_t> &v, int32_t value) {
    return std::all_of(v.begin(), v.end(), [&](int32_t s) { return s == value; });
}

kap::ChartWriter chart() { return kap::simple_chart(24, 8); }

uint8_t w_pixel(const kap::ChartWriter &w, int x, int y) { return w.pixel(x, y); }

void set_record(kap::ChartWriter &w, const std::string &name, const std::string &record) {
    for (std::string &line : w.header)
        if (line.rfind(name, 0) == 0) {
            line = record;
            return;
        }
    w.header.push_back(record);
}

class Hostile : public ::testing::Test {
protected:
    TempDir dir;
    std::string write(const Bytes &bytes) { return dir.write("h.kap", bytes); }
    Examined examine_bytes(const Bytes &bytes) {
        const std::string path = write(bytes);
        drive_host(path);
        return examine(path);
    }
};

}  // namespace

TEST_F(Hostile, EmptyFileAndHeaderOnlyFiles) {
    const Examined empty = examine_bytes({});
    EXPECT_EQ(exist(dir.path("h.kap")), 0);
    EXPECT_EQ(empty.result, -1);
    EXPECT_EQ(empty.output.out + empty.output.err, "");

    // A whole header, then nothing: the "index pointer" is header text.
    auto w = chart();
    Bytes header;
    for (const auto &line : w.header) header.insert(header.end(), line.begin(), line.end()), header.push_back('\r'),
                                      header.push_back('\n');
    header.push_back(0x1a);
    const Examined only = examine_bytes(header);
    ASSERT_EQ(only.result, 0) << only.output.err;
    EXPECT_TRUE(all_equal(only.statuses, -1));
    EXPECT_EQ(only.pixels, Bytes(only.pixels.size(), 0xEE));
}

TEST_F(Hostile, HeaderWithoutCtrlZStillFindsItsRowsThroughTheIndex) {
    auto w = chart();
    Bytes bytes = w.build();
    const auto z = std::find(bytes.begin(), bytes.end(), 0x1a);
    *z = ' ';   // the header now runs into the raster
    const Examined e = examine_bytes(bytes);
    ASSERT_EQ(e.result, 0) << e.output.err;
    EXPECT_EQ(e.pixels, w.pixels);
}

TEST_F(Hostile, BinaryGarbageIsNotAChart) {
    std::mt19937 random(11);
    for (int n = 0; n < 200; ++n) {
        Bytes bytes(static_cast<size_t>(random() % 3000));
        for (auto &b : bytes) b = static_cast<uint8_t>(random());
        const Examined e = examine_bytes(bytes);
        EXPECT_EQ(exist(dir.path("h.kap")), 0);
        EXPECT_EQ(e.result, -1);
    }
}

TEST_F(Hostile, EveryTruncationPointOfASmallChart) {
    auto w = chart();
    const Bytes whole = w.build();
    int opened = 0;
    for (size_t n = 0; n <= whole.size(); ++n) {
        const Examined e = examine_bytes(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        if (e.result != 0) continue;
        ++opened;
        for (int32_t s : e.statuses) EXPECT_TRUE(s == 0 || s == -1);
    }
    EXPECT_GT(opened, 0);
    EXPECT_EQ(examine_bytes(whole).pixels, w.pixels);
}

TEST_F(Hostile, IndexPointerPastTheEndBeforeTheHeaderOrIntoItself) {
    auto w = chart();
    const auto size = static_cast<int64_t>(w.build().size());
    for (int64_t pointer : {size + 100, INT64_C(0x7FFFFFF0), INT64_C(-16)}) {
        w.index_pointer = pointer;
        const Examined e = examine_bytes(w.build());
        ASSERT_EQ(e.result, 0) << pointer;
        EXPECT_TRUE(all_equal(e.statuses, -1)) << pointer;
    }
    // Into the header: its text read as offsets, all past the end.
    w.index_pointer = 3;
    const Examined header = examine_bytes(w.build());
    ASSERT_EQ(header.result, 0);
    EXPECT_TRUE(all_equal(header.statuses, -1));
    // At itself: entry 0 is the pointer, an offset inside the file; the
    // entries after it lie past the end.
    w.write_index = false;
    w.index_pointer = 0;
    w.index_pointer = static_cast<int64_t>(w.build().size()) - 4;
    const Examined self = examine_bytes(w.build());
    ASSERT_EQ(self.result, 0);
    EXPECT_EQ(self.statuses[0], 0);
    EXPECT_TRUE(std::all_of(self.statuses.begin() + 1, self.statuses.end(), [](int32_t s) { return s == -1; }));
}

TEST_F(Hostile, RowOffsetsOutOfRangeEqualOrDescending) {
    auto w = chart();
    const auto offsets = w.row_offsets();
    auto out_of_range = w;
    out_of_range.index_entries = {{1, -1}, {2, 1 << 30}, {3, static_cast<int64_t>(w.build().size())}};
    const Examined bad = examine_bytes(out_of_range.build());
    EXPECT_EQ(bad.statuses, (std::vector<int32_t>{0, -1, -1, -1, 0, 0, 0, 0}));

    auto equal = w;
    for (int k = 0; k < 8; ++k) equal.index_entries[k] = offsets[0];
    const Examined same = examine_bytes(equal.build());
    for (int y = 0; y < 8; ++y) EXPECT_TRUE(std::equal(w.pixels.begin(), w.pixels.begin() + 24, same.pixels.begin() + y * 24));

    auto descending = w;
    for (int k = 0; k < 8; ++k) descending.index_entries[k] = offsets[7 - k];
    const Examined reversed = examine_bytes(descending.build());
    for (int y = 0; y < 8; ++y)
        EXPECT_TRUE(std::equal(w.pixels.begin() + (7 - y) * 24, w.pixels.begin() + (8 - y) * 24,
                               reversed.pixels.begin() + y * 24));
}

TEST_F(Hostile, RunsFarLongerThanTheWidthAndEndlessContinuationBytes) {
    auto w = chart();
    Bytes long_runs = kap::encode_row_number(1);
    for (const auto &run : {kap::encode_run(3, 100000, 4), kap::encode_run(5, UINT64_C(1) << 40, 4)})
        long_runs.insert(long_runs.end(), run.begin(), run.end());
    long_runs.push_back(0);
    w.raw_rows[0] = long_runs;
    Bytes endless = kap::encode_row_number(2);
    endless.push_back(0x80 | (6 << 3));
    endless.insert(endless.end(), 200000, 0xFF);
    endless.push_back(0x7F);
    endless.push_back(0);
    w.raw_rows[1] = endless;
    const Examined e = examine_bytes(w.build());
    ASSERT_EQ(e.result, 0);
    EXPECT_TRUE(all_equal(e.statuses, 0));
    EXPECT_EQ(Bytes(e.pixels.begin(), e.pixels.begin() + 24), Bytes(24, 3));
    EXPECT_EQ(Bytes(e.pixels.begin() + 24, e.pixels.begin() + 48), Bytes(24, 6));
    EXPECT_TRUE(std::equal(w.pixels.begin() + 48, w.pixels.end(), e.pixels.begin() + 48));
}

TEST_F(Hostile, ColourDepthsOutsideOneToSeven) {
    for (const char *ifm : {"IFM/0", "IFM/8", "IFM/255", "IFM/-1", "IFM/x"}) {
        auto w = chart();
        set_record(w, "IFM", ifm);
        const Examined e = examine_bytes(w.build());
        EXPECT_EQ(e.result, -1);
        EXPECT_EQ(e.output.err, "failed to get color mode\nCan't get color mode for BSB file\n");
        EXPECT_EQ(e.output.out, "");
    }
}

TEST_F(Hostile, ImpossibleSizes) {
    for (const char *ra : {"RA=0,8", "RA=-24,8", "RA=24,-2147483648"}) {
        auto w = chart();
        set_record(w, "BSB", std::string("BSB/NA=X,") + ra);
        const Examined e = examine_bytes(w.build());
        EXPECT_EQ(e.result, -1) << ra;
        EXPECT_EQ(e.output.out, "Failed to find size correctly in UDFinit\n");
    }
    // Sizes far beyond any chart are refused before anything is read.
    const struct {
        const char *ra;
        const char *err;
    } refused[] = {
        {"RA=1,2000000000", "Chart of 1 x 2000000000 pixels is larger than this reader serves (131072 pixels a side)\n"},
        {"RA=2000000000,1", "Chart of 2000000000 x 1 pixels is larger than this reader serves (131072 pixels a side)\n"},
        {"RA=131073,8", "Chart of 131073 x 8 pixels is larger than this reader serves (131072 pixels a side)\n"},
        // Eight rows and the index pointer: nine entries reach nine rows.
        {"RA=24,1043", "Chart claims 1043 rows but its index table addresses only 9\n"},
    };
    for (const auto &r : refused) {
        auto w = chart();
        set_record(w, "BSB", std::string("BSB/NA=X,") + r.ra);
        const Examined e = examine_bytes(w.build());
        EXPECT_EQ(e.result, -1) << r.ra;
        EXPECT_EQ(e.output.err, r.err);
        EXPECT_EQ(e.output.out, "");
    }
    // Short of that, a table that ends early opens: the rows that exist
    // are read, the rest lie past the index.
    auto tall = chart();
    set_record(tall, "BSB", "BSB/NA=X,RA=1,1042");
    auto o = open_chart(write(tall.build()));
    ASSERT_EQ(o->result, 0) << o->output.err;
    uint8_t pixel = 0xEE;
    EXPECT_EQ(BSB_getrow(7, &pixel, &o->chart), 0);
    EXPECT_EQ(pixel, w_pixel(tall, 0, 7));
    // Entry 8 is the index pointer itself, an offset inside the file; it
    // decodes whatever lies there. Entry 9 lies past the end.
    EXPECT_EQ(BSB_getrow(8, &pixel, &o->chart), 0);
    EXPECT_EQ(BSB_getrow(9, &pixel, &o->chart), -1);
    EXPECT_EQ(BSB_getrow(1041, &pixel, &o->chart), -1);
}

TEST_F(Hostile, SkewedSizesFarBeyondTheirFiles) {
    // A hundred thousand pixels a side from a file of eight short rows,
    // spread over entries of 20,000: served from tiles, in memory that
    // follows the file, not the claimed size.
    auto big = chart();
    set_record(big, "BSB", "BSB/NA=X,RA=100000,100000");
    set_record(big, "KNP", "KNP/SC=1,PR=MERCATOR,PP=1,SK=1");
    set_record(big, "OST", "OST/20000");
    auto o = open_chart(write(big.build()));
    ASSERT_EQ(o->result, 0) << o->output.err;
    Bytes row(static_cast<size_t>(o->chart.width), 0xEE);
    EXPECT_EQ(BSB_getrow(o->chart.height / 2, row.data(), &o->chart), 0);
    EXPECT_EQ(o->chart.reader->mode, RowMode::skewed_tiled);
    EXPECT_EQ(std::count(row.begin(), row.end(), 0xEE), 0);
    EXPECT_LT(tiled_image_bytes(*o->chart.reader->tiled), INT64_C(16) << 20);
    // Without memory for the tiles, the row is decoded from whole stored
    // rows, and the tiles are tried again at the next row.
    auto direct = open_chart(write(big.build()));
    Bytes direct_row(row.size(), 0xEE);
    heap_fail_after(0);
    EXPECT_EQ(BSB_getrow(direct->chart.height / 2, direct_row.data(), &direct->chart), 0);
    heap_fail_after(-1);
    EXPECT_EQ(direct->chart.reader->mode, RowMode::skewed_untried);
    EXPECT_EQ(direct_row, row);
    EXPECT_EQ(BSB_getrow(direct->chart.height / 2 + 1, direct_row.data(), &direct->chart), 0);
    EXPECT_EQ(direct->chart.reader->mode, RowMode::skewed_tiled);

    // Turned a quarter: the widest stored rows become rows of 8 pixels.
    auto quarter = chart();
    set_record(quarter, "BSB", "BSB/NA=X,RA=131072,8");
    set_record(quarter, "KNP", "KNP/SC=1,PR=MERCATOR,PP=1,SK=90");
    auto oq = open_chart(write(quarter.build()));
    ASSERT_EQ(oq->result, 0) << oq->output.err;
    EXPECT_EQ(oq->chart.width, 8);
    EXPECT_EQ(oq->chart.height, 131072);
    Bytes narrow_row(8, 0xEE);
    for (int32_t y : {0, 1, 23, 24, 100000})
        EXPECT_EQ(BSB_getrow(oq->chart.height - 1 - y, narrow_row.data(), &oq->chart), 0);
    EXPECT_EQ(oq->chart.reader->mode, RowMode::skewed_tiled);
}

TEST_F(Hostile, PaletteIndicesOutsideTheArrays) {
    auto w = kap::simple_chart(24, 8, 7, 0);
    w.header.insert(w.header.end(), {"RGB/-1,1,2,3", "RGB/129,4,5,6", "RGB/100000,7,8,9", "RGB/128,10,11,12"});
    const std::string path = write(w.build());
    drive_host(path);
    auto o = open_chart(path);
    ASSERT_EQ(o->result, 0);
    EXPECT_EQ(o->chart.color_count, 5);
    EXPECT_EQ(o->chart.palette_red[128], 10);
}

TEST_F(Hostile, ReferencePointsThatCannotBeUsed) {
    const struct {
        const char *ref;
        const char *err;
    } cases[] = {
        {"REF/0,5,5,50.0,-1.0", "Bad REF record (point numbers must run from 1 to 5 once each): REF/0,5,5,50.0,-1.0\n"},
        {"REF/6,5,5,50.0,-1.0", "Bad REF record (point numbers must run from 1 to 5 once each): REF/6,5,5,50.0,-1.0\n"},
        {"REF/4,5,5,50.0,-1.0", "Bad REF record (point numbers must run from 1 to 5 once each): REF/4,5,5,50.0,-1.0\n"},
        {"REF/5,5,5", "Bad REF record (expected n,x,y,lat,lon): REF/5,5,5\n"},
        {"REF/5,5,5,nan,-1", "Bad REF record (expected n,x,y,lat,lon): REF/5,5,5,nan,-1\n"},
    };
    for (const auto &c : cases) {
        auto w = chart();
        w.header.push_back(c.ref);
        const Examined e = examine_bytes(w.build());
        EXPECT_EQ(e.result, -1) << c.ref;
        EXPECT_EQ(e.output.err, c.err);
        EXPECT_EQ(e.output.out, "");
    }
    auto none = chart();
    std::erase_if(none.header, [](const std::string &l) { return l.rfind("REF", 0) == 0; });
    const Examined e = examine_bytes(none.build());
    EXPECT_EQ(e.result, -1);
    EXPECT_EQ(e.output.err, "No REF points and no complete ARC record: cannot place the chart\n");
}

TEST_F(Hostile, DatumShiftWrittenAsText) {
    auto plain = chart();
    auto text = chart();
    set_record(text, "DTM", "DTM/abc,def");
    auto a = open_chart(dir.write("a.kap", plain.build()));
    auto b = open_chart(dir.write("b.kap", text.build()));
    ASSERT_EQ(b->result, 0);
    EXPECT_EQ(a->chart.upper_left_x, b->chart.upper_left_x);
    EXPECT_EQ(a->chart.upper_left_y, b->chart.upper_left_y);
}

TEST_F(Hostile, SkewAnglesThatAreNotNumbersOrAreExtreme) {
    auto stored = chart();
    for (const char *sk : {"SK=nan", "SK=inf", "SK=-inf", "SK=-0.0"}) {
        auto w = chart();
        set_record(w, "KNP", std::string("KNP/SC=1,PR=MERCATOR,PP=50,") + sk);
        const Examined e = examine_bytes(w.build());
        ASSERT_EQ(e.result, 0) << sk;
        EXPECT_EQ(e.pixels, stored.pixels) << sk;   // served as stored
    }
    // A full turn, and an angle of 1e308 degrees, are computed like any
    // other: sin(2 pi) is not quite 0, so truncation moves some samples.
    for (const char *sk : {"SK=360", "SK=1e308"}) {
        auto w = chart();
        set_record(w, "KNP", std::string("KNP/SC=1,PR=MERCATOR,PP=50,") + sk);
        const Examined e = examine_bytes(w.build());
        ASSERT_EQ(e.result, 0) << sk;
        EXPECT_TRUE(all_equal(e.statuses, 0)) << sk;
    }
}

TEST_F(Hostile, LongTexts) {
    // A meridian text of 10 kB: the header reader takes it in 499-byte
    // pieces; the coordinate system holds what the record kept, whole.
    auto pp = chart();
    set_record(pp, "KNP", "KNP/SC=1,PR=POLYCONIC,PP=-1." + std::string(10000, '5'));
    const Examined e = examine_bytes(pp.build());
    EXPECT_EQ(e.result, 0) << e.output.err;

    auto lines = chart();
    for (int i = 0; i < 5; ++i) lines.header.push_back("XYZ/" + std::string(10000, 'x'));
    EXPECT_EQ(examine_bytes(lines.build()).pixels, lines.pixels);
}

TEST_F(Hostile, ManyRecordsAndManyContinuationLines) {
    auto records = chart();
    for (int i = 0; i < 2000; ++i) records.header.push_back("ADN/" + std::to_string(i));
    auto o = open_chart(write(records.build()));
    ASSERT_EQ(o->result, 0);
    EXPECT_EQ(o->chart.reader->header.count, 1000);

    auto continued = chart();
    std::vector<std::string> preamble = {continued.header[0], "CRR/FIRST"};
    for (int i = 0; i < 5000; ++i) preamble.push_back("    MORE TEXT " + std::to_string(i));
    continued.header.insert(continued.header.begin() + 1, preamble.begin() + 1, preamble.end());
    auto oc = open_chart(write(continued.build()));
    ASSERT_EQ(oc->result, 0);
    EXPECT_EQ(oc->all_rows(), continued.pixels);
}

TEST_F(Hostile, PathsTooLongOrNotFiles) {
    const std::string long_path = dir.path(std::string(4000, 'p'));
    int32_t title = 9;
    Captured c = capture_output([&] { EXPECT_EQ(nvchFileTitleIdentifyAndOpen(long_path.c_str(), &title, 1), nullptr); });
    EXPECT_EQ(title, -1);
    EXPECT_EQ(c.out, "Unable to open the file " + long_path + " [.KAP][.kap]\n");

    EXPECT_EQ(exist(dir.path("")), 0);
    auto o = open_chart(dir.path(""));
    EXPECT_EQ(o->result, -1);
    EXPECT_EQ(o->output.err, "Error: (BSB_open) fopen failed\n");
}
