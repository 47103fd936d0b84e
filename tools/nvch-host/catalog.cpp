// catalog: every chart in a folder and below as one GeoJSON feature: its
// footprint (its outline, or its image's corners) and what its header says
// of it, so that a GIS shows which chart covers where.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "chart_facts.h"
#include "chart_listing.h"
#include "commands.h"
#include "geojson.h"
#include "json.h"
#include "output_file.h"
#include "progress.h"

namespace fs = std::filesystem;

namespace {

enum class Catalogued { yes, not_chart, failed };

struct Entry {
    Catalogued outcome = Catalogued::failed;
    std::string feature;   // the feature's JSON, for a chart catalogued
};

std::string feature_of(const std::string &relative, const ChartFacts &f, int32_t width, int32_t height) {
    JsonObject p;
    p.text("file", relative);
    add_header_facts(p, f);
    p.number_or_null("skew", f.skew ? std::optional<double>(std::strtod(f.skew->c_str(), nullptr)) : std::nullopt);
    p.integer("width", width);
    p.integer("height", height);
    p.texts("palettes", f.palettes);
    std::vector<LonLat> ring;
    if (f.outline.size() >= 3)
        for (const LatLon &q : f.outline) ring.push_back({q.lon, q.lat});
    else if (f.corners)
        for (const LatLon &q : *f.corners) ring.push_back({q.lon, q.lat});
    return "{\"type\":\"Feature\",\"properties\":" + p.str() + ",\"geometry\":" +
           geometry_json(footprint_polygons(ring)) + "}";
}

Entry catalogue(const NvchExports &nvch, const Options &o, const Listed &l) {
    Entry e;
    std::string why;
    if (!file_readable(l.path, &why)) {
        error(l.path + " cannot be read: " + why);
        return e;
    }
    Options one = o;
    one.chart = l.path;
    int32_t title = -1;
    auto session = open_chart(nvch, one, &title);
    if (!session) {
        e.outcome = title == 0 ? Catalogued::failed : Catalogued::not_chart;
        return e;
    }
    const ChartFacts facts = read_chart_facts(nvch, session->file(), session->width(), session->height());
    e.feature = feature_of(fs::path(l.relative).generic_string(), facts, session->width(), session->height());
    e.outcome = Catalogued::yes;
    return e;
}

}  // namespace

int command_catalog(const NvchExports &nvch, const Options &o) {
    const auto start = std::chrono::steady_clock::now();
    std::error_code ec;
    if (!fs::is_directory(o.chart, ec)) {
        error(o.chart + " is not a folder");
        return 1;
    }
    const std::vector<Listed> listed = list_charts(o.chart);
    std::vector<Entry> entries(listed.size());
    int skipped = 0, failed = 0;
    std::vector<size_t> charts;
    for (size_t k = 0; k < listed.size(); ++k) {
        if (listed[k].kind == Listed::Kind::chart) {
            charts.push_back(k);
            continue;
        }
        error(listed[k].path + " " + listed[k].reason);
        ++(listed[k].kind == Listed::Kind::skipped ? skipped : failed);
    }
    run_in_parallel(charts.size(), worker_threads(o), "cataloguing charts",
                    [&](size_t i, int) {
                        try {
                            entries[charts[i]] = catalogue(nvch, o, listed[charts[i]]);
                        } catch (const std::bad_alloc &) {
                            error(listed[charts[i]].path + ": not enough memory to catalogue it");
                        }
                    });

    std::string json = "{\"type\":\"FeatureCollection\",\"features\":[";
    int catalogued = 0, not_charts = 0;
    for (size_t k : charts) {
        switch (entries[k].outcome) {
            case Catalogued::yes:
                json += (catalogued++ ? ",\n" : "\n") + entries[k].feature;
                break;
            case Catalogued::not_chart: ++not_charts; break;
            case Catalogued::failed: ++failed; break;
        }
    }
    json += "\n]}\n";
    const bool to_standard_output = o.output.empty() || o.output == "-";
    bool written = true;
    if (to_standard_output) {
        written = std::fwrite(json.data(), 1, json.size(), stdout) == json.size() && std::fflush(stdout) == 0;
    } else {
        remove_stale_temporaries(fs::path(o.output).parent_path().string());
        OutputFile file(o.output);
        std::string problem;
        std::FILE *out = std::fopen(file.temporary().c_str(), "wb");
        written = out != nullptr && std::fwrite(json.data(), 1, json.size(), out) == json.size();
        if (out != nullptr && std::fclose(out) != 0) written = false;
        if (written && !file.put_in_place(&problem)) written = false;
    }
    if (!written) {
        error("cannot write " + (to_standard_output ? std::string("standard output") : o.output));
        ++failed;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(to_standard_output ? stderr : stdout, "catalogued %d, not charts %d, skipped %d, failed %d in %.1f s\n",
                 catalogued, not_charts, skipped, failed, seconds);
    return failed > 0 ? 1 : 0;
}
