// Converting 14771_1.KAP to a Cloud Optimized GeoTIFF with nvch-host, as a
// user does (the whole program, run as its own process): the best of a few
// runs for each compression, the file's size, and a memcpy of the upright
// image's bytes in the same run beside it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"

namespace {

double run_seconds(const std::string &command) {
    const double start = now_seconds();
    if (std::system(command.c_str()) != 0) return -1;
    return now_seconds() - start;
}

void summary() {
    const std::string chart = bench_chart("14771_1.KAP");
    if (chart.empty()) return;
    const std::filesystem::path out = std::filesystem::temp_directory_path() / "nvch_convert_bench.tif";
    const double copy = memcpy_seconds(static_cast<std::size_t>(12269) * 12272);
    std::printf("\n14771_1.KAP to a Cloud Optimized GeoTIFF, 12269 x 12272 upright, with nvch-host:\n");
    for (const char *compression : {"deflate", "zstd", "lzw"}) {
        const std::string command = std::string("\"") + NVCH_HOST + "\" convert \"" + chart + "\" \"" + out.string() +
                                    "\" --force --compress " + compression;
        double best = 1e30;
        for (int pass = 0; pass < 3; ++pass) {
            const double t = run_seconds(command);
            if (t < 0) {
                std::printf("  %s: not written\n", compression);
                best = -1;
                break;
            }
            best = std::min(best, t);
        }
        if (best < 0) continue;
        std::printf("  %-8s %.2f s, %.2f MB%s\n", compression, best,
                    std::filesystem::file_size(out) / 1e6, compression == std::string("deflate") ? " (the default)" : "");
    }
    std::printf("memcpy of the upright image's 150.6 MB in the same run: %.1f ms\n", copy * 1e3);
    std::filesystem::remove(out);
}

}  // namespace

int main() {
    summary();
    return 0;
}
