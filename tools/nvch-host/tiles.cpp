// tiles: every chart in a folder and below as one web map, Web Mercator
// tiles in an MBTiles file. Charts are quilted (the larger scale on top),
// each clipped to its outline and its stored image, each drawn at the
// levels around its own resolution.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "chart_facts.h"
#include "chart_image.h"
#include "chart_listing.h"
#include "commands.h"
#include "mbtiles.h"
#include "nvch_version.h"
#include "output_file.h"
#include "pixel_mask.h"
#include "progress.h"
#include "tile_charts.h"
#include "tile_drawing.h"
#include "tile_png.h"
#include "web_mercator.h"

namespace fs = std::filesystem;

namespace {

// Charts a worker keeps open between blocks: neighbouring blocks draw
// the same charts.
constexpr size_t kOpenChartsPerWorker = 6;

struct Counts {
    std::atomic<int> tiled{0}, not_charts{0}, skipped{0}, failed{0};
};

// A block to draw and the charts that may show in it, top first.
struct BlockJob {
    int zoom;
    int64_t y, x;
    int count;
    std::vector<uint32_t> charts;
};

// The tile columns [first, last] of a chart at `zoom`, in one or two
// ranges (two across the 180th meridian), and its tile rows.
struct TileRange {
    int64_t x0, x1, y0, y1;
};

std::vector<TileRange> tile_ranges(const TileChart &c, int zoom, const Options &o) {
    const int64_t n = int64_t{1} << zoom;
    const auto column = [&](double lon) { return static_cast<int64_t>(std::floor(web_mercator_x(zoom, lon) / kTileSize)); };
    const auto row = [&](double lat) {
        return std::clamp<int64_t>(static_cast<int64_t>(std::floor(web_mercator_y(zoom, lat) / kTileSize)), 0, n - 1);
    };
    double south = c.south, north = c.north, west = c.west, east = c.east;
    std::vector<std::pair<double, double>> spans{{west, east}};
    if (o.has_bbox) {
        south = std::max(south, o.bbox[1]);
        north = std::min(north, o.bbox[3]);
        if (south >= north) return {};
        // The box's longitudes, across the 180th meridian when west > east,
        // against the chart's at each of its unwrapped places.
        std::vector<std::pair<double, double>> box;
        if (o.bbox[0] <= o.bbox[2])
            box = {{o.bbox[0], o.bbox[2]}};
        else
            box = {{o.bbox[0], 180.0}, {-180.0, o.bbox[2]}};
        spans.clear();
        for (const auto &[bw, be] : box)
            for (double shift : {-360.0, 0.0, 360.0}) {
                const double w = std::max(west, bw + shift), e = std::min(east, be + shift);
                if (w < e) spans.push_back({w, e});
            }
    }
    std::vector<TileRange> ranges;
    for (const auto &[w, e] : spans) {
        int64_t x0 = column(w), x1 = column(e);
        if (x1 >= n) {
            if (x0 < n) ranges.push_back({x0, n - 1, row(north), row(south)});
            ranges.push_back({std::max<int64_t>(0, x0 - n), x1 - n, row(north), row(south)});
        } else {
            ranges.push_back({std::max<int64_t>(0, x0), x1, row(north), row(south)});
        }
    }
    return ranges;
}

// The blocks of every level, each with the charts drawn there that may
// show in it. Charts are in quilt order: their indices are their places.
std::vector<BlockJob> blocks_of(const std::vector<TileChart> &charts, int zoom_min, int zoom_max, const Options &o) {
    std::vector<BlockJob> jobs;
    for (int zoom = zoom_min; zoom <= zoom_max; ++zoom) {
        struct Span {
            int64_t x0, x1;
            uint32_t chart;
        };
        std::map<int64_t, std::vector<Span>> rows;
        for (uint32_t k = 0; k < charts.size(); ++k) {
            if (!charts[k].drawn_at(zoom)) continue;
            for (const TileRange &r : tile_ranges(charts[k], zoom, o))
                for (int64_t y = r.y0; y <= r.y1; ++y) rows[y].push_back({r.x0, r.x1, k});
        }
        for (auto &[y, spans] : rows) {
            std::sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.x0 < b.x0; });
            // Runs of columns some chart covers, cut into blocks.
            for (size_t s = 0; s < spans.size();) {
                int64_t from = spans[s].x0, to = spans[s].x1;
                size_t e = s + 1;
                while (e < spans.size() && spans[e].x0 <= to + 1) to = std::max(to, spans[e++].x1);
                for (int64_t x = from; x <= to; x += kBlockTiles) {
                    BlockJob job{zoom, y, x, static_cast<int>(std::min<int64_t>(kBlockTiles, to - x + 1)), {}};
                    for (size_t k = s; k < e; ++k)
                        if (spans[k].x0 < x + job.count && spans[k].x1 >= x) job.charts.push_back(spans[k].chart);
                    std::sort(job.charts.begin(), job.charts.end());
                    job.charts.erase(std::unique(job.charts.begin(), job.charts.end()), job.charts.end());
                    jobs.push_back(std::move(job));
                }
                s = e;
            }
        }
    }
    return jobs;
}

// A chart opened for drawing, with its mask (stored image and outline)
// and the colours asked for.
std::unique_ptr<DrawnChart> open_for_drawing(const NvchExports &nvch, const Options &o, const TileChart &facts) {
    Options one = o;
    one.chart = facts.path;
    int32_t title = -1;
    auto drawn = std::make_unique<DrawnChart>();
    drawn->facts = &facts;
    drawn->session = open_chart(nvch, one, &title);
    if (!drawn->session) return nullptr;
    const ChartFile *file = drawn->session->file();
    const int32_t width = drawn->session->width(), height = drawn->session->height();
    const ChartFacts chart_facts = read_chart_facts(nvch, file, width, height);
    std::vector<PixelPoint> outline;
    for (const auto &[x, y] : outline_in_pixels(nvch, file, chart_facts)) outline.push_back({x, y});
    drawn->mask = std::make_unique<PixelMask>(nvch, file, width, height, std::move(outline));
    auto colours = palette_named(nvch, file, o.palette.empty() ? "RGB" : o.palette);
    if (!colours) return nullptr;
    drawn->colours = std::move(*colours);
    return drawn;
}

// What each worker keeps: the charts it has open, the most recent first.
class OpenCharts {
public:
    DrawnChart *get(const NvchExports &nvch, const Options &o, const std::vector<TileChart> &charts, uint32_t k) {
        for (auto it = open_.begin(); it != open_.end(); ++it)
            if (it->first == k) {
                open_.splice(open_.begin(), open_, it);
                return open_.front().second.get();
            }
        auto drawn = open_for_drawing(nvch, o, charts[k]);
        if (!drawn) return nullptr;
        open_.emplace_front(k, std::move(drawn));
        if (open_.size() > kOpenChartsPerWorker) open_.pop_back();
        return open_.front().second.get();
    }

private:
    std::list<std::pair<uint32_t, std::unique_ptr<DrawnChart>>> open_;
};

// The charts of the listing that can be tiled, in quilt order; what
// cannot is named and counted.
std::vector<TileChart> plan_charts(const NvchExports &nvch, const Options &o, const std::vector<Listed> &listed,
                                   Counts &counts) {
    std::vector<const Listed *> candidates;
    for (const Listed &l : listed) {
        if (l.kind == Listed::Kind::chart) {
            candidates.push_back(&l);
            continue;
        }
        error(l.path + " " + l.reason);
        ++(l.kind == Listed::Kind::skipped ? counts.skipped : counts.failed);
    }
    std::vector<TileChart> planned(candidates.size());
    std::vector<char> usable(candidates.size(), 0);
    run_in_parallel(candidates.size(), worker_threads(o), "reading charts", [&](size_t i, int) {
        const std::string &path = candidates[i]->path;
        std::string why;
        if (!file_readable(path, &why)) {
            error(path + " cannot be read: " + why);
            ++counts.failed;
            return;
        }
        Options one = o;
        one.chart = path;
        int32_t title = -1;
        auto session = open_chart(nvch, one, &title);
        if (!session) {
            ++(title == 0 ? counts.failed : counts.not_charts);
            return;
        }
        if (!o.palette.empty() && !palette_named(nvch, session->file(), o.palette)) {
            const ChartFacts facts = read_chart_facts(nvch, session->file(), session->width(), session->height());
            std::string has;
            for (const std::string &p : facts.palettes) has += (has.empty() ? "" : ", ") + p;
            error(path + " has no palette " + o.palette + "; it has " + (has.empty() ? "none" : has));
            ++counts.failed;
            return;
        }
        planned[i].path = path;
        if (!tile_chart_of(nvch, session->file(), session->width(), session->height(), &planned[i])) {
            error(path + " cannot be placed on the earth: it is left out");
            ++counts.failed;
            return;
        }
        usable[i] = 1;
    });
    std::vector<TileChart> charts;
    for (size_t i = 0; i < planned.size(); ++i)
        if (usable[i]) charts.push_back(std::move(planned[i]));
    std::sort(charts.begin(), charts.end(), drawn_over);
    return charts;
}

std::string degrees(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", v);
    return text;
}

// The metadata of the tile set: where it lies and at which levels.
std::vector<std::pair<std::string, std::string>> metadata_of(const std::vector<TileChart> &charts, int zoom_min,
                                                             int zoom_max, const Options &o) {
    double west = 180, east = -180, south = 90, north = -90;
    for (const TileChart &c : charts) {
        west = std::min(west, c.west), east = std::max(east, c.east);
        south = std::min(south, c.south), north = std::max(north, c.north);
    }
    if (east > 180) west = -180, east = 180;   // across the 180th meridian: all longitudes
    if (o.has_bbox) {
        if (o.bbox[0] <= o.bbox[2]) west = std::max(west, o.bbox[0]), east = std::min(east, o.bbox[2]);
        south = std::max(south, o.bbox[1]), north = std::min(north, o.bbox[3]);
    }
    south = std::max(south, -kWebMercatorLimit), north = std::min(north, kWebMercatorLimit);
    const std::string name = fs::path(o.chart).lexically_normal().filename().string();
    return {
        {"name", name.empty() ? std::string("charts") : name},
        {"format", "png"},
        {"bounds", degrees(west) + "," + degrees(south) + "," + degrees(east) + "," + degrees(north)},
        {"center", degrees((west + east) / 2) + "," + degrees((south + north) / 2) + "," + std::to_string(zoom_min)},
        {"minzoom", std::to_string(zoom_min)},
        {"maxzoom", std::to_string(zoom_max)},
        {"type", "baselayer"},
        {"description", std::to_string(charts.size()) +
                            " BSB charts, the larger scale on top, each clipped to its outline (nvch-host " +
                            NVCH_VERSION + ")"},
    };
}

}  // namespace

int command_tiles(const NvchExports &nvch, const Options &o) {
    const auto start = std::chrono::steady_clock::now();
    std::error_code ec;
    if (!fs::is_directory(o.chart, ec)) {
        error(o.chart + " is not a folder");
        return 1;
    }
    if (!o.force && fs::exists(fs::symlink_status(o.output, ec))) {
        error(o.output + " is already there (--force replaces it)");
        return 1;
    }
    Counts counts;
    const std::vector<TileChart> charts = plan_charts(nvch, o, list_charts(o.chart), counts);
    if (charts.empty()) {
        error("no chart in " + o.chart + " to make tiles of");
        return 1;
    }
    int zoom_min = o.zoom_min, zoom_max = o.zoom_max;
    if (zoom_min < 0) {
        zoom_min = kHighestZoom, zoom_max = 0;
        for (const TileChart &c : charts) {
            zoom_min = std::min(zoom_min, std::max(0, c.native_zoom - kLevelsBelowNative));
            zoom_max = std::max(zoom_max, c.native_zoom);
        }
    }
    const std::vector<BlockJob> jobs = blocks_of(charts, zoom_min, zoom_max, o);

    remove_stale_temporaries(fs::path(o.output).parent_path().string());
    OutputFile file(o.output);
    fs::remove(file.temporary(), ec);
    MbtilesWriter writer;
    std::string problem;
    if (!writer.create(file.temporary(), &problem)) {
        error(o.output + ": " + problem);
        return 1;
    }
    std::mutex writing;
    std::atomic<bool> write_failed{false};
    std::atomic<int64_t> tiles{0};
    std::vector<std::atomic<bool>> chart_failed(charts.size());
    std::vector<OpenCharts> open(static_cast<size_t>(worker_threads(o)));
    auto draw_block = [&](size_t i, int worker) {
        if (write_failed) return;   // the output cannot take more: no use drawing it
        const BlockJob &job = jobs[i];
        TileBlock block(job.zoom, job.y, job.x, job.count);
        for (uint32_t k : job.charts) {
            if (chart_failed[k].load()) continue;
            std::string why;
            DrawnChart *chart = nullptr;
            try {
                chart = open[static_cast<size_t>(worker)].get(nvch, o, charts, k);
                if (chart != nullptr && draw_chart(nvch, *chart, block, &why)) continue;
            } catch (const std::bad_alloc &) {
                why = "not enough memory to draw it";
            }
            if (!chart_failed[k].exchange(true)) {
                if (chart != nullptr || !why.empty()) error(charts[k].path + ": " + why);
                ++counts.failed;
            }
        }
        std::vector<std::pair<int64_t, std::vector<uint8_t>>> encoded;
        for (int t = 0; t < block.count; ++t)
            if (block.covered[static_cast<size_t>(t)] > 0)
                encoded.emplace_back(block.column(t), encode_tile_png(block.tile(t), kTileSize, kTileSize));
        std::lock_guard<std::mutex> guard(writing);
        for (const auto &[column, png] : encoded) {
            if (write_failed) break;
            if (png.empty() || !writer.put_tile(job.zoom, column, tms_row(job.zoom, job.y), png, &problem)) {
                if (png.empty()) problem = "a tile could not be encoded";
                write_failed = true;
                break;
            }
            ++tiles;
        }
    };
    std::atomic<bool> short_of_memory{false};
    run_in_parallel(jobs.size(), worker_threads(o), "drawing tiles", [&](size_t i, int worker) {
        try {
            draw_block(i, worker);
        } catch (const std::bad_alloc &) {
            short_of_memory = true;
        }
    });

    if (short_of_memory) {
        error(o.output + ": not enough memory to draw every tile");
        return 1;
    }
    int tiled = 0;
    for (size_t k = 0; k < charts.size(); ++k) tiled += chart_failed[k].load() ? 0 : 1;
    if (write_failed || !writer.finish(metadata_of(charts, zoom_min, zoom_max, o), &problem)) {
        error(o.output + ": " + problem);
        return 1;
    }
    if (!file.put_in_place(&problem)) {
        error(problem);
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("tiled %d, not charts %d, skipped %d, failed %d: %lld tiles, zoom %d-%d, in %.1f s\n", tiled,
                counts.not_charts.load(), counts.skipped.load(), counts.failed.load(),
                static_cast<long long>(tiles.load()), zoom_min, zoom_max, seconds);
    return counts.failed > 0 ? 1 : 0;
}
