#include <gtest/gtest.h>

#include <filesystem>

#include "chart/chart_reader.h"
#include "chart_writer.h"
#include "open_chart.h"
#include "platform/heap.h"
#include "platform/heap_faults.h"
#include "test_files.h"

namespace {

int32_t exist(const std::string &path, std::string *found = nullptr, Captured *output = nullptr) {
    std::vector<char> name(path.size() + 5, '\0');
    int32_t result = 0;
    Captured c = capture_output([&] { result = BSB_exist(path.c_str(), name.data()); });
    if (found) *found = name.data();
    if (output) *output = c;
    return result;
}

kap::Bytes header_only(const std::vector<std::string> &lines) {
    std::string text;
    for (const auto &l : lines) text += l + "\r\n";
    text += "\x1a";
    return kap::Bytes(text.begin(), text.end());
}

}  // namespace

TEST(ChartProbe, FindsTheChartUnderTheNameOrWithAnExtension) {
    TempDir dir;
    const auto bytes = kap::simple_chart(10, 4).build();
    dir.write("harbour.kap", bytes);
    std::string found;
    EXPECT_EQ(exist(dir.path("harbour.kap"), &found), 1);
    EXPECT_EQ(found, dir.path("harbour.kap"));
    EXPECT_EQ(exist(dir.path("harbour"), &found), 1);
    EXPECT_EQ(found, dir.path("harbour.kap"));
    dir.write("upper.KAP", bytes);
    EXPECT_EQ(exist(dir.path("upper"), &found), 1);
    // Where the file system tells upper from lower case, the third name
    // tried is the one that opens.
    std::error_code ignored;
    const bool case_blind = std::filesystem::exists(dir.path("upper.kap"), ignored);
    EXPECT_EQ(found, dir.path(case_blind ? "upper.kap" : "upper.KAP"));

    // The open itself tries no extension.
    auto opened = open_chart(dir.path("harbour"));
    EXPECT_EQ(opened->result, -1);
    EXPECT_EQ(opened->output.err, "Error: (BSB_open) fopen failed\n");
    EXPECT_EQ(opened->output.out, "");
}

TEST(ChartProbe, RejectsFilesThatAreNotChartsWithTheirMessages) {
    TempDir dir;
    const struct {
        std::vector<std::string> header;
        const char *out;
    } cases[] = {
        {{"VER/3.0", "CHT/NA=X", "KNP/PR=MERCATOR"}, "This looks like a .bsb instead of a .kap file\n"},
        {{"VER/3.0", "BSB/RA=1,1"}, "Missing a KNP header line!  Can't process.\n"},
        {{"BSB/RA=1,1", "KNP/PR=MERCATOR"}, ""},   // no VER
        {{"VER/3.0"}, ""},                          // a single record
        {{"! just a comment", "plain text"}, ""},
    };
    for (const auto &c : cases) {
        Captured output;
        EXPECT_EQ(exist(dir.write("x.kap", header_only(c.header)), nullptr, &output), 0) << c.out;
        EXPECT_EQ(output.out, c.out);
        EXPECT_EQ(output.err, "");
    }
    Captured output;
    EXPECT_EQ(exist(dir.path("missing"), nullptr, &output), 0);
    EXPECT_EQ(output.out, "Unable to open the file " + dir.path("missing") + " [.KAP][.kap]\n");
}

TEST(ChartProbe, LooksAtOnlyTheFirstHundredRecords) {
    std::vector<std::string> header = {"VER/3.0"};
    for (int i = 0; i < 120; ++i) header.push_back("ADN/" + std::to_string(i));
    header.push_back("KNP/PR=MERCATOR");
    TempDir dir;
    Captured output;
    EXPECT_EQ(exist(dir.write("late.kap", header_only(header)), nullptr, &output), 0);
    EXPECT_EQ(output.out, "Missing a KNP header line!  Can't process.\n");
}

TEST(ChartOpen, FailsWithoutKnpOrWithoutAnyRecordSilently) {
    TempDir dir;
    auto w = kap::simple_chart(10, 4);
    std::erase_if(w.header, [](const std::string &l) { return l.rfind("KNP", 0) == 0; });
    auto no_knp = open_chart(dir.write("a.kap", w.build()));
    EXPECT_EQ(no_knp->result, -1);
    EXPECT_EQ(no_knp->output.err, "");
    EXPECT_EQ(no_knp->output.out, "");
    EXPECT_EQ(no_knp->chart.reader, nullptr);
    EXPECT_EQ(no_knp->chart.palette_red, nullptr);

    auto empty = open_chart(dir.write("b.kap", kap::Bytes{0x1a, 0, 0, 0, 0}));
    EXPECT_EQ(empty->result, -1);
    EXPECT_EQ(empty->output.err, "");
}

TEST(ChartOpen, ReadsTheSkewAngleOnlyWhenItIsNonZeroAndTheSwitchIsOn) {
    TempDir dir;
    auto with_sk = [&](const std::string &sk) {
        auto w = kap::simple_chart(40, 20);
        w.header[3] = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,PI=UNKNOWN,SP=UNKNOWN" + sk + ",TA=90.0";
        return dir.write("sk.kap", w.build());
    };
    for (const char *plain : {",SK=0.0", "", ",SK=-0.0", ",SK=nan", ",SK=inf", ",SK=abc"}) {
        auto opened = open_chart(with_sk(plain));
        ASSERT_EQ(opened->result, 0) << plain << opened->output.err;
        EXPECT_EQ(opened->chart.reader->mode, RowMode::stored) << plain;
        EXPECT_EQ(opened->chart.width, 40);
    }
    auto skewed = open_chart(with_sk(",SK=12.5"));
    ASSERT_EQ(skewed->result, 0);
    EXPECT_EQ(skewed->chart.reader->mode, RowMode::skewed_untried);
    EXPECT_DOUBLE_EQ(skewed->chart.reader->skew.angle, 12.5 * 0.017453292519943295);
    EXPECT_EQ(skewed->chart.reader->image.width, 40);

    SkewSwitch off(0);
    auto served_as_stored = open_chart(with_sk(",SK=12.5"));
    EXPECT_EQ(served_as_stored->chart.reader->mode, RowMode::stored);
    EXPECT_EQ(served_as_stored->chart.width, 40);
}

TEST(ChartOpen, TakesOneRowPerIndexEntryWithoutAUsableOst) {
    TempDir dir;
    for (const char *ost : {"", "OST/0", "OST/-7", "OST/1"}) {
        auto w = kap::simple_chart(20, 7);
        std::erase_if(w.header, [](const std::string &l) { return l.rfind("OST", 0) == 0; });
        if (*ost) w.header.push_back(ost);
        auto opened = open_chart(dir.write("o.kap", w.build()));
        ASSERT_EQ(opened->result, 0) << ost;
        EXPECT_EQ(opened->chart.reader->image.rows_per_entry, 1);
        EXPECT_EQ(opened->all_rows(), w.pixels) << ost;
    }
}

TEST(ChartClose, ReleasesEverythingAndMayBeCalledAgain) {
    TempDir dir;
    auto opened = open_chart(dir.write("c.kap", kap::simple_chart(10, 4).build()));
    ASSERT_EQ(opened->result, 0);
    EXPECT_EQ(BSB_close(&opened->chart), 0);
    EXPECT_EQ(opened->chart.reader, nullptr);
    EXPECT_EQ(opened->chart.palette_red, nullptr);
    EXPECT_EQ(BSB_close(&opened->chart), 0);
    EXPECT_EQ(BSB_close(nullptr), 0);
    ChartFile fresh{};
    EXPECT_EQ(BSB_close(&fresh), 0);
    // An open record is not opened over.
    auto again = open_chart(dir.path("c.kap"));
    EXPECT_EQ(BSB_open(dir.path("c.kap").c_str(), 0, 0, 0, 0, &again->chart), -1);
}

// Every allocation the open makes, made to fail in turn: the open fails
// cleanly (nothing left owned, nothing leaked) or succeeds whole, and the
// process goes on. The georeferencing matrices (the reference points, their
// projections, their rotated copy) fail the open with one line each.
TEST(ChartOpen, FailsCleanlyWhereverMemoryRunsOut) {
    TempDir dir;
    auto w = kap::simple_chart(30, 10);
    w.header[3].replace(w.header[3].find("SK=0.0"), 6, "SK=20.0");
    const std::string path = dir.write("m.kap", w.build());
    const long live_before = heap_live_blocks();
    heap_reset_allocation_count();
    {
        auto whole = open_chart(path);
        ASSERT_EQ(whole->result, 0);
        ASSERT_TRUE(chart_is_skewed(whole->chart.reader));
    }
    const long allocations = heap_allocation_count();
    ASSERT_GT(allocations, 10);
    int matrix_failures = 0;
    for (long n = 0; n < allocations; ++n) {
        ChartFile chart{};
        heap_fail_after(n);
        int32_t result = 0;
        const Captured c = capture_output([&] { result = BSB_open(path.c_str(), 0, 0, 0, 0, &chart); });
        heap_fail_after(-1);
        if (result != 0) {
            EXPECT_EQ(chart.reader, nullptr) << n;
            EXPECT_EQ(chart.palette_red, nullptr) << n;
        }
        if (c.err.find("in matrix()") != std::string::npos) {
            EXPECT_EQ(result, -1);
            EXPECT_TRUE(c.err == "allocation failure 1 in matrix()\n" || c.err == "allocation failure 2 in matrix()\n")
                << c.err;
            ++matrix_failures;
        }
        BSB_close(&chart);
        EXPECT_EQ(heap_live_blocks(), live_before) << "allocation " << n << " failed";
    }
    EXPECT_EQ(matrix_failures, 6);   // three matrices, two blocks each
}
