// Decoding speed of an upright chart through the host interface: open
// 14771_1.KAP with skew correction off and read all 7841 blocks (one row
// each) into one image, as a host does. Prints megapixels per second and
// the ratio to a plain memcpy of the same number of bytes.
#if NVCH_GOOGLE_BENCHMARK
#include <benchmark/benchmark.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bench_support.h"
#include "nvch.h"

namespace {

struct Opened {
    ChartFile *file = nullptr;
    LayerHandle *layer = nullptr;
    int32_t width = 0, height = 0;
};

Opened open_upright(const std::string &path) {
    const int32_t off = 0;
    BSB_set_skew_state(&off);
    Opened o;
    int32_t title = 0, z1, z2, bw, bh;
    o.file = nvchFileTitleIdentifyAndOpen(path.c_str(), &title, 1);
    if (o.file) nvchLayerOpen(o.file, "Band_1", &z1, &o.width, &o.height, &z2, &bw, &bh, &o.layer);
    return o;
}

void read_all_blocks(const Opened &o, std::vector<uint8_t> &image) {
    for (int32_t r = 0; r < o.height; ++r) {
        void *block = image.data() + static_cast<std::size_t>(r) * o.width;
        nvchLayerRasterRead(o.layer, static_cast<uint32_t>(r), 0, &block);
    }
}

#if NVCH_GOOGLE_BENCHMARK
void BM_DecodeUprightChart(benchmark::State &state) {
    const std::string path = bench_chart("14771_1.KAP");
    if (path.empty()) {
        state.SkipWithError("charts not found");
        return;
    }
    Opened o = open_upright(path);
    const std::size_t pixels = static_cast<std::size_t>(o.width) * o.height;
    std::vector<uint8_t> image(pixels, 0);
    for (auto _ : state) {
        read_all_blocks(o, image);
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pixels));
    state.counters["Mpixel/s"] =
        benchmark::Counter(static_cast<double>(pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    nvchLayerClose(o.layer);
    nvchFileClose(o.file);
}
BENCHMARK(BM_DecodeUprightChart)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

#if NVCH_GOOGLE_BENCHMARK
// The same bytes copied with memcpy, in the same run.
void BM_MemcpySameBytes(benchmark::State &state) {
    const std::size_t bytes = 9513u * 7841u;
    std::vector<uint8_t> from(bytes, 1), to(bytes, 2);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

std::size_t file_size(const std::string &path) { return std::filesystem::file_size(path); }

// One summary line: the open, the best pass, its rate and its ratio to memcpy.
void summary() {
    const std::string path = bench_chart("14771_1.KAP");
    if (path.empty()) return;
    // The host's image is in place before the open, so that the growth of
    // the peak is what the library holds.
    std::vector<uint8_t> image(9513u * 7841u, 0);
    const std::size_t before = peak_memory_bytes();
    const double t0 = now_seconds();
    Opened o = open_upright(path);
    const double opened = now_seconds() - t0;
    const std::size_t pixels = static_cast<std::size_t>(o.width) * o.height;
    image.resize(pixels);
    double best = 1e30;
    for (int pass = 0; pass < 10; ++pass) {
        const double start = now_seconds();
        read_all_blocks(o, image);
        const double took = now_seconds() - start;
        if (took < best) best = took;
    }
    const std::size_t library_peak = peak_memory_bytes() - before;
    const double copy = memcpy_seconds(pixels);
    std::printf("\n14771_1.KAP upright: %d x %d = %.1f Mpixel; open %.1f ms; best read of all blocks %.1f ms\n",
                o.width, o.height, pixels / 1e6, opened * 1e3, best * 1e3);
    std::printf("decode: %.0f Mpixel/s; memcpy of the same bytes: %.1f ms; decode/memcpy time ratio: %.2f\n",
                pixels / best / 1e6, copy * 1e3, best / copy);
    std::printf("memory the open and the reads added to the peak: %.2f MB (file %.2f MB, a row %.3f MB)\n",
                library_peak / 1e6, file_size(path) / 1e6, o.width / 1e6);
    nvchLayerClose(o.layer);
    nvchFileClose(o.file);

    // The same chart with every row under one index entry: each row is
    // reached by passing over the rows before it, once.
    const std::string edited = bench_chart_with_ost("14771_1.KAP", "OST/2000000000");
    Opened e = open_upright(edited);
    double edited_best = 1e30;
    for (int pass = 0; pass < 3; ++pass) {
        const double start = now_seconds();
        read_all_blocks(e, image);
        edited_best = std::min(edited_best, now_seconds() - start);
    }
    std::printf("with OST/2000000000 (one index entry for all rows): best read of all blocks %.1f ms\n",
                edited_best * 1e3);
    nvchLayerClose(e.layer);
    nvchFileClose(e.file);
}

}  // namespace

int main(int argc, char **argv) { return run_summary_then_benchmarks(summary, argc, argv); }
