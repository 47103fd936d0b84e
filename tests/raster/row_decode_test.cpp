#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "chart/image_params.h"
#include "chart/reader_lifecycle.h"
#include "chart_writer.h"
#include "open_chart.h"
#include "raster/row_decode.h"
#include "raster/run_decode.h"
#include "reader_probes.h"
#include "test_files.h"

namespace {

struct ReaderDeleter {
    void operator()(ChartReader *r) const { chart_reader_free(r); }
};
using Reader = std::unique_ptr<ChartReader, ReaderDeleter>;

// A reader positioned at the start of `bytes`, for a chart of `depth`.
Reader reader_over(const kap::Bytes &bytes, int depth) {
    Reader r(chart_reader_new());
    r->image.stream = stream_open_memory(bytes.data(), static_cast<int64_t>(bytes.size()));
    r->image.depth = depth;
    r->image.value_mask = value_mask_for_depth(depth);
    return r;
}

struct DecodedRun {
    int32_t status;
    int32_t value;
    int64_t length;
};

DecodedRun run_of(const kap::Bytes &bytes, int depth) {
    Reader r = reader_over(bytes, depth);
    DecodedRun run{0, -1, -1};
    run.status = kap_read_run(r->image, &run.value, &run.length);
    return run;
}

}  // namespace

TEST(RunDecoding, WorkedExampleAtDepthFour) {
    Reader r = reader_over({0x81, 0x48, 0x1A, 0x88, 0x01, 0x3C, 0x11, 0x00, 0x99}, 4);
    uint8_t row[12];
    std::fill(std::begin(row), std::end(row), 0xEE);
    EXPECT_EQ(kap_read_row(r->image, row, 9), 9);
    const uint8_t expected[12] = {3, 3, 3, 1, 1, 7, 7, 7, 7, 0xEE, 0xEE, 0xEE};
    EXPECT_TRUE(std::equal(std::begin(row), std::end(row), expected));
    EXPECT_EQ(stream_tell(r->image.stream), 8);   // just past the terminator
}

TEST(RunDecoding, SplitsFirstBytesByDepthAndAddsContinuationBytes) {
    const struct {
        kap::Bytes bytes;
        int depth;
        DecodedRun run;
    } cases[] = {
        {{0x8B, 0x05}, 4, {kRunRead, 1, 390}},
        {{0x8B, 0x85, 0x02}, 4, {kRunRead, 1, 49795}},
        {{0x05}, 7, {kRunRead, 5, 1}},
        {{0x85, 0x03}, 7, {kRunRead, 5, 4}},
        {{0x3F}, 1, {kRunRead, 0, 64}},
        {{0x7F}, 1, {kRunRead, 1, 64}},
        {{0x80, 0x00}, 3, {kRunRead, 0, 1}},
        {{0x00}, 4, {kRunEndOfRow, -1, -1}},
        {{}, 4, {kRunEndOfFile, -1, -1}},
        {{0x8B}, 4, {kRunEndOfFile, -1, -1}},
    };
    for (const auto &c : cases) {
        const DecodedRun got = run_of(c.bytes, c.depth);
        EXPECT_EQ(got.status, c.run.status);
        EXPECT_EQ(got.value, c.run.value);
        EXPECT_EQ(got.length, c.run.length);
    }
}

TEST(RunDecoding, EveryRunOfUpToThreeBytesReadsAsTheFormatDefinesIt) {
    // Every first and second byte, with the run cut off by the end after
    // one, two or three bytes, at every depth, against the format read
    // byte by byte: status, value, count and the bytes taken.
    for (int depth = 1; depth <= 7; ++depth) {
        const RunFormat format = run_format(depth, value_mask_for_depth(depth));
        for (int length = 1; length <= 3; ++length) {
            // Exactly `length` bytes, so that a read past them is caught.
            const std::unique_ptr<uint8_t[]> bytes(new uint8_t[static_cast<size_t>(length)]);
            for (int first = 0; first < 256; ++first)
                for (int second = 0; second < (length > 1 ? 256 : 1); ++second)
                    for (uint8_t third : {0x00, 0x05, 0x85}) {
                        const uint8_t all[3] = {static_cast<uint8_t>(first), static_cast<uint8_t>(second), third};
                        std::copy(all, all + length, bytes.get());
                        // The definition.
                        int32_t want_status = kRunRead, want_value = -1, want_count = -1, taken = 1;
                        if (all[0] == 0) {
                            want_status = kRunEndOfRow;
                        } else {
                            want_value = (all[0] & 0x7F) >> (7 - depth);
                            want_count = all[0] & ((1 << (7 - depth)) - 1);
                            for (uint8_t b = all[0]; b & 0x80 && want_status == kRunRead;) {
                                if (taken == length) {
                                    want_status = kRunEndOfFile;
                                    break;
                                }
                                b = all[taken++];
                                want_count = want_count * 128 + (b & 0x7F);
                            }
                        }
                        const uint8_t *p = bytes.get();
                        uint8_t value = 0xEE;
                        int32_t count = -1;
                        const int32_t status = parse_run(p, bytes.get() + length, format, value, count);
                        ASSERT_EQ(status, want_status) << depth << " " << first << " " << second << " " << length;
                        if (status == kRunEndOfFile) continue;   // a partly read run is dropped
                        ASSERT_EQ(p - bytes.get(), taken) << depth << " " << first << " " << second << " " << length;
                        if (status != kRunRead) continue;
                        ASSERT_EQ(value, want_value) << depth << " " << first << " " << second;
                        ASSERT_EQ(count, want_count) << depth << " " << first << " " << second;
                    }
        }
    }
}

TEST(RunDecoding, EndlessContinuationBytesNeitherOverflowNorOverrun) {
    // Row number 1, a run of value 3 whose count never stops, the end.
    kap::Bytes bytes(5004, 0xFF);
    bytes[0] = 0x01;
    bytes[1] = 0x9F;
    bytes[5002] = 0x7F;
    bytes[5003] = 0x00;
    Reader r = reader_over(bytes, 4);
    uint8_t row[20] = {};
    EXPECT_EQ(kap_read_row(r->image, row, 16), 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(row[i], 3);
    EXPECT_EQ(row[16], 0);
}

TEST(RunDecoding, WriterRoundTripsEveryDepthAndRunLength) {
    std::mt19937 random(7);
    for (int depth = 1; depth <= 7; ++depth) {
        kap::Bytes pixels;
        for (int run = 0; run < 300; ++run) {
            const auto value = static_cast<uint8_t>(random() % (1u << depth));
            const size_t length = run % 50 == 0 ? 1 + random() % 3000 : 1 + random() % 70;
            pixels.insert(pixels.end(), length, value);
        }
        kap::Bytes record = kap::row_record(1, pixels, depth);
        Reader r = reader_over(record, depth);
        kap::Bytes row(pixels.size());
        ASSERT_EQ(kap_read_row(r->image, row.data(), static_cast<int32_t>(row.size())),
                  static_cast<int32_t>(pixels.size()));
        EXPECT_EQ(row, pixels) << depth;
        // Redundant continuation bytes read the same.
        kap::Bytes padded = kap::encode_row_number(1);
        const kap::Bytes run = kap::encode_run(static_cast<uint8_t>((1 << depth) - 1), 700, depth, 2);
        padded.insert(padded.end(), run.begin(), run.end());
        padded.push_back(0);
        Reader p = reader_over(padded, depth);
        kap::Bytes long_row(700);
        EXPECT_EQ(kap_read_row(p->image, long_row.data(), 700), 700);
        EXPECT_EQ(long_row, kap::Bytes(700, static_cast<uint8_t>((1 << depth) - 1)));
    }
}

TEST(IndexPointer, IsTheBigEndianNumberInTheLastFourBytes) {
    Reader r = reader_over({1, 2, 3, 0x80, 0x00, 0x12, 0x34}, 4);
    stream_seek(r->image.stream, 1);
    EXPECT_EQ(kap_index_offset(r->image.stream), static_cast<int32_t>(0x80001234u));
    EXPECT_EQ(stream_tell(r->image.stream), 1);
    Reader tiny = reader_over({1, 2}, 4);
    EXPECT_EQ(kap_index_offset(tiny->image.stream), -1);
}

class RowAccess : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<OpenedChart> open(const kap::ChartWriter &w) {
        auto opened = open_chart(dir.write("r.kap", w.build()));
        EXPECT_EQ(opened->result, 0) << opened->output.err;
        return opened;
    }
    static kap::Bytes row_of(OpenedChart &o, int32_t y, uint8_t fill, int32_t *status = nullptr) {
        kap::Bytes row(static_cast<size_t>(o.chart.width), fill);
        const int32_t s = BSB_getrow(y, row.data(), &o.chart);
        if (status) *status = s;
        return row;
    }
};

TEST_F(RowAccess, DeliversEveryRowOfEveryDepth) {
    for (int depth = 1; depth <= 7; ++depth) {
        auto w = kap::simple_chart(97, 31, depth, 3);
        auto o = open(w);
        EXPECT_EQ(o->all_rows(), w.pixels) << depth;
        // Rows in any order.
        for (int y : {30, 0, 17, 17, 1}) {
            int32_t status = -9;
            const kap::Bytes row = row_of(*o, y, 0xEE, &status);
            EXPECT_EQ(status, 0);
            EXPECT_TRUE(std::equal(row.begin(), row.end(), w.pixels.begin() + y * 97)) << y;
        }
    }
}

TEST_F(RowAccess, PassesOverRowsSharingAnIndexEntry) {
    auto w = kap::simple_chart(50, 11);
    w.rows_per_entry = 2;
    w.header[5] = "OST/2";
    auto o = open(w);
    EXPECT_EQ(o->chart.reader->image.rows_per_entry, 2);
    EXPECT_EQ(o->all_rows(), w.pixels);
    // Row 5 is reached through entry 2 (row 4): its own pixels arrive.
    const kap::Bytes row5 = row_of(*o, 5, 0xEE);
    EXPECT_TRUE(std::equal(row5.begin(), row5.end(), w.pixels.begin() + 5 * 50));
}

TEST_F(RowAccess, ShortRowsKeepTheBufferAndLongRowsAreCutAtTheWidth) {
    auto w = kap::simple_chart(10, 3);
    const kap::Bytes short_pixels = {1, 1, 2};
    const kap::Bytes long_pixels = {3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 5, 5};
    w.raw_rows[0] = kap::row_record(1, short_pixels, 4);
    w.raw_rows[1] = kap::row_record(2, long_pixels, 4);
    auto o = open(w);
    EXPECT_EQ(row_of(*o, 0, 0xEE), (kap::Bytes{1, 1, 2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(row_of(*o, 1, 0xEE), (kap::Bytes{3, 3, 3, 3, 3, 3, 3, 3, 4, 4}));
    const kap::Bytes row2 = row_of(*o, 2, 0xEE);
    EXPECT_TRUE(std::equal(row2.begin(), row2.end(), w.pixels.begin() + 20));

    // However short the last run, nothing past it is written.
    auto wide = kap::simple_chart(64, 1);
    wide.raw_rows[0] = kap::row_record(1, kap::Bytes{5, 5, 6}, 4);
    auto ow = open(wide);
    kap::Bytes expected(64, 0xEE);
    expected[0] = expected[1] = 5;
    expected[2] = 6;
    EXPECT_EQ(row_of(*ow, 0, 0xEE), expected);
}

TEST(RowLookup, ARecordCutShortByTheEndOfTheFileDeliversItsCompleteRuns) {
    // The last four bytes of a file are the index pointer, so a record that
    // reaches the end of the file is built by hand: a one-entry index at
    // offset 0 and the record after it, two runs and half a third.
    kap::Bytes bytes = {0, 0, 0, 4};
    const kap::Bytes number = kap::encode_row_number(1);
    bytes.insert(bytes.end(), number.begin(), number.end());
    for (const auto &run : {kap::encode_run(6, 3, 4), kap::encode_run(2, 2, 4)})
        bytes.insert(bytes.end(), run.begin(), run.end());
    bytes.push_back(0x80 | (5 << 3));   // its continuation byte never comes
    ChartFile chart{};
    Reader reader = reader_over(bytes, 4);
    chart.reader = reader.get();
    chart.width = reader->image.width = 10;
    chart.height = reader->image.height = 1;
    ASSERT_EQ(kap_read_index(reader->image), 0);
    kap::Bytes row(10, 0xEE);
    EXPECT_EQ(BSB_getrow(0, row.data(), &chart), 0);
    EXPECT_EQ(row, (kap::Bytes{6, 6, 6, 2, 2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(RowAccess, RowsThatCannotBeFoundAreRefusedWithoutTouchingAnything) {
    auto w = kap::simple_chart(10, 6);
    w.index_entries[2] = 1 << 30;   // a record offset past the end
    w.index_entries[3] = -5;        // a negative one
    auto o = open(w);
    stream_seek(o->chart.reader->image.stream, 3);
    for (int32_t y : {-1, 6, 1000000, INT32_MIN}) {
        int32_t status = 0;
        EXPECT_EQ(row_of(*o, y, 0xEE, &status), kap::Bytes(10, 0xEE));
        EXPECT_EQ(status, -1) << y;
    }
    EXPECT_EQ(stream_tell(o->chart.reader->image.stream), 3);   // the file was not touched
    for (int32_t y : {2, 3}) {
        int32_t status = 0;
        EXPECT_EQ(row_of(*o, y, 0xEE, &status), kap::Bytes(10, 0xEE));
        EXPECT_EQ(status, -1) << y;
    }
    int32_t status = -9;
    row_of(*o, 4, 0xEE, &status);
    EXPECT_EQ(status, 0);

    // An index table that ends before the rows do.
    auto short_index = kap::simple_chart(10, 6);
    short_index.index_pointer = static_cast<int64_t>(short_index.build().size()) - 4 - 4 * 2;
    auto s = open(short_index);
    int32_t last = 0;
    row_of(*s, 5, 0, &last);
    EXPECT_EQ(last, -1);
    row_of(*s, 0, 0, &last);
    EXPECT_EQ(last, 0);
}

TEST_F(RowAccess, PassingOverARowWithASingleByteNumberReadsItsFirstRunAsTheNumber) {
    // Two rows an entry. Passing over row 0 discards one byte, its number
    // 0x01; the row-number skip then takes row 0's first run (3 x 1), and
    // its other runs land from column 0. Row 1 covers only three pixels,
    // so what the passed-over row left shows behind them.
    auto w = kap::simple_chart(10, 2);
    w.rows_per_entry = 2;
    w.header[5] = "OST/2";
    w.raw_rows[0] = kap::row_record(1, kap::Bytes{1, 1, 1, 2, 2, 3, 3, 3, 3, 3}, 4);
    w.raw_rows[1] = kap::row_record(2, kap::Bytes{4, 4, 4}, 4);
    auto o = open(w);
    EXPECT_EQ(row_of(*o, 1, 0xEE), (kap::Bytes{4, 4, 4, 3, 3, 3, 3, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(row_of(*o, 0, 0xEE), (kap::Bytes{1, 1, 1, 2, 2, 3, 3, 3, 3, 3}));

    // With a two-byte number (200) the whole row is passed over intact.
    w.raw_rows[0] = kap::row_record(200, kap::Bytes{1, 1, 1, 2, 2, 3, 3, 3, 3, 3}, 4);
    auto two = open(w);
    EXPECT_EQ(row_of(*two, 1, 0xEE), (kap::Bytes{4, 4, 4, 2, 2, 3, 3, 3, 3, 3}));
}
