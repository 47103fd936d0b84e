#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "host/nvch.h"
#include "platform/heap.h"

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

// Rows of more pixels than this are not read whole: a damaged header may
// claim a width or height in the billions, and reading all of it would
// measure the machine rather than the reader.
constexpr int64_t kLargestImage = INT64_C(1) << 20;

void release_list(char **list, int32_t count) {
    if (list == nullptr) return;
    for (int32_t i = 0; i < count; ++i) host_release(list[i]);
    host_release(list);
}

void read_blocks(LayerHandle *layer, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > kLargestImage) return;
    std::vector<uint8_t> row(static_cast<size_t>(width));
    void *block = row.data();
    for (int32_t r = 0; r < height; ++r) nvchLayerRasterRead(layer, static_cast<uint32_t>(r), 0, &block);
    nvchLayerRasterRead(layer, static_cast<uint32_t>(height), 0, &block);
}

void query_layer(LayerHandle *layer) {
    char *name = nullptr, *units = nullptr;
    double x, y, w, h;
    nvchLayerMapInfoRead(layer, &name, &x, &y, &w, &h, &units);
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

std::string fuzz_input_file(const uint8_t *data, size_t size) {
    static const std::string path = [] {
        std::filesystem::path dir = "/dev/shm";
        std::error_code ignored;
        if (!std::filesystem::is_directory(dir, ignored)) dir = std::filesystem::temp_directory_path();
        return (dir / ("nvch_fuzz_" + std::to_string(getpid()) + ".kap")).string();
    }();
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path;
}

void drive_host_interface(const std::string &path) {
    int32_t title = -1;
    ChartFile *file = nvchFileTitleIdentifyAndOpen(path.c_str(), &title, 1);
    if (file == nullptr) return;
    int32_t count = 0;
    char **names = nullptr;
    nvchFileLayerNamesGet(file, &count, &names);
    release_list(names, count);
    int32_t z1, width, height, z2, bw, bh;
    LayerHandle *layer = nullptr;
    if (nvchLayerOpen(file, "Band_1", &z1, &width, &height, &z2, &bw, &bh, &layer) == 0) {
        query_layer(layer);
        read_blocks(layer, width, height);
        nvchLayerClose(layer);
    }
    nvchFileClose(file);
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
