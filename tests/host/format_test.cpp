#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "chart_writer.h"
#include "nvch.h"
#include "open_chart.h"
#include "platform/heap.h"
#include "host/handles.h"
#include "platform/heap_faults.h"
#include "test_files.h"

namespace {

struct Identified {
    ChartFile *handle = nullptr;
    int32_t title = 99;
    Captured output;
};

Identified identify(const char *name, int32_t request = 1) {
    Identified id;
    id.output = capture_output([&] { id.handle = nvchFileTitleIdentifyAndOpen(name, &id.title, request); });
    return id;
}

}  // namespace

TEST(FormatIdentity, ReportsItsSingleTitleTypesAndNames) {
    const struct {
        int32_t (*query)(int32_t *, char ***);
        const char *item;
    } counted[] = {{nvchInstanceTitleListGet, "BSB Format"},
                   {nvchInstancePixelTypesGet, "u8"},
                   {nvchInstanceLayerTypesGet, "thematic"}};
    for (const auto &q : counted) {
        int32_t count = 0;
        char **list = nullptr;
        EXPECT_EQ(q.query(&count, &list), 0);
        ASSERT_EQ(count, 1);
        EXPECT_STREQ(list[0], q.item);
        release_host_list(list, count);
    }
    const struct {
        int32_t (*query)(char ***);
        const char *item;
    } plain[] = {{nvchInstanceExtListGet, ".kap"}, {nvchInstanceShortNameListGet, "kap"}};
    for (const auto &q : plain) {
        char **list = nullptr;
        EXPECT_EQ(q.query(&list), 0);
        EXPECT_STREQ(list[0], q.item);
        release_host_list(list, 1);
    }
    char **templates = nullptr;
    int32_t value = 99;
    EXPECT_EQ(nvchInstanceTemplateListGet(&templates, &value), 0);
    EXPECT_STREQ(templates[0], "*.kap");
    EXPECT_EQ(value, 0);
    release_host_list(templates, 1);
    char *description = nullptr;
    EXPECT_EQ(nvchInstanceDescriptionGet(&description), 0);
    EXPECT_STREQ(description, "BSB Format DLL, version 1.0");
    host_release(description);
}

TEST(FormatIdentity, FailsWhenTheListCannotBeAllocated) {
    int32_t count = 0;
    char **list = reinterpret_cast<char **>(1);
    heap_fail_after(0);
    EXPECT_EQ(nvchInstanceTitleListGet(&count, &list), -1);
    heap_fail_after(-1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list, nullptr);
    char **templates = reinterpret_cast<char **>(1);
    int32_t value = 7;
    heap_fail_after(0);
    EXPECT_EQ(nvchInstanceTemplateListGet(&templates, &value), -1);
    heap_fail_after(-1);
    EXPECT_EQ(templates, reinterpret_cast<char **>(1));
    EXPECT_EQ(value, 7);
}

TEST(FileOpen, IdentifiesAndOpensAChartAndListsItsLayer) {
    TempDir dir;
    const std::string path = dir.write("harbour.kap", kap::simple_chart(30, 12).build());
    Identified id = identify(path.c_str());
    ASSERT_NE(id.handle, nullptr) << id.output.err;
    EXPECT_EQ(id.title, 0);
    EXPECT_EQ(id.output.out + id.output.err, "");
    int32_t count = 0;
    char **names = nullptr;
    EXPECT_EQ(nvchFileLayerNamesGet(id.handle, &count, &names), 0);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(names[0], "Band_1");
    release_host_list(names, count);
    EXPECT_EQ(nvchFileClose(id.handle), 0);
    EXPECT_EQ(nvchFileClose(nullptr), 0);
}

TEST(FileOpen, AnswersWithoutOpeningWhenNotAskedTo) {
    int32_t title = 99;
    EXPECT_EQ(nvchFileTitleIdentifyAndOpen(nullptr, &title, 1), nullptr);
    EXPECT_EQ(title, 99);
    Identified id = identify("/no/such/file", 0);
    EXPECT_EQ(id.handle, nullptr);
    EXPECT_EQ(id.title, 0);
    EXPECT_EQ(id.output.out, "");
}

TEST(FileOpen, RejectsWhatIsNotAChart) {
    TempDir dir;
    kap::write_file(dir.path("text.kap"), kap::Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    Identified text = identify(dir.path("text.kap").c_str());
    EXPECT_EQ(text.handle, nullptr);
    EXPECT_EQ(text.title, -1);
    auto w = kap::simple_chart(10, 4);
    w.header.insert(w.header.begin() + 2, "CHT/NA=X");
    Identified bsb = identify(dir.write("c.kap", w.build()).c_str());
    EXPECT_EQ(bsb.title, -1);
    EXPECT_EQ(bsb.output.out, "This looks like a .bsb instead of a .kap file\n");
    Identified dir_itself = identify(dir.path("").c_str());
    EXPECT_EQ(dir_itself.title, -1);
    EXPECT_EQ(dir_itself.handle, nullptr);
}

TEST(FileOpen, IdentifiesButDoesNotOpenANameFoundOnlyWithAnExtension) {
    TempDir dir;
    dir.write("harbour.kap", kap::simple_chart(10, 4).build());
    Identified id = identify(dir.path("harbour").c_str());
    EXPECT_EQ(id.title, 0);
    EXPECT_EQ(id.handle, nullptr);
    EXPECT_EQ(id.output.err, "Error: (BSB_open) fopen failed\n");
}

TEST(FileOpen, GivesTheProbeRoomForAnyPathLength) {
    const std::string long_path = "/tmp/" + std::string(4000, 'n');
    Identified id = identify(long_path.c_str());
    EXPECT_EQ(id.title, -1);
    EXPECT_EQ(id.output.out, "Unable to open the file " + long_path + " [.KAP][.kap]\n");
}

TEST(FileOpen, ReleasesEverythingWhereverMemoryRunsOut) {
    // Each allocation of an identify-and-open made to fail in turn: the
    // open either fails and keeps nothing, or gives a handle that reads the
    // chart's rows and keeps nothing once closed.
    TempDir dir;
    const kap::ChartWriter w = kap::simple_chart(30, 10);
    const std::string path = dir.write("m.kap", w.build());
    // The handle table and the records of closed handles it holds back
    // are the table's, not leaks.
    const auto live = [] { return heap_live_blocks() - handle_blocks(); };
    const long live_before = live();
    heap_reset_allocation_count();
    Identified whole = identify(path.c_str());
    ASSERT_NE(whole.handle, nullptr);
    nvchFileClose(whole.handle);
    const long allocations = heap_allocation_count();
    ASSERT_GT(allocations, 5);
    ASSERT_EQ(live(), live_before);
    int opened = 0;
    for (long n = 0; n < allocations; ++n) {
        heap_fail_after(n);
        Identified id = identify(path.c_str());
        heap_fail_after(-1);
        if (id.handle != nullptr) {
            ++opened;
            std::vector<uint8_t> row(30);
            ASSERT_EQ(BSB_getrow(9, row.data(), id.handle), 0) << n;
            EXPECT_TRUE(std::equal(row.begin(), row.end(), w.pixels.begin() + 9 * 30)) << n;
        }
        nvchFileClose(id.handle);
        EXPECT_EQ(live(), live_before) << "allocation " << n << " failed";
    }
    EXPECT_LT(opened, allocations);   // most failures fail the open
}
