// Many threads opening, reading, querying and closing different charts at
// the same time, through the library's exports only, as a host does. Every
// pixel hash, map information and coordinate system must equal what one
// thread alone gets.
//
//   nvch_thread_stress [THREADS] [ROUNDS]     (8 and 40 by default; the
//                                             environment's NVCH_STRESS_ROUNDS
//                                             sets the rounds too)
//
// Charts: the real ones beside the project (when present) and charts the
// test writes in Transverse Mercator, UTM, Polyconic and Lambert, upright
// and skewed. Exits 1 on the first difference.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "chart_writer.h"
#include "nvch.h"
#include "sha256.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

void host_free(void *p) {
#if defined(_WIN32)
    if (p != nullptr) HeapFree(GetProcessHeap(), 0, p);
#else
    std::free(p);
#endif
}

struct Seen {
    bool opened = false;
    std::string summary;   // size, map information, colours, coordinate system, pixel hash
};

// Everything a host reads of one chart, as one text.
Seen read_chart(const std::string &path, bool every_row) {
    Seen seen;
    int32_t title = -1;
    ChartFile *file = nvchFileTitleIdentifyAndOpen(path.c_str(), &title, 1);
    if (file == nullptr) return seen;
    seen.opened = true;
    LayerHandle *layer = nullptr;
    int32_t z1, width, height, z2, bw, bh;
    nvchLayerOpen(file, "Band_1", &z1, &width, &height, &z2, &bw, &bh, &layer);
    char *name = nullptr, *units = nullptr;
    double x, y, w, h;
    nvchLayerMapInfoRead(layer, &name, &x, &y, &w, &h, &units);
    char text[256];
    std::snprintf(text, sizeof text, "%d x %d at %.17g %.17g, %.17g x %.17g %s; ", static_cast<int>(width),
                  static_cast<int>(height), x, y, w, h, units ? units : "");
    seen.summary = text;
    host_free(name);
    host_free(units);
    std::vector<double> red(64);
    nvchLayerColorRead(layer, "Red", 0, 64, red.data());
    for (double v : red) seen.summary += std::to_string(static_cast<int>(v * 255 + 0.5)) + ",";
    char *short_name = nullptr, *descriptor = nullptr, *type_name = nullptr;
    void *block = nullptr;
    int32_t size = 0, zeros[4];
    if (nvchLayerMapProjectionRead(layer, &short_name, &block, &size, &descriptor, &type_name, &zeros[0], &zeros[1],
                                   &zeros[2], &zeros[3]) == 0) {
        uint32_t length;
        std::memcpy(&length, block, sizeof length);
        const char *wkt = static_cast<const char *>(block) + size - length;
        seen.summary += std::string(wkt, length);
    }
    for (void *p : {static_cast<void *>(short_name), block, static_cast<void *>(descriptor),
                    static_cast<void *>(type_name)})
        host_free(p);
    Sha256 hash;
    std::vector<uint8_t> row(static_cast<size_t>(width));
    const int32_t step = every_row ? 1 : 97;
    for (int32_t r = 0; r < height; r += step) {
        void *data = row.data();
        const int32_t status = nvchLayerRasterRead(layer, static_cast<uint32_t>(r), 0, &data);
        hash.update(reinterpret_cast<const uint8_t *>(&status), sizeof status);
        hash.update(row.data(), row.size());
    }
    seen.summary += "; " + hash.hex();
    nvchLayerClose(layer);
    nvchFileClose(file);
    return seen;
}

struct Chart {
    std::string path;
    bool big;        // read whole by two threads only
    Seen expected;   // every row
    Seen sampled;    // every 97th row
};

std::vector<Chart> make_charts(const std::filesystem::path &folder) {
    std::vector<Chart> charts;
    const std::filesystem::path real = NVCH_CHARTS_DIR;
    for (const char *name : {"11361_2.KAP", "12205_7.KAP", "12205_12.KAP", "14988_2.KAP", "14771_1.KAP"})
        if (std::filesystem::exists(real / name))
            charts.push_back({(real / name).string(), std::string(name) == "14771_1.KAP", {}, {}});
    const char *projections[] = {"PR=TRANSVERSE MERCATOR,PP=-1.0", "PR=UNIVERSAL TRANSVERSE MERCATOR,PP=-3.0",
                                 "PR=POLYCONIC,PP=-1.5", "PR=LAMBERT CONFORMAL CONIC,PP=-0.5", "PR=MERCATOR,PP=50"};
    int n = 0;
    for (const char *projection : projections) {
        for (const char *skew : {"SK=0.0", "SK=17.5"}) {
            kap::ChartWriter w = kap::simple_chart(600, 400, 4, 9);
            w.header[3] = std::string("KNP/SC=20000,GD=NAD83,") + projection + "," + skew + ",TA=90";
            const std::filesystem::path path = folder / ("synthetic_" + std::to_string(n++) + ".kap");
            kap::write_file(path.string(), w.build());
            charts.push_back({path.string(), false, {}, {}});
        }
    }
    return charts;
}

}  // namespace

int main(int argc, char **argv) {
    const int threads = argc > 1 ? std::atoi(argv[1]) : 8;
    const char *rounds_set = std::getenv("NVCH_STRESS_ROUNDS");
    const int rounds = argc > 2 ? std::atoi(argv[2]) : rounds_set != nullptr ? std::atoi(rounds_set) : 40;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("nvch_threads_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    std::vector<Chart> charts = make_charts(folder);
    for (Chart &c : charts) {
        c.expected = read_chart(c.path, true);
        c.sampled = read_chart(c.path, false);
        if (!c.expected.opened) {
            std::fprintf(stderr, "cannot open %s\n", c.path.c_str());
            return 1;
        }
    }
    std::atomic<int> failures{0}, reads{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t * 7919 + 1));
            std::vector<size_t> order(charts.size());
            for (int round = 0; round < rounds && failures == 0; ++round) {
                for (size_t i = 0; i < order.size(); ++i) order[i] = i;
                std::shuffle(order.begin(), order.end(), random);
                for (size_t i : order) {
                    const Chart &c = charts[i];
                    // Every row in the first round (the large chart by two
                    // threads only), every 97th after: opens are what take
                    // turns, so many rounds of them matter most.
                    const bool every_row = round == 0 && (!c.big || t < 2);
                    const Seen got = read_chart(c.path, every_row);
                    const Seen &want = every_row ? c.expected : c.sampled;
                    ++reads;
                    if (got.summary != want.summary) {
                        std::fprintf(stderr, "thread %d round %d: %s differs\n  got  %s\n  want %s\n", t, round,
                                     c.path.c_str(), got.summary.c_str(), want.summary.c_str());
                        ++failures;
                        return;
                    }
                }
            }
        });
    }
    for (std::thread &t : pool) t.join();
    std::filesystem::remove_all(folder);
    std::printf("%d threads, %d rounds, %zu charts: %d reads, %d differences\n", threads, rounds, charts.size(),
                reads.load(), failures.load());
    return failures == 0 ? 0 : 1;
}
