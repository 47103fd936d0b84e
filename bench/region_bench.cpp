// A region of charts held open at once, as a host that shows a coast
// holds them: the real charts opened many times over (1,010 handles),
// then the first row of each read, then a row from the middle of each.
// Prints, for each chart: the memory a handle added at its open and what
// it holds after the rows, the bytes an open read, the time of its first
// row and of its middle row; and the descriptors in use. In a 32-bit
// process (the Windows build under Wine) also the largest free block of
// address space as the opens go.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "address_space.h"
#include "chart/chart_reader.h"
#include "common/budget.h"
#include "nvch.h"
#include "platform/file_pool.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <malloc.h>
#endif

namespace {

constexpr int kCopies = 202;   // five charts: 1,010 handles

// Bytes the process has allocated now.
int64_t allocated_bytes() {
#if defined(_WIN32)
    return committed_private_bytes();
#else
    return static_cast<int64_t>(mallinfo2().uordblks);
#endif
}

// Descriptors the process has open (on Windows, those of the pool).
int descriptors_in_use() {
#if defined(_WIN32)
    return pool_descriptors_open();   // Wine counts no handles of a process
#else
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
        n -= 3;   // ".", "..", and the listing's own
    }
    return n;
#endif
}

struct Handle {
    ChartFile *file = nullptr;
    LayerHandle *layer = nullptr;
    int32_t width = 0, height = 0;
};

struct ChartFigures {
    std::string name;
    int64_t opened = 0, held = 0, bytes = 0;
    double first_row = 0, middle_row = 0;
    int handles = 0;
};

// Reads row `row` of every handle: the seconds each chart's took in all.
int read_rows(const std::vector<Handle> &handles, std::vector<ChartFigures> &figures, bool middle) {
    std::vector<uint8_t> row(20000);
    int failures = 0;
    for (size_t k = 0; k < handles.size(); ++k) {
        const Handle &h = handles[k];
        void *block = row.data();
        const double t0 = now_seconds();
        if (nvchLayerRasterRead(h.layer, middle ? static_cast<uint32_t>(h.height / 2) : 0, 0, &block) != 0) ++failures;
        (middle ? figures[k % figures.size()].middle_row : figures[k % figures.size()].first_row) += now_seconds() - t0;
    }
    return failures;
}

void summary() {
    const char *names[] = {"11361_2.KAP", "12205_7.KAP", "12205_12.KAP", "14988_2.KAP", "14771_1.KAP"};
    std::vector<std::string> paths;
    for (const char *n : names) {
        const std::string p = bench_chart(n);
        if (p.empty()) return;
        paths.push_back(p);
    }
    const int32_t on = 1;
    BSB_set_skew_state(&on);
    std::vector<Handle> handles;
    std::vector<ChartFigures> figures(paths.size());
    const int64_t start = allocated_bytes();
    const bool measure_blocks = sizeof(void *) == 4;
    if (measure_blocks) std::printf("largest free block at the start: %.0f MB\n", largest_free_block() / 1e6);
    int failed = 0;
    for (int copy = 0; copy < kCopies; ++copy) {
        for (size_t c = 0; c < paths.size(); ++c) {
            const int64_t before = allocated_bytes(), read_before = pool_bytes_read();
            Handle h;
            int32_t title = 0, z1, z2, bw, bh;
            h.file = nvchFileTitleIdentifyAndOpen(paths[c].c_str(), &title, 1);
            if (h.file == nullptr ||
                nvchLayerOpen(h.file, "Band_1", &z1, &h.width, &h.height, &z2, &bw, &bh, &h.layer) != 0) {
                ++failed;
                continue;
            }
            figures[c].name = names[c];
            figures[c].opened += allocated_bytes() - before;
            figures[c].bytes += pool_bytes_read() - read_before;
            ++figures[c].handles;
            handles.push_back(h);
        }
        if (measure_blocks && (copy + 1) % 50 == 0)
            std::printf("after %zu handles: largest free block %.0f MB\n", handles.size(), largest_free_block() / 1e6);
    }
    const int64_t after_opens = allocated_bytes();
    const int descriptors_after_opens = descriptors_in_use();
    const int row_failures = read_rows(handles, figures, false) + read_rows(handles, figures, true);
    const int64_t after_rows = allocated_bytes();
    for (size_t k = 0; k < handles.size(); ++k) figures[k % figures.size()].held += handles[k].file->reader->budget.held;
    std::printf("%zu handles open (%d failed to open); the first and the middle row read from each (%d failed)\n",
                handles.size(), failed, row_failures);
    std::printf("%-13s %8s %9s %14s %13s %13s %13s\n", "chart", "handles", "KB/open", "KB held after", "KB read/open",
                "first row ms", "middle row ms");
    for (const ChartFigures &f : figures) {
        if (f.handles == 0) continue;
        const double n = f.handles;
        std::printf("%-13s %8d %9.1f %14.1f %13.1f %13.3f %13.3f\n", f.name.c_str(), f.handles, f.opened / n / 1e3,
                    (f.opened + f.held) / n / 1e3, f.bytes / n / 1e3, f.first_row / n * 1e3, f.middle_row / n * 1e3);
    }
    std::printf("all: %.1f KB a chart after the opens; %.1f MB in all after the rows (the budget %.0f MB, held %.1f "
                "MB)\n",
                (after_opens - start) / static_cast<double>(handles.size()) / 1e3, (after_rows - start) / 1e6,
                budget_bytes() / 1e6, budget_held() / 1e6);
    std::printf("descriptors in use: %d after the opens, %d after the rows (the pool holds %d at most)\n",
                descriptors_after_opens, descriptors_in_use(), kPoolDescriptors);
    if (measure_blocks) std::printf("largest free block after the rows: %.0f MB\n", largest_free_block() / 1e6);
    for (const Handle &h : handles) {
        nvchLayerClose(h.layer);
        nvchFileClose(h.file);
    }
}

}  // namespace

int main(int argc, char **argv) { return run_summary_then_benchmarks(summary, argc, argv); }
