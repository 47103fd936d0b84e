// A region of charts open at once: the budget that their read windows,
// tiles and stored-row indexes share, the pool of descriptors their files
// are read through, and files that change under an open chart.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "chart/chart_reader.h"
#include "chart/working_set.h"
#include "chart_writer.h"
#include "common/budget.h"
#include "open_chart.h"
#include "platform/file_pool.h"
#include "raster/tiled.h"
#include "reader_probes.h"
#include "test_files.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using kap::Bytes;

kap::ChartWriter turned(int width, int height, double degrees) {
    kap::ChartWriter w = kap::simple_chart(width, height, 4, 5);
    char knp[160];
    std::snprintf(knp, sizeof knp, "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=%.10g,TA=90", degrees);
    w.header[3] = knp;
    return w;
}

// Sets the budget for the life of the object, then the default again.
struct Budget {
    explicit Budget(int64_t bytes) { BSB_set_memory_budget(bytes); }
    ~Budget() { BSB_set_memory_budget(0); }
};

// A chart on disk, its bytes, and the image the host must see.
struct Known {
    std::string path;
    kap::ChartWriter writer;
    Bytes file;
    Bytes expected;
};

Known known_chart(const TempDir &dir, const std::string &name, const kap::ChartWriter &w) {
    Known k{dir.write(name, w.build()), w, {}, {}};
    k.file = kap::read_file(k.path);
    auto o = open_chart(k.path);
    EXPECT_EQ(o->result, 0) << name;
    k.expected = chart_is_skewed(o->chart.reader) ? upright_by_definition(k.file, w, o->chart) : w.pixels;
    return k;
}

Bytes row_of(const Bytes &image, int32_t width, int32_t y) {
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(y) * width,
                 image.begin() + static_cast<std::ptrdiff_t>(y + 1) * width);
}

}  // namespace

TEST(Budget, ABudgetOfOneTileStillGivesEveryPixel) {
    TempDir dir;
    const Known k = known_chart(dir, "one.kap", turned(300, 140, 33));
    const Budget one_tile(256 * 32);
    auto o = open_chart(k.path);
    ASSERT_EQ(o->result, 0);
    EXPECT_EQ(o->all_rows(), k.expected);
    // Rows asked for backwards too.
    Bytes row(static_cast<size_t>(o->chart.width));
    for (int32_t y = o->chart.height - 1; y >= 0; y -= 7) {
        ASSERT_EQ(BSB_getrow(y, row.data(), &o->chart), 0);
        EXPECT_EQ(row, row_of(k.expected, o->chart.width, y)) << y;
    }
}

TEST(Budget, ChartsReadInTurnTakeEachOthersTilesAndIndexesAndRebuildThem) {
    // Four skewed charts and an upright one, a row of each in turn, with a
    // budget that holds about one of them: what the others held is taken,
    // built again when they are read, and every pixel stays right.
    TempDir dir;
    std::vector<Known> charts;
    for (int n = 0; n < 4; ++n)
        charts.push_back(known_chart(dir, "s" + std::to_string(n) + ".kap", turned(700 + 50 * n, 400, 20 + 30 * n)));
    charts.push_back(known_chart(dir, "u.kap", kap::simple_chart(900, 500)));
    const int64_t budget = INT64_C(600) << 10;
    const Budget limited(budget);
    std::vector<std::unique_ptr<OpenedChart>> open;
    for (const Known &k : charts) {
        open.push_back(open_chart(k.path));
        ASSERT_EQ(open.back()->result, 0);
    }
    int32_t tallest = 0;
    for (const auto &o : open) tallest = std::max(tallest, o->chart.height);
    int rebuilt = 0;
    for (int32_t y = 0; y < tallest; ++y) {
        for (size_t c = 0; c < open.size(); ++c) {
            ChartFile &chart = open[c]->chart;
            if (y >= chart.height) continue;
            const bool had_tiles = chart.reader->tiled != nullptr;
            Bytes row(static_cast<size_t>(chart.width));
            ASSERT_EQ(BSB_getrow(y, row.data(), &chart), 0);
            ASSERT_EQ(row, row_of(charts[c].expected, chart.width, y)) << "chart " << c << " row " << y;
            if (y > 0 && !had_tiles && chart.reader->tiled != nullptr) ++rebuilt;
            EXPECT_LE(budget_held(), budget) << "chart " << c << " row " << y;
        }
    }
    EXPECT_GT(rebuilt, 100);   // the charts took each other's tiles, again and again
}

TEST(Budget, ChartsReadInTurnWhoseTilesFitTogetherGiveBackOldIndexBandsAndKeepTheirTiles) {
    // Tall skewed charts: the index of a whole chart is far larger than
    // the band of it a row needs. The budget holds every chart's tiles and
    // half of their whole indexes; read a row of each in turn, each chart
    // decodes each of its tiles once, as it does alone.
    TempDir dir;
    std::vector<Known> charts;
    for (int n = 0; n < 3; ++n)
        charts.push_back(known_chart(dir, "t" + std::to_string(n) + ".kap", turned(500 + 40 * n, 3000, 8 + 5 * n)));
    int64_t besides_index = 0, index = 0;
    for (const Known &k : charts) {
        auto o = open_chart(k.path);
        ASSERT_EQ(o->all_rows(), k.expected);
        const ChartReader &r = *o->chart.reader;
        ASSERT_NE(r.tiled, nullptr);
        index += stored_rows_bytes(r.tiled->rows);
        besides_index += working_set_bytes(r) - stored_rows_bytes(r.tiled->rows);
    }
    const int64_t budget = besides_index + index / 2;
    const Budget limited(budget);
    std::vector<std::unique_ptr<OpenedChart>> open;
    for (const Known &k : charts) open.push_back(open_chart(k.path));
    std::vector<Bytes> got(charts.size());
    int32_t tallest = 0;
    for (const auto &o : open) tallest = std::max(tallest, o->chart.height);
    for (int32_t y = 0; y < tallest; ++y) {
        for (size_t c = 0; c < open.size(); ++c) {
            ChartFile &chart = open[c]->chart;
            if (y >= chart.height) continue;
            Bytes row(static_cast<size_t>(chart.width));
            ASSERT_EQ(BSB_getrow(y, row.data(), &chart), 0);
            got[c].insert(got[c].end(), row.begin(), row.end());
            ASSERT_LE(budget_held(), budget) << "chart " << c << " row " << y;
        }
    }
    for (size_t c = 0; c < open.size(); ++c) {
        EXPECT_EQ(got[c], charts[c].expected) << "chart " << c;
        const ChartReader &r = *open[c]->chart.reader;
        ASSERT_NE(r.tiled, nullptr) << "chart " << c;
        EXPECT_EQ(r.tiled->tiles.decoded, int64_t{r.tiled->tiles.tiles_x} * r.tiled->tiles.tiles_y) << "chart " << c;
    }
}

TEST(Budget, AChartAloneKeepsWhatItNeedsAndNoMore) {
    TempDir dir;
    const Known k = known_chart(dir, "a.kap", turned(2000, 1200, 45));
    auto o = open_chart(k.path);
    ASSERT_EQ(o->result, 0);
    EXPECT_EQ(budget_held(), 0);   // opened, not read: nothing held
    const Budget small(INT64_C(300) << 10);
    EXPECT_EQ(o->all_rows(), k.expected);
    EXPECT_LE(budget_held(), INT64_C(300) << 10);
    o.reset();
    EXPECT_EQ(budget_held(), 0);   // closed: nothing held
}

#if !defined(_WIN32)
TEST(DescriptorPool, MoreChartsThanTheProcessHasDescriptors) {
    // 300 charts open in a process allowed 64 descriptors, a row of each
    // read twice over: they share the pool's sixteen.
    TempDir dir;
    const kap::ChartWriter w = kap::simple_chart(64, 40);
    std::vector<std::string> paths;
    for (int n = 0; n < 300; ++n) paths.push_back(dir.write("c" + std::to_string(n) + ".kap", w.build()));
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit tight = before;
    tight.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<std::unique_ptr<OpenedChart>> open;
    for (const std::string &p : paths) {
        open.push_back(open_chart(p));
        EXPECT_EQ(open.back()->result, 0) << p;
    }
    Bytes row(64);
    for (int pass = 0; pass < 2; ++pass)
        for (size_t n = 0; n < open.size(); ++n) {
            const int32_t y = static_cast<int32_t>((n * 7 + pass) % 40);
            ASSERT_EQ(BSB_getrow(y, row.data(), &open[n]->chart), 0) << n;
            EXPECT_EQ(row, row_of(w.pixels, 64, y)) << n;
        }
    EXPECT_LE(pool_descriptors_open(), kPoolDescriptors);
    open.clear();
    setrlimit(RLIMIT_NOFILE, &before);
}
#endif

namespace {

// A chart large enough that its read window never holds all of it, open
// and read once; then `change` is done to its file.
struct Changed {
    TempDir dir;
    std::string path;
    kap::ChartWriter w;
    std::unique_ptr<OpenedChart> o;
    Bytes expected;
    explicit Changed(bool skewed) : w(skewed ? turned(900, 1200, 30) : kap::simple_chart(900, 1200)) {
        const Known k = known_chart(dir, "c.kap", w);
        path = k.path;
        expected = k.expected;
        o = open_chart(path);
        Bytes row(static_cast<size_t>(o->chart.width));
        EXPECT_EQ(BSB_getrow(0, row.data(), &o->chart), 0);
        EXPECT_EQ(row, row_of(expected, o->chart.width, 0));
    }
    // A row far from the first, its status, and what was said.
    int32_t far_row(Captured *said) {
        Bytes row(static_cast<size_t>(o->chart.width));
        int32_t status = 0;
        *said = capture_output([&] { status = BSB_getrow(o->chart.height - 1, row.data(), &o->chart); });
        return status;
    }
};

}  // namespace

class FileChanges : public ::testing::TestWithParam<bool> {};

TEST_P(FileChanges, ATruncatedFileFailsItsRowsWithOneLine) {
    Changed c(GetParam());
    std::filesystem::resize_file(c.path, kap::read_file(c.path).size() / 2);
    Captured said;
    EXPECT_EQ(c.far_row(&said), -1);
    EXPECT_EQ(said.err, "Chart file " + c.path + " has changed since it was opened\n");
    EXPECT_EQ(said.out, "");
    EXPECT_EQ(c.far_row(&said), -1);
    EXPECT_EQ(said.err, "");   // once
}

TEST_P(FileChanges, AReplacedFileIsNeverReadForTheFirst) {
    Changed c(GetParam());
    // Another chart of the same size written beside it and renamed over it.
    kap::ChartWriter other = c.w;
    for (uint8_t &p : other.pixels) p = static_cast<uint8_t>((p + 1) % 16);
    kap::write_file(c.path + ".new", other.build());
#if defined(_WIN32)
    // Windows renames nothing over a file held open: an updater moves the
    // old one aside first, which the pool's sharing allows.
    std::filesystem::rename(c.path, c.path + ".old");
#endif
    std::filesystem::rename(c.path + ".new", c.path);
    pool_close_idle();   // the next read opens the name again
    Captured said;
    EXPECT_EQ(c.far_row(&said), -1);
    EXPECT_EQ(said.err, "Chart file " + c.path + " has changed since it was opened\n");
}

TEST_P(FileChanges, AnUnlinkedFileIsReadWhileItsDescriptorLastsAndFailsAfter) {
    Changed c(GetParam());
    std::filesystem::remove(c.path);
    Captured said;
    Bytes row(static_cast<size_t>(c.o->chart.width));
    // The descriptor the pool holds still reads the file as it was.
    said = capture_output([&] { EXPECT_EQ(BSB_getrow(c.o->chart.height / 2, row.data(), &c.o->chart), 0); });
    EXPECT_EQ(row, row_of(c.expected, c.o->chart.width, c.o->chart.height / 2));
    EXPECT_EQ(said.err, "");
    pool_close_idle();
    EXPECT_EQ(c.far_row(&said), -1);
    EXPECT_EQ(said.err, "Chart file " + c.path + " can no longer be read\n");
}

#if !defined(_WIN32)
TEST_P(FileChanges, AFileMadeUnreadableFailsItsRowsWithOneLine) {
    // As a user without root's bypass of permissions: in a child process
    // that drops them when it has them.
    const bool skewed = GetParam();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        bool right = false;
        {
            Changed c(skewed);
            chmod(c.path.c_str(), 0);
            pool_close_idle();
            Captured said;
            const int32_t status = c.far_row(&said);
            chmod(c.path.c_str(), 0600);
            right = status == -1 && said.err == "Chart file " + c.path + " can no longer be read\n";
        }
        _exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

INSTANTIATE_TEST_SUITE_P(UprightAndSkewed, FileChanges, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "skewed" : "upright"; });
