// convert: a chart, or every chart in a folder, to images that a GIS shows
// in place: Cloud Optimized GeoTIFFs, or PNGs with world files.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "chart_image.h"
#include "chart_listing.h"
#include "commands.h"
#include "georeference.h"
#include "output_file.h"
#include "progress.h"

namespace fs = std::filesystem;

namespace {

enum class Outcome { converted, not_chart, already_there, skipped, failed };

// One chart to `out`. `threads` compress its tiles; the rows show on a
// progress bar when it is the only chart.
Outcome convert_chart(const NvchExports &nvch, Options o, const std::string &chart, const std::string &out,
                      int threads, bool show_rows) {
    std::error_code ec;
    if (!o.force && fs::exists(fs::symlink_status(out, ec))) {
        error(out + " is already there (--force replaces it)");
        return Outcome::already_there;
    }
    std::string why;
    if (!file_readable(chart, &why)) {
        error(chart + " cannot be read: " + why);
        return Outcome::failed;
    }
    o.chart = chart;
    int32_t title = -1;
    auto session = open_chart(nvch, o, &title);
    if (!session) return title == 0 ? Outcome::failed : Outcome::not_chart;
    const auto map = session->map_info();
    if (!map) {
        error(chart + ": no map information");
        return Outcome::failed;
    }
    ImagePlan plan;
    if (!plan_image(nvch, *session, o, chart, &plan)) return Outcome::failed;
    const auto wkt = session->coordinate_system();
    remove_stale_temporaries(fs::path(out).parent_path().string());
    OutputFile file(out);
    std::string problem;
    bool written;
    if (o.format == "png") {
        written = write_png_image(*session, plan, file.temporary(),
                                  {{"Source", fs::path(chart).stem().string()}, {"Coordinate system", wkt.value_or("")}},
                                  show_rows, &problem) &&
                  (!o.world || write_world_files(out, *map, wkt, &problem));
    } else {
        CogImage image;
        image.document_name = fs::path(chart).stem().string();
        image.description = wkt.value_or("");
        bool known = false;
        image.geo = geotiff_keys(*map, wkt, &known);
        if (!known) error(chart + ": projection unknown; the GeoTIFF holds the pixel scale and tie point only");
        CogOptions cog;
        cog.compression = o.compression;
        cog.threads = threads;
        written = write_cog_image(*session, plan, image, cog, file.temporary(), show_rows, &problem);
    }
    if (!written || !file.put_in_place(&problem)) {
        error(chart + ": " + file.told(problem));
        return Outcome::failed;
    }
    return Outcome::converted;
}

// A chart that no memory or other trouble of its own may end the batch with.
Outcome convert_guarded(const NvchExports &nvch, const Options &o, const std::string &chart, const std::string &out,
                        int threads, bool show_rows) {
    try {
        return convert_chart(nvch, o, chart, out, threads, show_rows);
    } catch (const std::bad_alloc &) {
        error(chart + ": not enough memory to convert it");
    } catch (const std::exception &e) {
        error(chart + ": " + e.what());
    }
    return Outcome::failed;
}

struct Job {
    std::string chart, out;
};

// Upper-case and lower-case names are one name on some systems: outputs
// that differ only so would be one file there.
std::string folded(const std::string &path) {
    std::string f = path;
    std::transform(f.begin(), f.end(), f.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return f;
}

// The jobs of a listing, each output at the relative place of the name
// listed under `out`; what is not a job is counted and named.
std::vector<Job> jobs_of(const std::vector<Listed> &listed, const Options &o, std::atomic<int> *counts) {
    std::map<std::string, std::vector<size_t>> by_output;
    std::vector<Job> candidates;
    for (const Listed &l : listed) {
        if (l.kind != Listed::Kind::chart) {
            error(l.path + " " + l.reason);
            ++counts[static_cast<int>(l.kind == Listed::Kind::skipped ? Outcome::skipped : Outcome::failed)];
            continue;
        }
        fs::path target = fs::path(o.output) / l.relative;
        target.replace_extension(o.format == "png" ? ".png" : ".tif");
        by_output[folded(target.string())].push_back(candidates.size());
        candidates.push_back({l.path, target.string()});
    }
    std::vector<Job> jobs;
    for (const auto &[output, indices] : by_output) {
        if (indices.size() == 1) {
            jobs.push_back(candidates[indices[0]]);
            continue;
        }
        std::string names;
        for (size_t k = 0; k < indices.size(); ++k)
            names += (k == 0 ? "" : k + 1 == indices.size() ? " and " : ", ") + candidates[indices[k]].chart;
        const bool two = indices.size() == 2;
        error(names + (two ? " would both be written to " : " would all be written to ") + candidates[indices[0]].out +
              (two ? ": neither is converted" : ": none of them is converted"));
        counts[static_cast<int>(Outcome::failed)] += static_cast<int>(indices.size());
    }
    return jobs;
}

int convert_folder(const NvchExports &nvch, const Options &o) {
    const auto start = std::chrono::steady_clock::now();
    std::atomic<int> counts[5] = {0, 0, 0, 0, 0};
    const std::vector<Job> jobs = jobs_of(list_charts(o.chart), o, counts);
    // Charts on every core; each chart's own tiles on one.
    run_in_parallel(jobs.size(), worker_threads(o), "converting charts", [&](size_t i, int) {
        std::error_code ec;
        fs::create_directories(fs::path(jobs[i].out).parent_path(), ec);
        ++counts[static_cast<int>(convert_guarded(nvch, o, jobs[i].chart, jobs[i].out, 1, false))];
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto count = [&](Outcome k) { return counts[static_cast<int>(k)].load(); };
    std::printf("converted %d, not charts %d, already there %d, skipped %d, failed %d in %.1f s\n",
                count(Outcome::converted), count(Outcome::not_chart), count(Outcome::already_there),
                count(Outcome::skipped), count(Outcome::failed), seconds);
    return count(Outcome::failed) > 0 ? 1 : 0;
}

}  // namespace

int command_convert(const NvchExports &nvch, const Options &o) {
    std::error_code ec;
    if (fs::is_directory(o.chart, ec)) return convert_folder(nvch, o);
    return convert_guarded(nvch, o, o.chart, o.output, worker_threads(o), true) == Outcome::converted ? 0 : 1;
}
