// The real charts to one web map (MBTiles, Web Mercator) at their native
// zooms and the four levels below, with nvch-host tiles run as its own
// process, chart by chart and as one folder; then the same with a pipeline
// of GDAL's standard tools over nvch's own GeoTIFFs of each chart, in the
// same run: gdalwarp to EPSG:3857 at the native level's resolution,
// gdal_translate to MBTiles, gdaladdo for the four levels below. The
// GeoTIFFs are made before the pipeline's clock starts.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"

namespace fs = std::filesystem;

namespace {

const char *kCharts[] = {"11361_2.KAP", "12205_7.KAP", "12205_12.KAP", "14988_2.KAP", "14771_1.KAP"};
constexpr double kPi = 3.14159265358979323846;

std::string quoted(const std::string &s) { return "\"" + s + "\""; }

// Runs a command; its standard output, or empty on failure.
bool run(const std::string &command, std::string *out = nullptr) {
    const fs::path captured = fs::temp_directory_path() / "nvch_tiles_bench.out";
    if (std::system((command + " >" + quoted(captured.string())).c_str()) != 0) return false;
    if (out != nullptr) {
        std::ifstream f(captured);
        std::stringstream s;
        s << f.rdbuf();
        *out = s.str();
    }
    return true;
}

struct Timed {
    double seconds = -1;
    long long tiles = 0;
    int zoom_min = 0, zoom_max = 0;
};

// nvch-host tiles over `folder`, the best of `passes`.
Timed nvch_tiles(const fs::path &folder, const fs::path &out, int passes) {
    Timed best;
    for (int pass = 0; pass < passes; ++pass) {
        std::string said;
        const double start = now_seconds();
        if (!run(quoted(NVCH_HOST) + " tiles " + quoted(folder.string()) + " " + quoted(out.string()) + " --force", &said))
            return {};
        const double t = now_seconds() - start;
        std::smatch m;
        if (!std::regex_search(said, m, std::regex(": ([0-9]+) tiles, zoom ([0-9]+)-([0-9]+)"))) return {};
        if (best.seconds < 0 || t < best.seconds)
            best = {t, std::stoll(m[1]), std::stoi(m[2]), std::stoi(m[3])};
    }
    return best;
}

// The GDAL pipeline for one GeoTIFF at native level `zoom`: seconds, or -1.
double gdal_pipeline(const fs::path &tif, const fs::path &work, int zoom) {
    const double resolution = 2 * kPi * 6378137.0 / (256.0 * (1 << zoom));
    char tr[64];
    std::snprintf(tr, sizeof tr, "%.9f %.9f", resolution, resolution);
    const fs::path warped = work / "warped.tif", tiles = work / "gdal.mbtiles";
    fs::remove(warped);
    fs::remove(tiles);
    const double start = now_seconds();
    const bool ok =
        run("gdalwarp -q -overwrite -t_srs EPSG:3857 -r near -dstalpha -tap -tr " + std::string(tr) +
            " -co TILED=YES -multi -wo NUM_THREADS=ALL_CPUS " + quoted(tif.string()) + " " + quoted(warped.string())) &&
        run("gdal_translate -q -of MBTILES " + quoted(warped.string()) + " " + quoted(tiles.string())) &&
        run("gdaladdo -q -r average " + quoted(tiles.string()) + " 2 4 8 16");
    return ok ? now_seconds() - start : -1;
}

void summary() {
    if (bench_chart(kCharts[0]).empty()) return;
    const fs::path work = fs::temp_directory_path() / "nvch_tiles_bench";
    fs::remove_all(work);
    fs::create_directories(work);
    std::printf("\nThe real charts to MBTiles, native zoom and four levels below (best of 3):\n");
    std::printf("  %-14s %9s %7s %10s %11s %9s\n", "chart", "levels", "tiles", "nvch s", "tiles/s", "GDAL s");
    double nvch_total = 0, gdal_total = 0;
    long long tiles_total = 0;
    bool gdal = std::system("gdalwarp --version >/dev/null 2>&1") == 0;
    for (const char *name : kCharts) {
        const fs::path folder = work / name;
        fs::create_directories(folder);
        fs::create_symlink(bench_chart(name), folder / name);
        const Timed t = nvch_tiles(folder, work / "nvch.mbtiles", 3);
        if (t.seconds < 0) {
            std::printf("  %-14s not tiled\n", name);
            return;
        }
        double g = -1;
        if (gdal) {
            const fs::path tif = work / (std::string(name) + ".tif");
            if (run(quoted(NVCH_HOST) + " convert " + quoted(bench_chart(name)) + " " + quoted(tif.string()) + " --force"))
                g = gdal_pipeline(tif, work, t.zoom_max);
            gdal = g >= 0;
        }
        nvch_total += t.seconds, gdal_total += g, tiles_total += t.tiles;
        std::printf("  %-14s %4d-%-4d %7lld %10.2f %11.0f %9.2f\n", name, t.zoom_min, t.zoom_max, t.tiles, t.seconds,
                    t.tiles / t.seconds, g);
    }
    std::printf("  %-14s %9s %7lld %10.2f %11.0f %9.2f\n", "all, one by one", "", tiles_total, nvch_total,
                tiles_total / nvch_total, gdal ? gdal_total : -1.0);
    // The whole folder as one quilt.
    const fs::path all = work / "all";
    fs::create_directories(all);
    for (const char *name : kCharts) fs::create_symlink(bench_chart(name), all / name);
    const Timed folder = nvch_tiles(all, work / "nvch.mbtiles", 3);
    std::printf("  %-14s %4d-%-4d %7lld %10.2f %11.0f\n", "the folder", folder.zoom_min, folder.zoom_max, folder.tiles,
                folder.seconds, folder.tiles / folder.seconds);
    if (gdal)
        std::printf("GDAL's pipeline over nvch's GeoTIFFs takes %.1f times as long as nvch-host tiles\n",
                    gdal_total / nvch_total);
    else
        std::printf("GDAL's tools are not installed: the pipeline was not run\n");
    fs::remove_all(work);
}

}  // namespace

int main() {
    summary();
    return 0;
}
