#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "chart/chart_open.h"
#include "host/handles.h"
#include "nvch.h"
#include "platform/heap.h"

namespace {

// Rows of more pixels than this are not read whole: a damaged header may
// claim a width or height in the billions, and reading all of it would
// measure the machine rather than the reader.
constexpr int64_t kLargestImage = INT64_C(1) << 20;

// What a buffer holds before a row is read into it: pixels a row leaves
// unwritten keep it, in both paths alike.
constexpr uint8_t kUnwritten = 0xA5;

void release_list(char **list, int32_t count) {
    if (list == nullptr) return;
    for (int32_t i = 0; i < count; ++i) host_release(list[i]);
    host_release(list);
}

// Every block through the host interface equals the row BSB_getrow gives.
void read_blocks(LayerHandle *layer, ChartFile *chart, int32_t width, int32_t height) {
    if (!small_enough_to_read(chart)) return;
    FUZZ_CHECK(width == chart->width && height == chart->height);
    std::vector<uint8_t> block(static_cast<size_t>(width)), row(static_cast<size_t>(width));
    for (int32_t r = 0; r < height; ++r) {
        std::memset(block.data(), kUnwritten, block.size());
        std::memset(row.data(), kUnwritten, row.size());
        void *data = block.data();
        const int32_t host = nvchLayerRasterRead(layer, static_cast<uint32_t>(r), 0, &data);
        const int32_t reader = BSB_getrow(r, row.data(), chart);
        FUZZ_CHECK(reader == 0 || reader == -1);
        FUZZ_CHECK(host == reader);
        if (reader == 0) FUZZ_CHECK(block == row);
    }
    void *data = block.data();
    FUZZ_CHECK(nvchLayerRasterRead(layer, static_cast<uint32_t>(height), 0, &data) == 0);   // past the end: nothing
}

void query_layer(LayerHandle *layer) {
    char *name = nullptr, *units = nullptr;
    double x, y, w, h;
    FUZZ_CHECK(nvchLayerMapInfoRead(layer, &name, &x, &y, &w, &h, &units) == 0);
    host_release(name);
    host_release(units);
    std::vector<double> colours(300);
    for (const char *component : {"Red", "Green", "Blue"}) nvchLayerColorRead(layer, component, 0, 300, colours.data());
    int32_t mod_time;
    nvchLayerColorModTimeGet(layer, nullptr, &mod_time);
    char *short_name = nullptr, *descriptor = nullptr, *type_name = nullptr;
    void *block = nullptr;
    int32_t size, z1, z2, z3, z4;
    nvchLayerMapProjectionRead(layer, &short_name, &block, &size, &descriptor, &type_name, &z1, &z2, &z3, &z4);
    for (void *p : {static_cast<void *>(short_name), block, static_cast<void *>(descriptor),
                    static_cast<void *>(type_name)})
        host_release(p);
}

}  // namespace

void fuzz_invariant_failed(const char *condition, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, condition);
    std::abort();
}

ChartFile *open_chart_from_memory(const uint8_t *data, size_t size) {
    // A handle of the host interface, as nvchFileTitleIdentifyAndOpen
    // makes one, so that the host interface takes it.
    ChartFile *chart = handle_new_file();
    ChartStream *stream = stream_open_memory(data, static_cast<int64_t>(size));
    if (chart == nullptr || stream == nullptr) {
        if (chart != nullptr) handle_close_file(chart);
        stream_close(stream);
        return nullptr;
    }
    if (chart_open_stream(chart, stream) != 0) {
        FUZZ_CHECK(chart->reader == nullptr && chart->palette_red == nullptr);
        handle_close_file(chart);
        return nullptr;
    }
    return chart;
}

void close_chart(ChartFile *chart) {
    FUZZ_CHECK(nvchFileClose(chart) == 0);
    FUZZ_CHECK(nvchFileClose(chart) == -1);   // a second close is refused, not a crash
}

int32_t probe_from_memory(const uint8_t *data, size_t size) {
    ChartStream *stream = stream_open_memory(data, static_cast<int64_t>(size));
    return stream != nullptr ? chart_probe_stream(stream) : 0;
}

bool small_enough_to_read(const ChartFile *chart) {
    return chart->width > 0 && chart->height > 0 &&
           static_cast<int64_t>(chart->width) * chart->height <= kLargestImage;
}

void drive_host_interface(ChartFile *chart) {
    int32_t count = 0;
    char **names = nullptr;
    FUZZ_CHECK(nvchFileLayerNamesGet(chart, &count, &names) == 0);
    release_list(names, count);
    int32_t z1, width, height, z2, bw, bh;
    LayerHandle *layer = nullptr;
    FUZZ_CHECK(nvchLayerOpen(chart, "Band_1", &z1, &width, &height, &z2, &bw, &bh, &layer) == 0);
    query_layer(layer);
    read_blocks(layer, chart, width, height);
    nvchLayerClose(layer);
}

void silence_output() {
    static bool done = false;
    if (done) return;
    done = true;
#if defined(_WIN32)
    std::freopen("NUL", "w", stdout);
#else
    std::freopen("/dev/null", "w", stdout);
#endif
    // Standard error stays: the sanitizers report there.
}
