#include "tile_drawing.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "chart_image.h"

namespace {

constexpr int kNodes = kTileSize / kGridStep + 1;   // node rows and columns of a tile

// The tile pixels at which positions are exact: every kGridStep-th, and
// the last.
int node_pixel(int k) { return std::min(k * kGridStep, kTileSize - 1); }

// Where a tile's pixel centres land on the chart.
struct TileGrid {
    int zoom = 0;
    int64_t tx = 0, ty = 0;
    bool on_chart = false;        // some node lands in the chart's image
    bool exact = false;           // interpolation is not close enough: every pixel exactly
    double error = 0;             // the largest difference from exact at the check points
    std::array<double, kNodes * kNodes> x{}, y{};
    double lat[kTileSize], lon[kTileSize];   // of each pixel row's and column's centre
    double footprint = 1;         // the tile pixel's size in chart pixels
};

// Latitudes of the tile's pixel rows and longitudes of its columns.
void pixel_degrees(int zoom, int64_t tx, int64_t ty, TileGrid *g) {
    g->zoom = zoom, g->tx = tx, g->ty = ty;
    for (int k = 0; k < kTileSize; ++k) {
        g->lat[k] = web_mercator_lat(zoom, static_cast<double>(ty * kTileSize + k) + 0.5);
        g->lon[k] = web_mercator_lon(zoom, static_cast<double>(tx * kTileSize + k) + 0.5);
    }
}

// Chart positions of `count` points of the tile, each given by its row and
// column: a whole number is that pixel's centre, a fraction lies between
// two centres.
void exact_positions(const NvchExports &nvch, const ChartFile *file, const TileGrid &g, int count,
                     const double *rows, const double *columns, double *x, double *y) {
    std::vector<double> lat(static_cast<size_t>(count)), lon(static_cast<size_t>(count));
    for (size_t k = 0; k < static_cast<size_t>(count); ++k) {
        const bool whole_row = rows[k] == std::floor(rows[k]), whole_column = columns[k] == std::floor(columns[k]);
        lat[k] = whole_row ? g.lat[static_cast<int>(rows[k])]
                           : web_mercator_lat(g.zoom, static_cast<double>(g.ty * kTileSize) + rows[k] + 0.5);
        lon[k] = whole_column ? g.lon[static_cast<int>(columns[k])]
                              : web_mercator_lon(g.zoom, static_cast<double>(g.tx * kTileSize) + columns[k] + 0.5);
    }
    if (nvch.latlon_to_pixel(file, count, lat.data(), lon.data(), x, y) != 0) {
        std::fill(x, x + count, NAN);
        std::fill(y, y + count, NAN);
    }
}

// Bilinear interpolation of the node values at tile pixel (column, row).
struct Interpolation {
    int node;
    double t;
};
Interpolation between_nodes(double pixel) {
    int k = std::min(static_cast<int>(pixel) / kGridStep, kNodes - 2);
    const double a = node_pixel(k), b = node_pixel(k + 1);
    return {k, (pixel - a) / (b - a)};
}
double interpolate(const std::array<double, kNodes * kNodes> &v, Interpolation row, Interpolation column) {
    const auto at = [&](int r, int c) { return v[static_cast<size_t>(r) * kNodes + c]; };
    const double top = at(row.node, column.node) + column.t * (at(row.node, column.node + 1) - at(row.node, column.node));
    const double bottom =
        at(row.node + 1, column.node) + column.t * (at(row.node + 1, column.node + 1) - at(row.node + 1, column.node));
    return top + row.t * (bottom - top);
}

// The grid of a tile: exact positions at its nodes, and whether
// interpolating between them stays within the tolerance where it strays
// farthest, the middles of the cells and of their edges.
void make_grid(const NvchExports &nvch, const ChartFile *file, int32_t width, int32_t height, int zoom, int64_t tx,
               int64_t ty, TileGrid *g) {
    pixel_degrees(zoom, tx, ty, g);
    double rows[kNodes * kNodes], columns[kNodes * kNodes];
    for (int r = 0; r < kNodes; ++r)
        for (int c = 0; c < kNodes; ++c) {
            rows[r * kNodes + c] = node_pixel(r);
            columns[r * kNodes + c] = node_pixel(c);
        }
    exact_positions(nvch, file, *g, kNodes * kNodes, rows, columns, g->x.data(), g->y.data());
    bool finite = true;
    for (int k = 0; k < kNodes * kNodes; ++k) {
        finite = finite && std::isfinite(g->x[k]) && std::isfinite(g->y[k]);
        if (g->x[k] >= -kGridStep && g->x[k] <= width + kGridStep && g->y[k] >= -kGridStep &&
            g->y[k] <= height + kGridStep)
            g->on_chart = true;
    }
    // A tile around the chart whose nodes all miss it may still cross it
    // between them: a corner of the chart inside one cell.
    double x_min = HUGE_VAL, x_max = -HUGE_VAL, y_min = HUGE_VAL, y_max = -HUGE_VAL;
    for (int k = 0; k < kNodes * kNodes; ++k) {
        x_min = std::min(x_min, g->x[k]), x_max = std::max(x_max, g->x[k]);
        y_min = std::min(y_min, g->y[k]), y_max = std::max(y_max, g->y[k]);
    }
    if (finite && x_min < width && x_max > 0 && y_min < height && y_max > 0) g->on_chart = true;
    if (!finite) {
        // Some positions the projection cannot take: every pixel exactly,
        // the rows held found from the nodes it can.
        g->exact = g->on_chart = true;
        return;
    }
    // Check points: the middle of each cell, and of each edge between two
    // nodes, where interpolation strays farthest from the positions.
    constexpr int kCells = kNodes - 1;
    std::vector<double> check_rows, check_columns;
    for (int r = 0; r < kNodes; ++r)
        for (int c = 0; c < kNodes; ++c) {
            const double row = node_pixel(r), column = node_pixel(c);
            const double next_row = r < kCells ? (row + node_pixel(r + 1)) / 2 : -1;
            const double next_column = c < kCells ? (column + node_pixel(c + 1)) / 2 : -1;
            if (next_column >= 0) check_rows.push_back(row), check_columns.push_back(next_column);
            if (next_row >= 0) check_rows.push_back(next_row), check_columns.push_back(column);
            if (next_row >= 0 && next_column >= 0) check_rows.push_back(next_row), check_columns.push_back(next_column);
        }
    const int checks = static_cast<int>(check_rows.size());
    std::vector<double> mx(check_rows.size()), my(check_rows.size());
    exact_positions(nvch, file, *g, checks, check_rows.data(), check_columns.data(), mx.data(), my.data());
    for (int k = 0; k < checks; ++k) {
        const Interpolation row = between_nodes(check_rows[static_cast<size_t>(k)]);
        const Interpolation column = between_nodes(check_columns[static_cast<size_t>(k)]);
        const double error = std::max(std::fabs(interpolate(g->x, row, column) - mx[static_cast<size_t>(k)]),
                                      std::fabs(interpolate(g->y, row, column) - my[static_cast<size_t>(k)]));
        g->error = std::isfinite(error) ? std::max(g->error, error) : HUGE_VAL;
    }
    g->exact = !(g->error <= kGridTolerance);
    // The footprint: the area a tile pixel covers on the chart, at the
    // tile's middle.
    const int m = kNodes / 2;
    const auto at = [&](const std::array<double, kNodes * kNodes> &v, int r, int c) { return v[r * kNodes + c]; };
    const double dxdc = (at(g->x, m, m + 1) - at(g->x, m, m)) / kGridStep;
    const double dydc = (at(g->y, m, m + 1) - at(g->y, m, m)) / kGridStep;
    const double dxdr = (at(g->x, m + 1, m) - at(g->x, m, m)) / kGridStep;
    const double dydr = (at(g->y, m + 1, m) - at(g->y, m, m)) / kGridStep;
    g->footprint = std::sqrt(std::fabs(dxdc * dydr - dydc * dxdr));
}

// The chart positions of the pixels of tile pixel row `row`: exact, or
// interpolated between the nodes, first down the node columns, then
// along the row.
void row_positions(const NvchExports &nvch, const ChartFile *file, const TileGrid &g, int row, double *x,
                   double *y) {
    if (g.exact) {
        double rows[kTileSize], columns[kTileSize];
        for (int c = 0; c < kTileSize; ++c) rows[c] = row, columns[c] = c;
        exact_positions(nvch, file, g, kTileSize, rows, columns, x, y);
        return;
    }
    const Interpolation r = between_nodes(row);
    double node_x[kNodes], node_y[kNodes];
    for (int k = 0; k < kNodes; ++k) {
        const size_t top = static_cast<size_t>(r.node) * kNodes + k, bottom = top + kNodes;
        node_x[k] = g.x[top] + r.t * (g.x[bottom] - g.x[top]);
        node_y[k] = g.y[top] + r.t * (g.y[bottom] - g.y[top]);
    }
    for (int k = 0; k + 1 < kNodes; ++k) {
        const int from = node_pixel(k), to = k + 2 == kNodes ? kTileSize : node_pixel(k + 1);
        const double span = node_pixel(k + 1) - from;
        const double step_x = (node_x[k + 1] - node_x[k]) / span, step_y = (node_y[k + 1] - node_y[k]) / span;
        for (int c = from; c < to; ++c) {
            x[c] = node_x[k] + (c - from) * step_x;
            y[c] = node_y[k] + (c - from) * step_y;
        }
    }
}

// A cell of the chart reduced f x f times: the average colour of the
// pixels it shows, and how many it shows.
struct Cell {
    uint8_t red = 0, green = 0, blue = 0;
    uint16_t shown = 0;
};

// Chart rows held for drawing: rows [first, first + rows) of the chart,
// or of its f x f reduction when f > 1.
struct Window {
    int f = 1;
    int32_t first = 0, rows = 0, width = 0;   // width: pixels, or cells
    std::vector<uint8_t> pixels;              // f == 1: pixel values, kHidden where hidden
    std::vector<Cell> cells;                  // f > 1
};

bool read_masked_row(DrawnChart &chart, int32_t row, uint8_t *pixels) {
    if (!chart.session->read_row(static_cast<uint32_t>(row), pixels)) return false;
    chart.mask->apply(row, pixels, kHidden);
    return true;
}

bool fill_window(DrawnChart &chart, Window *w, std::string *problem) {
    const int32_t chart_width = chart.session->width(), chart_height = chart.session->height();
    const auto failed = [&](int32_t row) {
        *problem = "row " + std::to_string(row) + " could not be read";
        return false;
    };
    if (w->f == 1) {
        w->width = chart_width;
        w->pixels.resize(static_cast<size_t>(w->rows) * chart_width);
        for (int32_t r = 0; r < w->rows; ++r)
            if (!read_masked_row(chart, w->first + r, w->pixels.data() + static_cast<size_t>(r) * chart_width))
                return failed(w->first + r);
        return true;
    }
    const int f = w->f;
    w->width = (chart_width + f - 1) / f;
    w->cells.assign(static_cast<size_t>(w->rows) * w->width, Cell{});
    std::vector<uint8_t> row(static_cast<size_t>(chart_width));
    std::vector<uint32_t> sums(static_cast<size_t>(w->width) * 4);
    for (int32_t r = 0; r < w->rows; ++r) {
        std::fill(sums.begin(), sums.end(), 0);
        const int32_t from = (w->first + r) * f, to = std::min(chart_height, from + f);
        for (int32_t y = from; y < to; ++y) {
            if (!read_masked_row(chart, y, row.data())) return failed(y);
            for (int32_t cell = 0; cell < w->width; ++cell) {
                uint32_t *s = &sums[static_cast<size_t>(cell) * 4];
                const int32_t end = std::min(chart_width, (cell + 1) * f);
                for (int32_t x = cell * f; x < end; ++x) {
                    const uint8_t v = row[static_cast<size_t>(x)];
                    if (v == kHidden) continue;
                    const Colour &c = chart.colours[v];
                    s[0] += static_cast<uint32_t>(c.red), s[1] += static_cast<uint32_t>(c.green);
                    s[2] += static_cast<uint32_t>(c.blue), s[3] += 1;
                }
            }
        }
        Cell *cells = &w->cells[static_cast<size_t>(r) * w->width];
        for (int32_t k = 0; k < w->width; ++k) {
            const uint32_t *s = &sums[static_cast<size_t>(k) * 4];
            if (s[3] == 0) continue;
            cells[k] = {static_cast<uint8_t>((s[0] + s[3] / 2) / s[3]), static_cast<uint8_t>((s[1] + s[3] / 2) / s[3]),
                        static_cast<uint8_t>((s[2] + s[3] / 2) / s[3]), static_cast<uint16_t>(s[3])};
        }
    }
    return true;
}

// The colour a pixel centred at chart position (x, y) takes from the
// window, or false when the chart does not show there.
bool nearest(const DrawnChart &chart, const Window &w, double x, double y, uint8_t *rgba) {
    if (!(x >= 0 && x < w.width && y >= w.first && y < w.first + w.rows)) return false;
    const uint8_t v = w.pixels[static_cast<size_t>(static_cast<int32_t>(y) - w.first) * w.width + static_cast<size_t>(x)];
    if (v == kHidden) return false;
    const Colour &c = chart.colours[v];
    rgba[0] = static_cast<uint8_t>(c.red), rgba[1] = static_cast<uint8_t>(c.green), rgba[2] = static_cast<uint8_t>(c.blue);
    rgba[3] = 255;
    return true;
}

// The average colour of the chart pixels in the square of side
// `footprint` centred at (x, y), taken from the reduced cells by the area
// of each the square overlaps; false when fewer than half of them show
// the chart.
bool averaged(const Window &w, double x, double y, double footprint, uint8_t *rgba) {
    const double half = footprint / 2, f = w.f;
    const double x0 = (x - half) / f, x1 = (x + half) / f, y0 = (y - half) / f, y1 = (y + half) / f;
    const int32_t c0 = std::max<int32_t>(0, static_cast<int32_t>(std::floor(x0)));
    const int32_t c1 = std::min<int32_t>(w.width - 1, static_cast<int32_t>(std::ceil(x1)) - 1);
    const int32_t r0 = std::max<int32_t>(w.first, static_cast<int32_t>(std::floor(y0)));
    const int32_t r1 = std::min<int32_t>(w.first + w.rows - 1, static_cast<int32_t>(std::ceil(y1)) - 1);
    double red = 0, green = 0, blue = 0, shown = 0;
    for (int32_t r = r0; r <= r1; ++r) {
        const double wy = std::min<double>(r + 1, y1) - std::max<double>(r, y0);
        const Cell *row = &w.cells[static_cast<size_t>(r - w.first) * w.width];
        for (int32_t c = c0; c <= c1; ++c) {
            const Cell &cell = row[c];
            if (cell.shown == 0) continue;
            const double weight = wy * (std::min<double>(c + 1, x1) - std::max<double>(c, x0)) * cell.shown;
            red += weight * cell.red, green += weight * cell.green, blue += weight * cell.blue;
            shown += weight;
        }
    }
    if (!(shown > 0) || shown < footprint * footprint / 2) return false;
    const double scale = 1 / shown;
    rgba[0] = static_cast<uint8_t>(red * scale + 0.5);
    rgba[1] = static_cast<uint8_t>(green * scale + 0.5);
    rgba[2] = static_cast<uint8_t>(blue * scale + 0.5);
    rgba[3] = 255;
    return true;
}

// Tile pixel rows [from, to) of one tile, drawn where no chart has drawn.
void draw_rows(const NvchExports &nvch, DrawnChart &chart, const TileGrid &g, const Window &w, int from, int to,
               uint8_t *tile, int *covered) {
    double x[kTileSize], y[kTileSize];
    for (int r = from; r < to; ++r) {
        uint8_t *out = tile + static_cast<size_t>(r) * kTileSize * 4;
        bool open = false;
        for (int c = 0; c < kTileSize && !open; ++c) open = out[c * 4 + 3] == 0;
        if (!open) continue;
        row_positions(nvch, chart.session->file(), g, r, x, y);
        for (int c = 0; c < kTileSize; ++c) {
            uint8_t *p = out + c * 4;
            if (p[3] != 0) continue;
            const bool drawn = w.f == 1 ? nearest(chart, w, x[c], y[c], p) : averaged(w, x[c], y[c], g.footprint, p);
            *covered += drawn ? 1 : 0;
        }
    }
}

// The window rows tile pixel rows [from, to) of the grids need, by their
// nodes: interpolated positions lie between them, exact ones within the
// largest difference the check found; `reach` more for the footprint.
// False when no node lands anywhere.
bool rows_needed(const std::vector<const TileGrid *> &grids, int from, int to, int f, double reach,
                 int32_t chart_height, int32_t *first, int32_t *last) {
    double low = HUGE_VAL, high = -HUGE_VAL;
    const int node_from = from / kGridStep, node_to = std::min(kNodes - 1, (to + kGridStep - 1) / kGridStep);
    for (const TileGrid *g : grids) {
        const double margin = reach + 2 + (std::isfinite(g->error) ? g->error : 0);
        for (int r = node_from; r <= node_to; ++r)
            for (int c = 0; c < kNodes; ++c) {
                const double v = g->y[static_cast<size_t>(r) * kNodes + c];
                if (!std::isfinite(v)) continue;
                low = std::min(low, v - margin), high = std::max(high, v + margin);
            }
    }
    if (!(low <= high)) return false;
    const int32_t limit = (chart_height + f - 1) / f;
    *first = std::max<int32_t>(0, static_cast<int32_t>(std::floor(std::max(low, -1.0) / f)));
    *last = std::min<int32_t>(limit - 1, static_cast<int32_t>(std::floor(std::min<double>(high, chart_height) / f)));
    return true;
}

// The tiles of `tiles` from `next` on that one window holds within the
// budget, and the tile rows it holds at a time.
size_t tiles_in_window(const std::vector<int> &tiles, const std::vector<std::unique_ptr<TileGrid>> &grids,
                       size_t next, int f, int64_t row_bytes, int32_t chart_height, int *strip) {
    size_t end = tiles.size();
    *strip = kTileSize;
    for (;;) {
        std::vector<const TileGrid *> group;
        double footprint = 0;
        for (size_t k = next; k < end; ++k) {
            group.push_back(grids[static_cast<size_t>(tiles[k])].get());
            footprint = std::max(footprint, group.back()->footprint);
        }
        int32_t first = 0, last = -1;
        if (!rows_needed(group, 0, *strip, f, footprint, chart_height, &first, &last) ||
            (last - first + 1) * row_bytes <= kWindowBudget || (end == next + 1 && *strip == kGridStep))
            return end;
        if (end > next + 1)
            end = next + (end - next + 1) / 2;
        else
            *strip /= 2;
    }
}

}  // namespace

TileBlock::TileBlock(int zoom_, int64_t y_, int64_t x_, int count_)
    : zoom(zoom_), y(y_), x(x_), count(count_), rgba(static_cast<size_t>(count_) * kTileSize * kTileSize * 4, 0),
      covered(static_cast<size_t>(count_), 0) {}

bool draw_chart(const NvchExports &nvch, DrawnChart &chart, TileBlock &block, std::string *problem) {
    const TileChart &facts = *chart.facts;
    const int32_t width = chart.session->width(), height = chart.session->height();
    const int f = block.zoom >= facts.native_zoom ? 1 : 1 << (facts.native_zoom - block.zoom);
    constexpr int kFull = kTileSize * kTileSize;

    // The tiles the chart may show in, and where their pixels land on it.
    std::vector<int> tiles;
    std::vector<std::unique_ptr<TileGrid>> grids(static_cast<size_t>(block.count));
    const double lat_top = web_mercator_lat(block.zoom, static_cast<double>(block.y * kTileSize));
    const double lat_bottom = web_mercator_lat(block.zoom, static_cast<double>((block.y + 1) * kTileSize));
    if (lat_bottom > facts.north || lat_top < facts.south) return true;
    for (int k = 0; k < block.count; ++k) {
        if (block.covered[static_cast<size_t>(k)] == kFull) continue;
        const int64_t column = block.column(k);
        const double west = web_mercator_lon(block.zoom, static_cast<double>(column * kTileSize));
        const double east = web_mercator_lon(block.zoom, static_cast<double>((column + 1) * kTileSize));
        bool overlaps = false;
        for (double shift : {-360.0, 0.0, 360.0}) overlaps = overlaps || (east + shift > facts.west && west + shift < facts.east);
        if (!overlaps) continue;
        auto g = std::make_unique<TileGrid>();
        make_grid(nvch, chart.session->file(), width, height, block.zoom, column, block.y, g.get());
        if (!g->on_chart) continue;
        grids[static_cast<size_t>(k)] = std::move(g);
        tiles.push_back(k);
    }

    // Window by window, as many tiles and tile rows as the budget lets
    // one window hold.
    const int64_t row_bytes = f == 1 ? width : static_cast<int64_t>((width + f - 1) / f) * sizeof(Cell);
    for (size_t next = 0; next < tiles.size();) {
        int strip = kTileSize;
        const size_t end = tiles_in_window(tiles, grids, next, f, row_bytes, height, &strip);
        std::vector<const TileGrid *> group;
        double footprint = 0;
        for (size_t k = next; k < end; ++k) {
            group.push_back(grids[static_cast<size_t>(tiles[k])].get());
            footprint = std::max(footprint, group.back()->footprint);
        }
        for (int from = 0; from < kTileSize; from += strip) {
            const int to = std::min(kTileSize, from + strip);
            Window w;
            w.f = f;
            int32_t last = -1;
            if (!rows_needed(group, from, to, f, footprint, height, &w.first, &last) || last < w.first) continue;
            w.rows = last - w.first + 1;
            if (!fill_window(chart, &w, problem)) return false;
            for (size_t k = next; k < end; ++k) {
                const int t = tiles[k];
                draw_rows(nvch, chart, *grids[static_cast<size_t>(t)], w, from, to, block.tile(t),
                          &block.covered[static_cast<size_t>(t)]);
            }
        }
        next = end;
    }
    return true;
}

void tile_positions(const NvchExports &nvch, const ChartFile *file, int zoom, int64_t x, int64_t y,
                    std::vector<double> *chart_x, std::vector<double> *chart_y, bool *interpolated) {
    TileGrid g;
    make_grid(nvch, file, 1 << 30, 1 << 30, zoom, x, y, &g);
    *interpolated = !g.exact;
    chart_x->resize(kTileSize * kTileSize);
    chart_y->resize(kTileSize * kTileSize);
    for (int r = 0; r < kTileSize; ++r) row_positions(nvch, file, g, r, &(*chart_x)[r * kTileSize], &(*chart_y)[r * kTileSize]);
}
