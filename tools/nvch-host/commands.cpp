#include "commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "chart_facts.h"
#include "chart_image.h"
#include "chart_session.h"
#include "georeference.h"
#include "json.h"
#include "output_file.h"
#include "png_writer.h"
#include "progress.h"

namespace {


std::string take(char *text) {
    std::string copy = text ? text : "";
    host_free(text);
    return copy;
}

std::string first_of(char **list, int32_t count) {
    std::string item = count > 0 && list ? take(list[0]) : "";
    for (int32_t i = 1; list && i < count; ++i) host_free(list[i]);
    host_free(list);
    return item;
}

}  // namespace

void error(const std::string &message) { std::fprintf(stderr, "nvch-host: %s\n", message.c_str()); }

int worker_threads(const Options &o) {
    const unsigned cores = std::thread::hardware_concurrency();
    return o.threads > 0 ? o.threads : static_cast<int>(cores > 0 ? cores : 1);
}

bool file_readable(const std::string &path, std::string *why) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        *why = std::strerror(errno);
        return false;
    }
    std::fclose(f);
    return true;
}

std::unique_ptr<ChartSession> open_chart(const NvchExports &nvch, const Options &o, int32_t *title) {
    std::error_code ignored;
    if (!std::filesystem::exists(o.chart, ignored)) {
        error(o.chart + ": no such file");
        return nullptr;
    }
    const int32_t skew = o.skew ? 1 : 0;
    nvch.set_skew_state(&skew);
    *title = -1;
    ChartFile *file = nvch.FileTitleIdentifyAndOpen(o.chart.c_str(), title, 1);
    if (*title != 0) {
        error(o.chart + " is not a BSB chart (KAP file)");
        return nullptr;
    }
    if (file == nullptr) {
        error(o.chart + " could not be opened");
        return nullptr;
    }
    // A Mercator open resets the latitude of true scale: set it afterwards.
    if (o.set_lts) nvch.set_LTS(o.lts);
    auto session = std::make_unique<ChartSession>(nvch, file);
    const auto layers = session->layer_names();
    if (layers.empty() || !session->open_layer(layers.front())) {
        error(o.chart + ": its layer could not be opened");
        return nullptr;
    }
    return session;
}

namespace {

std::string or_none(const std::optional<std::string> &text) { return text ? *text : "(none)"; }

std::string lat_lon_text(const LatLon &p) {
    char text[64];
    std::snprintf(text, sizeof text, "%.8f, %.8f", p.lat, p.lon);
    return text;
}

void print_facts_text(const ChartFacts &f) {
    std::printf("chart: %s (number %s), scale 1:%s\n", or_none(f.name).c_str(), or_none(f.number).c_str(),
                or_none(f.scale).c_str());
    std::printf("edition: %s; notice: %s\n", or_none(f.edition).c_str(), or_none(f.notice).c_str());
    std::printf("datum: %s; projection: %s; units: %s; sounding datum: %s\n", or_none(f.datum).c_str(),
                or_none(f.projection).c_str(), or_none(f.units).c_str(), or_none(f.sounding_datum).c_str());
    std::printf("palettes:");
    for (const std::string &p : f.palettes) std::printf(" %s", p.c_str());
    std::printf("\n");
    if (f.corners) {
        const char *names[4] = {"upper-left", "upper-right", "lower-right", "lower-left"};
        std::printf("corners (latitude, longitude):");
        for (int k = 0; k < 4; ++k) std::printf("%s %s %s", k ? ";" : "", names[k], lat_lon_text((*f.corners)[k]).c_str());
        std::printf("\n");
    } else {
        std::printf("corners (latitude, longitude): (none: the chart has no projection to invert)\n");
    }
    std::printf("outline (latitude, longitude):");
    for (size_t k = 0; k < f.outline.size(); ++k) std::printf("%s %s", k ? ";" : "", lat_lon_text(f.outline[k]).c_str());
    std::printf("%s\n", f.outline.empty() ? " (none)" : "");
}

JsonObject facts_json(const ChartFacts &f) {
    JsonObject j;
    add_header_facts(j, f);
    j.texts("palettes", f.palettes);
    std::vector<std::vector<double>> corners;
    if (f.corners)
        for (const LatLon &p : *f.corners) corners.push_back({p.lat, p.lon});
    if (f.corners)
        j.number_rows("corners", corners);
    else
        j.null("corners");
    std::vector<std::vector<double>> outline;
    for (const LatLon &p : f.outline) outline.push_back({p.lat, p.lon});
    j.number_rows("outline", outline);
    return j;
}

void print_info_text(const Options &o, int32_t title, ChartSession &s, const std::vector<std::string> &layers) {
    std::printf("file: %s\n", o.chart.c_str());
    std::printf("title index: %d (BSB Format)\n", title);
    std::printf("layers:");
    for (const auto &l : layers) std::printf(" %s", l.c_str());
    std::printf("\nsize: %d x %d pixels, blocks of %d x %d\n", s.width(), s.height(), s.block_width(),
                s.block_height());
    if (const auto m = s.map_info()) {
        std::printf("upper-left corner: %.3f, %.3f\n", m->upper_left_x, m->upper_left_y);
        std::printf("pixel size: %.6f x %.6f (%s)\n", m->pixel_width, m->pixel_height, m->units.c_str());
    }
    int32_t mod_time = -1;
    const auto colours = s.colours(&mod_time);
    std::printf("colour table: %zu entries, modification time %d\n", colours.size(), mod_time);
    for (size_t i = 0; i < colours.size(); ++i)
        std::printf("  %3zu: %3d %3d %3d\n", i, colours[i].red, colours[i].green, colours[i].blue);
    const auto wkt = s.coordinate_system();
    std::printf("coordinate system: %s\n", wkt ? wkt->c_str() : "(none)");
    print_facts_text(read_chart_facts(s.exports(), s.file(), s.width(), s.height()));
}

void print_info_json(const Options &o, int32_t title, ChartSession &s, const std::vector<std::string> &layers) {
    JsonObject j;
    j.text("file", o.chart);
    j.integer("title_index", title);
    j.texts("layers", layers);
    j.integer("width", s.width());
    j.integer("height", s.height());
    j.integer("block_width", s.block_width());
    j.integer("block_height", s.block_height());
    if (const auto m = s.map_info()) {
        JsonObject map;
        map.number("upper_left_x", m->upper_left_x);
        map.number("upper_left_y", m->upper_left_y);
        map.number("pixel_width", m->pixel_width);
        map.number("pixel_height", m->pixel_height);
        map.text("units", m->units);
        j.object("map_info", map);
    }
    int32_t mod_time = -1;
    const auto colours = s.colours(&mod_time);
    JsonObject table;
    table.integer("count", static_cast<int64_t>(colours.size()));
    table.integer("modification_time", mod_time);
    std::vector<std::vector<int64_t>> entries;
    for (const Colour &c : colours) entries.push_back({c.red, c.green, c.blue});
    table.integer_rows("entries", entries);
    j.object("colour_table", table);
    const auto wkt = s.coordinate_system();
    if (wkt)
        j.text("coordinate_system", *wkt);
    else
        j.null("coordinate_system");
    j.object("chart", facts_json(read_chart_facts(s.exports(), s.file(), s.width(), s.height())));
    std::printf("%s\n", j.str().c_str());
}

// Reads every row in turn into `row`, handing each to `sink`.
template <typename Sink>
bool for_each_row(ChartSession &s, std::vector<uint8_t> &row, Sink sink) {
    Progress progress(s.height());
    for (int32_t r = 0; r < s.height(); ++r) {
        if (!s.read_row(static_cast<uint32_t>(r), row.data())) {
            progress.done();
            error("row " + std::to_string(r) + " could not be read");
            return false;
        }
        if (!sink(row)) return false;
        progress.step(r + 1);
    }
    progress.done();
    return true;
}

}  // namespace

int command_formats(const NvchExports &nvch) {
    int32_t count = 0;
    char **list = nullptr;
    nvch.InstanceTitleListGet(&count, &list);
    std::printf("title: %s\n", first_of(list, count).c_str());
    char *description = nullptr;
    nvch.InstanceDescriptionGet(&description);
    std::printf("description: %s\n", take(description).c_str());
    int32_t value = 0;
    nvch.InstanceTemplateListGet(&list, &value);
    std::printf("template: %s\n", first_of(list, 1).c_str());
    nvch.InstanceExtListGet(&list);
    std::printf("extension: %s\n", first_of(list, 1).c_str());
    nvch.InstanceShortNameListGet(&list);
    std::printf("short name: %s\n", first_of(list, 1).c_str());
    nvch.InstancePixelTypesGet(&count, &list);
    std::printf("pixel type: %s\n", first_of(list, count).c_str());
    nvch.InstanceLayerTypesGet(&count, &list);
    std::printf("layer type: %s\n", first_of(list, count).c_str());
    return 0;
}

int command_info(const NvchExports &nvch, const Options &o) {
    int32_t title = -1;
    auto session = open_chart(nvch, o, &title);
    if (!session) return 1;
    const auto layers = session->layer_names();
    if (o.json)
        print_info_json(o, title, *session, layers);
    else
        print_info_text(o, title, *session, layers);
    return 0;
}

int command_render(const NvchExports &nvch, const Options &o) {
    int32_t title = -1;
    auto session = open_chart(nvch, o, &title);
    if (!session) return 1;
    ImagePlan plan;
    if (!plan_image(nvch, *session, o, o.chart, &plan)) return 1;
    std::vector<std::pair<std::string, std::string>> texts = {{"Source", o.chart}};
    if (const auto wkt = session->coordinate_system()) texts.push_back({"Coordinate system", *wkt});
    if (const auto m = session->map_info()) {
        char info[256];
        std::snprintf(info, sizeof info, "upper-left %.3f %.3f, pixel %.6f x %.6f %s", m->upper_left_x,
                      m->upper_left_y, m->pixel_width, m->pixel_height, m->units.c_str());
        texts.push_back({"Map information", info});
    }
    remove_stale_temporaries(std::filesystem::path(o.output).parent_path().string());
    OutputFile file(o.output);
    std::string problem;
    if (!write_png_image(*session, plan, file.temporary(), texts, true, &problem) || !file.put_in_place(&problem)) {
        error(file.told(problem));
        return 1;
    }
    if (o.world) {
        const auto map = session->map_info();
        if (!map) {
            error(o.chart + ": no map information for a world file");
            return 1;
        }
        if (!write_world_files(o.output, *map, session->coordinate_system(), &problem)) {
            error(problem);
            return 1;
        }
    }
    return 0;
}

int command_dump(const NvchExports &nvch, const Options &o) {
    int32_t title = -1;
    auto session = open_chart(nvch, o, &title);
    if (!session) return 1;
    remove_stale_temporaries(std::filesystem::path(o.output).parent_path().string());
    OutputFile file(o.output);
    std::FILE *out = std::fopen(file.temporary().c_str(), "wb");
    if (out == nullptr) {
        error("cannot write " + o.output + ": " + std::strerror(errno));
        return 1;
    }
    std::vector<uint8_t> row(static_cast<size_t>(session->width()));
    bool ok = for_each_row(*session, row, [&](const std::vector<uint8_t> &r) {
        if (std::fwrite(r.data(), 1, r.size(), out) == r.size()) return true;
        error("cannot write " + o.output + ": " + std::strerror(errno));
        return false;
    });
    if (std::fclose(out) != 0 && ok) {
        error("cannot write " + o.output + ": " + std::strerror(errno));
        ok = false;
    }
    std::string problem;
    if (ok && !file.put_in_place(&problem)) {
        error(problem);
        ok = false;
    }
    return ok ? 0 : 1;
}
