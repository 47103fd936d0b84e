#include <gtest/gtest.h>

#include "chart/image_params.h"
#include "chart_writer.h"
#include "open_chart.h"
#include "test_files.h"

namespace {

// A sound chart whose header records are replaced where `edit` says.
kap::ChartWriter chart_with(const std::function<void(std::vector<std::string> &)> &edit, int depth = 4) {
    kap::ChartWriter w = kap::simple_chart(12, 6, depth, 3);
    edit(w.header);
    return w;
}

void replace_record(std::vector<std::string> &h, const std::string &name, const std::string &with) {
    for (std::string &line : h)
        if (line.rfind(name, 0) == 0) line = with;
}

void remove_record(std::vector<std::string> &h, const std::string &name) {
    std::erase_if(h, [&](const std::string &line) { return line.rfind(name, 0) == 0; });
}

}  // namespace

TEST(ColourDepth, GivesTheValueMaskAndPaletteSizeOfEachDepth) {
    const uint8_t masks[8] = {0, 0x40, 0x60, 0x70, 0x78, 0x7C, 0x7E, 0x7F};
    TempDir dir;
    for (int depth = 1; depth <= 7; ++depth) {
        auto opened = open_chart(dir.write("d.kap", kap::simple_chart(12, 6, depth, 1).build()));
        ASSERT_EQ(opened->result, 0) << depth;
        EXPECT_EQ(opened->chart.reader->image.depth, depth);
        EXPECT_EQ(opened->chart.reader->image.value_mask, masks[depth]);
        EXPECT_EQ(palette_length(depth), (1 << depth) + 1);
    }
}

TEST(ColourDepth, WithoutIfmReadsTheByteBeforeTheIndexTable) {
    TempDir dir;
    auto w = chart_with([](auto &h) { remove_record(h, "IFM"); }, 3);
    w.byte_before_index = 3;
    auto opened = open_chart(dir.write("d.kap", w.build()));
    ASSERT_EQ(opened->result, 0) << opened->output.err;
    EXPECT_EQ(opened->chart.reader->image.depth, 3);
    EXPECT_EQ(opened->all_rows(), w.pixels);

    // An index pointer of 0 has no byte before it.
    w.index_pointer = 0;
    auto broken = open_chart(dir.write("e.kap", w.build()));
    EXPECT_EQ(broken->result, -1);
    EXPECT_EQ(broken->output.err, "failed to get color mode\nCan't get color mode for BSB file\n");
}

TEST(ChartSize, ReadsWidthAndHeightFromRa) {
    TempDir dir;
    auto w = chart_with([](auto &h) { replace_record(h, "BSB", "BSB/NA=HARBOUR,NU=123,RA=9000,6000,DU=254"); });
    auto opened = open_chart(dir.write("s.kap", w.build()));
    EXPECT_EQ(opened->chart.width, 9000);
    EXPECT_EQ(opened->chart.height, 6000);
}

TEST(ChartSize, RefusesMissingOrNonPositiveSizesWithTheirMessages) {
    TempDir dir;
    const struct {
        const char *bsb;
        const char *err;
    } cases[] = {
        {"BSB/NA=HARBOUR,RA=0,6000", ""},
        {"BSB/NA=HARBOUR,RA=12,-6", ""},
        {"BSB/NA=HARBOUR,RA=12", ""},
        {"BSB/NA=CAPE,RACE POINT,RA=9000,6000", ""},
        {"BSB/NA=HARBOUR,NU=1", "failed to find code RA\n"},
        {"XYZ/NA=HARBOUR", "couldn't find BSB line\n"},
    };
    for (const auto &c : cases) {
        auto w = chart_with([&](auto &h) { replace_record(h, "BSB", c.bsb); });
        auto opened = open_chart(dir.write("s.kap", w.build()));
        EXPECT_EQ(opened->result, -1) << c.bsb;
        EXPECT_EQ(opened->output.err, c.err) << c.bsb;
        EXPECT_EQ(opened->output.out, "Failed to find size correctly in UDFinit\n") << c.bsb;
    }
}

TEST(Palette, StoresRecordsByIndexAndCountsRecords) {
    TempDir dir;
    auto w = chart_with([](auto &h) {
        remove_record(h, "RGB");
        h.insert(h.end(), {"RGB/1,255,255,255", "RGB/2,0,0,0", "RGB/3,255,0,0", "RGB/4,300,20,30",
                           "RGB/4,1,2,3"});
    });
    auto opened = open_chart(dir.write("p.kap", w.build()));
    const ChartFile &c = opened->chart;
    EXPECT_EQ(c.color_count, 6);   // five records, the duplicate included
    EXPECT_EQ(c.palette_red[0], 255);
    EXPECT_EQ(c.palette_green[0], 255);
    EXPECT_EQ(c.palette_blue[0], 255);
    EXPECT_EQ(c.palette_red[3], 255);
    EXPECT_EQ(c.palette_green[3], 0);
    EXPECT_EQ(c.palette_blue[3], 0);
    EXPECT_EQ(c.palette_red[4], 1);   // the later duplicate wins
    // A component of 300 keeps its low 8 bits.
    auto low = chart_with([](auto &h) { remove_record(h, "RGB"); h.push_back("RGB/1,300,0,0"); });
    auto low_opened = open_chart(dir.write("q.kap", low.build()));
    EXPECT_EQ(low_opened->chart.palette_red[1], 44);
}

TEST(Palette, EntryZeroIsWhiteUnlessARecordSetsIt) {
    TempDir dir;
    auto none = open_chart(dir.write("n.kap", chart_with([](auto &h) { remove_record(h, "RGB"); }).build()));
    EXPECT_EQ(none->chart.color_count, 1);
    EXPECT_EQ(none->chart.palette_blue[0], 255);
    auto zero = open_chart(dir.write("z.kap", chart_with([](auto &h) {
                                                   remove_record(h, "RGB");
                                                   h.push_back("RGB/0,10,20,30");
                                               }).build()));
    EXPECT_EQ(zero->chart.color_count, 2);
    EXPECT_EQ(zero->chart.palette_red[0], 10);
    EXPECT_EQ(zero->chart.palette_blue[0], 30);
}

TEST(Palette, NeverStoresOutsideItsArraysAndSkipsShortRecords) {
    TempDir dir;
    // Depth 3: nine entries, 0 to 8.
    auto w = chart_with(
        [](auto &h) {
            remove_record(h, "RGB");
            h.insert(h.end(), {"RGB/-1,1,1,1", "RGB/9,2,2,2", "RGB/100000,3,3,3", "RGB/8,4,5,6", "RGB/2,7,7"});
        },
        3);
    auto opened = open_chart(dir.write("o.kap", w.build()));
    ASSERT_EQ(opened->result, 0);
    const ChartFile &c = opened->chart;
    EXPECT_EQ(c.color_count, 6);   // every record counts, stored or not
    EXPECT_EQ(c.palette_red[8], 4);
    EXPECT_EQ(c.palette_blue[8], 6);
    EXPECT_EQ(c.palette_red[2], 0);   // the short record stored nothing
}
