// convert: a chart, or every chart in a folder, to images that a GIS shows
// in place: Cloud Optimized GeoTIFFs, or PNGs with world files.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "georeference.h"
#include "png_writer.h"
#include "progress.h"

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

enum class Outcome { converted, refused, failed };

int threads_of(const Options &o) {
    const unsigned cores = std::thread::hardware_concurrency();
    return o.threads > 0 ? o.threads : static_cast<int>(cores > 0 ? cores : 1);
}

// A name beside `out` that no other run or thread uses: the file is
// written there and renamed only once it is whole.
std::string temporary_name(const std::string &out) {
    static std::atomic<int> serial{0};
    return out + ".partial-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
}

bool put_in_place(const std::string &temporary, const std::string &out, std::string *problem) {
    std::error_code ec;
    fs::remove(out, ec);   // only reached with --force or when nothing is there
    fs::rename(temporary, out, ec);
    if (ec) *problem = out + " cannot be written: " + ec.message();
    return !ec;
}

bool write_png(const std::string &path, const CogImage &image, std::string *problem) {
    PngWriter png(path, image.width, image.height, image.palette,
                  {{"Source", image.document_name}, {"Coordinate system", image.description}}, problem);
    if (!png.ok()) return false;
    for (int32_t r = 0; r < image.height; ++r)
        if (!png.write_row(image.pixels + static_cast<size_t>(r) * image.width)) {
            *problem = path + " cannot be written";
            return false;
        }
    if (png.finish()) return true;
    *problem = path + " cannot be written";
    return false;
}

// One chart to `out`. `threads` compress its tiles; `progress` shows its
// rows when it is the only chart.
Outcome convert_one(const NvchExports &nvch, Options o, const std::string &chart, const std::string &out,
                    int threads, bool show_rows) {
    std::error_code ec;
    if (!o.force && fs::exists(out, ec)) {
        error(out + " is already there (--force replaces it)");
        return Outcome::refused;
    }
    o.chart = chart;
    int32_t title = -1;
    auto session = open_chart(nvch, o, &title);
    if (!session) return Outcome::refused;
    const auto map = session->map_info();
    if (!map) {
        error(chart + ": no map information");
        return Outcome::failed;
    }
    const int32_t width = session->width(), height = session->height();
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
    Progress progress(show_rows ? height : 0);
    for (int32_t r = 0; r < height; ++r) {
        if (!session->read_row(static_cast<uint32_t>(r), pixels.data() + static_cast<size_t>(r) * width)) {
            progress.done();
            error(chart + ": row " + std::to_string(r) + " could not be read");
            return Outcome::failed;
        }
        if (show_rows) progress.step(r + 1);
    }
    progress.done();

    CogImage image;
    image.width = width;
    image.height = height;
    image.pixels = pixels.data();
    int32_t mod_time = -1;
    image.palette = session->colours(&mod_time);
    const auto wkt = session->coordinate_system();
    image.document_name = fs::path(chart).stem().string();
    image.description = wkt.value_or("");
    bool known = false;
    image.geo = geotiff_keys(*map, wkt, &known);

    const std::string temporary = temporary_name(out);
    std::string problem;
    bool written;
    if (o.format == "png") {
        written = write_png(temporary, image, &problem) && (!o.world || write_world_files(out, *map, wkt, &problem));
    } else {
        if (!known) error(chart + ": projection unknown; the GeoTIFF holds the pixel scale and tie point only");
        CogOptions cog;
        cog.compression = o.compression;
        cog.threads = threads;
        written = write_cog(temporary, image, cog, &problem);
        if (!written) problem = out + " " + problem;
    }
    if (!written || !put_in_place(temporary, out, &problem)) {
        fs::remove(temporary, ec);
        error(problem);
        return Outcome::failed;
    }
    return Outcome::converted;
}

bool is_chart_name(const fs::path &p) {
    std::string extension = p.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return extension == ".kap";
}

// Every chart under `folder` (.kap and .KAP, in sub-folders too), each with
// its output under `out`, at the same relative place.
std::vector<std::pair<std::string, std::string>> charts_under(const fs::path &folder, const fs::path &out,
                                                              const std::string &format) {
    std::vector<std::pair<std::string, std::string>> charts;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; it != end && !ec; it.increment(ec)) {
        if (!it->is_regular_file(ec) || !is_chart_name(it->path())) continue;
        fs::path target = out / fs::relative(it->path(), folder, ec);
        target.replace_extension(format == "png" ? ".png" : ".tif");
        charts.push_back({it->path().string(), target.string()});
    }
    std::sort(charts.begin(), charts.end());
    return charts;
}

int convert_folder(const NvchExports &nvch, const Options &o) {
    const auto start = std::chrono::steady_clock::now();
    const auto charts = charts_under(o.chart, o.output, o.format);
    std::atomic<size_t> next{0};
    std::atomic<int> counts[3] = {0, 0, 0};
    std::atomic<int64_t> finished{0};
    // Charts on every core; each chart's own tiles on one.
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < charts.size();) {
            std::error_code ec;
            fs::create_directories(fs::path(charts[i].second).parent_path(), ec);
            const Outcome outcome = convert_one(nvch, o, charts[i].first, charts[i].second, 1, false);
            ++counts[static_cast<int>(outcome)];
            ++finished;
        }
    };
    Progress progress(static_cast<int64_t>(charts.size()), "converting charts");
    std::vector<std::thread> pool;
    const int threads = std::min<int>(threads_of(o), static_cast<int>(std::max<size_t>(charts.size(), 1)));
    for (int t = 0; t < threads; ++t) pool.emplace_back(work);
    while (finished < static_cast<int64_t>(charts.size())) {
        progress.step(finished);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread &t : pool) t.join();
    progress.done();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("converted %d, refused %d, failed %d in %.1f s\n", counts[0].load(), counts[1].load(),
                counts[2].load(), seconds);
    return counts[2] > 0 ? 1 : 0;
}

}  // namespace

int command_convert(const NvchExports &nvch, const Options &o) {
    std::error_code ec;
    if (fs::is_directory(o.chart, ec)) return convert_folder(nvch, o);
    return convert_one(nvch, o, o.chart, o.output, threads_of(o), true) == Outcome::converted ? 0 : 1;
}
