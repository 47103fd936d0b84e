// Serving skewed charts from tiles: every path of the design (each kernel,
// 8 x 8 blocks across tile edges, tiny and huge tiles, a cache of one
// tile, checkpoints far apart, rows passed over, damaged rows, quarter and
// half turns, tiny and very wide charts) gives exactly the pixels of the definition, computed here from
// the file's bytes by a decoder written from the format alone.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>

#include "chart/chart_reader.h"
#include "chart_writer.h"
#include "open_chart.h"
#include "reader_probes.h"
#include "raster/kernel_faults.h"
#include "raster/tiled.h"
#include "test_files.h"

namespace {

using kap::Bytes;

kap::ChartWriter turned(int width, int height, double degrees, int depth = 4) {
    kap::ChartWriter w = kap::simple_chart(width, height, depth, 5);
    char knp[160];
    std::snprintf(knp, sizeof knp, "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=%.10g,TA=90", degrees);
    w.header[3] = knp;
    return w;
}

// Every row through BSB_getrow with the chart's tiles made with `options`.
Bytes rows_with(OpenedChart &o, const TiledOptions &options) {
    ChartReader &r = *o.chart.reader;
    tiled_image_free(r.tiled);
    r.tiled = tiled_image_make(r.image, r.skew, options);
    EXPECT_NE(r.tiled, nullptr);
    r.mode = RowMode::skewed_tiled;
    return o.all_rows();
}

struct Case {
    const char *what;
    TiledOptions options;
    bool direct = false;   // each stored row decoded from the file instead
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.what; }

constexpr SkewKernel kScalar = SkewKernel::scalar, kSse2 = SkewKernel::sse2, kAvx2 = SkewKernel::avx2_gathers,
                     kAvx512 = SkewKernel::avx512_gathers, kBlocks = SkewKernel::vbmi_blocks,
                     kAvx2Blocks = SkewKernel::avx2_blocks;

const Case kCases[] = {
    {"default", {}},
    {"scalar kernel", {.kernel = kScalar}},
    {"SSE2 kernel", {.kernel = kSse2}},
    {"AVX2 kernel", {.kernel = kAvx2}},
    {"AVX-512 kernel", {.kernel = kAvx512}},
    {"1 tile of 8 x 2", {.tile_w_shift = 3, .tile_h_shift = 1, .capacity = 1}},
    {"2 tiles of 16 x 8", {.tile_w_shift = 4, .tile_h_shift = 3, .capacity = 2}},
    {"1 tile of 256 x 32", {.tile_w_shift = 8, .tile_h_shift = 5, .capacity = 1}},
    {"2 x 2 tiles, 3 of them", {.tile_w_shift = 1, .tile_h_shift = 1, .capacity = 3, .kernel = kAvx2}},
    {"one checkpoint a row", {.tile_w_shift = 4, .tile_h_shift = 4, .checkpoint_shift = 30}},
    {"rows made one at a time", {.no_strip = true}},
    {"8 x 8 blocks", {.kernel = kBlocks}},
    {"blocks, tiles of 16 x 16", {.tile_w_shift = 4, .tile_h_shift = 4, .kernel = kBlocks}},
    {"blocks, 3 tiles of 16 x 16", {.tile_w_shift = 4, .tile_h_shift = 4, .capacity = 3, .kernel = kBlocks}},
    {"blocks, 1 tile of 256 x 32", {.tile_w_shift = 8, .tile_h_shift = 5, .capacity = 1, .kernel = kBlocks}},
    {"blocks, tiles of 32 x 16", {.tile_w_shift = 5, .tile_h_shift = 4, .kernel = kBlocks}},
    {"blocks, tiles of 64 x 16", {.tile_w_shift = 6, .tile_h_shift = 4, .kernel = kBlocks}},
    {"blocks, tiles of 128 x 32", {.tile_w_shift = 7, .tile_h_shift = 5, .kernel = kBlocks}},
    {"blocks, tiles of 512 x 64", {.tile_w_shift = 9, .tile_h_shift = 6, .kernel = kBlocks}},
    {"blocks, tiles of 16 x 8 (rows instead)", {.tile_w_shift = 4, .tile_h_shift = 3, .kernel = kBlocks}},
    {"AVX2 blocks", {.kernel = kAvx2Blocks}},
    {"AVX2 blocks, 3 tiles of 16 x 16", {.tile_w_shift = 4, .tile_h_shift = 4, .capacity = 3, .kernel = kAvx2Blocks}},
    {"AVX2 blocks, 1 tile of 256 x 32", {.tile_w_shift = 8, .tile_h_shift = 5, .capacity = 1, .kernel = kAvx2Blocks}},
    {"AVX2 blocks, tiles of 32 x 16", {.tile_w_shift = 5, .tile_h_shift = 4, .kernel = kAvx2Blocks}},
    {"AVX2 blocks, tiles of 128 x 32", {.tile_w_shift = 7, .tile_h_shift = 5, .kernel = kAvx2Blocks}},
    {"direct decoding", {}, true},
};

// Each path of the design is a test of its own, skipped with its reason
// where this processor lacks its kernel.
class TiledPath : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (const std::string missing = kernel_missing(GetParam().options.kernel); !missing.empty())
            GTEST_SKIP() << missing;
    }

    void expect_definition(const kap::ChartWriter &w, const std::string &label) {
        TempDir dir;
        const Bytes file = w.build();
        auto o = open_chart(dir.write("t.kap", file));
        ASSERT_EQ(o->result, 0) << label << o->output.err;
        ASSERT_TRUE(chart_is_skewed(o->chart.reader)) << label;
        const Bytes expected = upright_by_definition(file, w, o->chart);
        if (GetParam().direct) {
            o->chart.reader->mode = RowMode::skewed_direct;
            EXPECT_EQ(o->all_rows(), expected) << label;
        } else {
            EXPECT_EQ(rows_with(*o, GetParam().options), expected) << label;
        }
    }
};

}  // namespace

TEST_P(TiledPath, GivesTheDefinitionAtManyAnglesAndSizes) {
    const double angles[] = {45.0741597, 90, 135, 180, 225, 270, -30, 7.5, 343.4711111, 0.001};
    const int sizes[][2] = {{1, 1}, {2, 3}, {300, 40}, {97, 131}};
    for (double angle : angles)
        for (const auto &size : sizes)
            expect_definition(turned(size[0], size[1], angle),
                              std::to_string(angle) + " " + std::to_string(size[0]) + "x" + std::to_string(size[1]));
}

TEST_P(TiledPath, GivesTheDefinitionOnVeryWideRowsAndAtEveryDepth) {
    expect_definition(turned(20000, 3, 30), "20000 x 3");
    expect_definition(turned(3, 5000, 60), "3 x 5000");
    for (int depth = 1; depth <= 7; ++depth) expect_definition(turned(70, 50, 20, depth), "depth " + std::to_string(depth));
}

TEST_P(TiledPath, GivesTheDefinitionOfDamagedRowsAndRowsPassedOver) {
    // Rows that cannot be found, rows cut short, a run running past the
    // width, and an entry of three rows whose first rows have one-byte
    // numbers (their first run read as the number when passed over) and
    // whose later rows stop short, so that what was passed over shows.
    auto w = turned(60, 30, 25);
    w.index_entries[5] = 1 << 30;
    w.raw_rows[9] = kap::row_record(10, Bytes(7, 3), 4);
    w.raw_rows[12] = kap::row_record(13, Bytes(90, 2), 4);
    expect_definition(w, "damaged");

    auto ost = turned(40, 24, 33);
    ost.rows_per_entry = 3;
    ost.header[5] = "OST/3";
    ost.raw_rows[1] = kap::row_record(2, Bytes{1, 1, 2, 2, 3}, 4);
    ost.raw_rows[2] = kap::row_record(3, Bytes(2, 6), 4);
    ost.raw_rows[4] = kap::row_record(300, Bytes(40, 5), 4);
    ost.raw_rows[5] = kap::row_record(301, Bytes(12, 7), 4);
    ost.raw_rows[7] = {0x08, 0x00};   // one byte of number, then the terminator at once
    ost.raw_rows[8] = kap::row_record(9, Bytes(3, 1), 4);
    ost.index_entries[5] = 1 << 30;   // rows 15-17 cannot be found, after rows passed over
    expect_definition(ost, "three rows an entry");
}

INSTANTIATE_TEST_SUITE_P(Paths, TiledPath, ::testing::ValuesIn(kCases), [](const auto &info) {
    std::string name;
    for (const char *c = info.param.what; *c != '\0'; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
});

TEST(TiledServing, StoredRowsComeOutAsDefinedInBothModes) {
    TempDir dir;
    auto w = turned(50, 20, 12);
    w.rows_per_entry = 2;
    w.header[5] = "OST/2";
    w.raw_rows[3] = kap::row_record(4, Bytes(9, 3), 4);
    const Bytes file = w.build();
    auto o = open_chart(dir.write("p.kap", file));
    ASSERT_EQ(o->result, 0);
    ChartReader &r = *o->chart.reader;
    Bytes row(50 + 16);
    Bytes upright(static_cast<size_t>(o->chart.width));
    ASSERT_EQ(BSB_getrow(0, upright.data(), &o->chart), 0);
    ASSERT_EQ(r.mode, RowMode::skewed_tiled);
    for (int y = 0; y < 20; ++y) {
        Bytes expected(50, 0);
        kap::decode_row_by_definition(file, 4, 2, y, expected);
        tiled_image_stored_row(*r.tiled, y, row.data());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), row.begin())) << y;
        const uint8_t *direct = decode_into_scratch(r.image, r.walk, r.scratch, y);
        ASSERT_NE(direct, nullptr);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), direct)) << y;
    }
}

TEST(TiledServing, MemoryFollowsTheFileNotTheClaimedSize) {
    // An open skewed chart holds at most about four times its file and a
    // few megabytes, however many pixels it claims.
    TempDir dir;
    for (const char *ra : {"RA=20000,16000", "RA=131072,131072", "RA=131072,64"}) {
        auto w = turned(64, 64, 45);
        w.header[2] = std::string("BSB/NA=X,") + ra;
        w.rows_per_entry = 1 << 20;
        w.header[5] = "OST/1048576";
        const Bytes file = w.build();
        auto o = open_chart(dir.write("m.kap", file));
        ASSERT_EQ(o->result, 0) << ra << o->output.err;
        Bytes row(static_cast<size_t>(o->chart.width));
        ASSERT_EQ(BSB_getrow(o->chart.height / 2, row.data(), &o->chart), 0);
        ASSERT_EQ(o->chart.reader->mode, RowMode::skewed_tiled);
        EXPECT_LT(tiled_image_bytes(*o->chart.reader->tiled), 4 * static_cast<int64_t>(file.size()) + (INT64_C(16) << 20))
            << ra;
    }
}

TEST(KernelTable, ListsEveryKernelOnceBestFirstAndRunsTheFirstThisProcessorHas) {
    const auto kernels = skew_kernels();
    ASSERT_EQ(kernels.size(), 6u);
    EXPECT_EQ(kernels.front().kernel, SkewKernel::vbmi_blocks);
    EXPECT_EQ(kernels.back().kernel, SkewKernel::scalar);
    SkewKernel first_that_runs = SkewKernel::scalar;
    for (auto it = kernels.rbegin(); it != kernels.rend(); ++it)
        if (it->has()) first_that_runs = it->kernel;
    EXPECT_EQ(skew_kernel_best(), first_that_runs);
    EXPECT_TRUE(skew_kernel_runs(SkewKernel::sse2));   // every build's baseline
    EXPECT_TRUE(skew_kernel_runs(SkewKernel::scalar));
}

TEST(KernelTable, AKernelTheProcessorLacksIsRefusedWithItsReason) {
    // Taken to lack AVX2 here, whatever this processor has: a test asking
    // for it skips with this reason, and the tiles are not made with it.
    TempDir dir;
    auto o = open_chart(dir.write("k.kap", turned(60, 30, 25).build()));
    ASSERT_EQ(o->result, 0);
    ChartReader &r = *o->chart.reader;
    skew_kernel_pretend_lacking(SkewKernel::avx2_blocks, true);
    EXPECT_EQ(kernel_missing(SkewKernel::avx2_blocks), "this processor lacks AVX2, which avx2_blocks needs");
    TiledOptions options;
    options.kernel = SkewKernel::avx2_blocks;
    EXPECT_EQ(tiled_image_make(r.image, r.skew, options), nullptr);
    skew_kernel_pretend_lacking(SkewKernel::avx2_blocks, false);
    EXPECT_EQ(kernel_missing(SkewKernel::scalar), "");
    EXPECT_EQ(kernel_missing(std::nullopt), "");
    options.kernel = SkewKernel::scalar;
    TiledImage *scalar = tiled_image_make(r.image, r.skew, options);
    ASSERT_NE(scalar, nullptr);
    EXPECT_EQ(scalar->kernel, SkewKernel::scalar);
    tiled_image_free(scalar);
}
