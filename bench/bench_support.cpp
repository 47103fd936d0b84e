#include "bench_support.h"

#if NVCH_GOOGLE_BENCHMARK
#include <benchmark/benchmark.h>
#endif

#include "chart_writer.h"
#include "raster/kernels.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

std::string bench_chart(const char *name) {
    const char *env = std::getenv("NVCH_CHARTS_DIR");
    const std::filesystem::path dir = env != nullptr && *env != '\0' ? env : NVCH_CHARTS_DIR;
    const std::filesystem::path path = dir / name;
    if (!std::filesystem::exists(path)) {
        std::fprintf(stderr, "benchmark chart %s not found (set NVCH_CHARTS_DIR)\n", path.string().c_str());
        return "";
    }
    return path.string();
}

std::string bench_chart_with_ost(const char *name, const char *ost) {
    const std::string original = bench_chart(name);
    if (original.empty()) return "";
    const std::filesystem::path copy = std::filesystem::temp_directory_path() / (std::string("ost_") + name);
    kap::write_file(copy.string(), kap::edit_header(kap::read_file(original), "OST/1\r\n", std::string(ost) + "\r\n"));
    return copy.string();
}

std::size_t peak_memory_bytes() {
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
#endif
}

double now_seconds() {
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

double memcpy_seconds(std::size_t bytes) {
    std::vector<uint8_t> from(bytes, 1), to(bytes, 2);
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        const double start = now_seconds();
        std::memcpy(to.data(), from.data(), bytes);
        const double took = now_seconds() - start;
        if (took < best) best = took;
        from[run] = to[bytes - 1 - run];   // keep the copies observable
    }
    return best;
}

int run_summary_then_benchmarks(void (*summary)(), int argc, char **argv) {
    std::printf("kernels that run here: %s\n", kernels_in_use());
    summary();
#if NVCH_GOOGLE_BENCHMARK
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#else
    (void)argc;
    (void)argv;
#endif
    return 0;
}
