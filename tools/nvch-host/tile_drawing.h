// Drawing charts into Web Mercator tiles. Each tile pixel's centre goes to
// the chart through BSB_latlon_to_pixel; at and above the chart's native
// zoom the pixel takes the colour of the chart pixel it lands in, below it
// the average colour of the chart pixels its footprint covers. Charts are
// drawn top first: a pixel a chart above has covered is left alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chart_session.h"
#include "exports.h"
#include "pixel_mask.h"
#include "tile_charts.h"
#include "web_mercator.h"

// Tiles drawn together: up to this many side by side in one tile row, so
// that a chart's rows are read once for all of them.
constexpr int kBlockTiles = 32;
// The chart rows a drawing holds at once, at most (bytes): less in a
// 32-bit process, whose address space every thread shares.
constexpr int64_t kWindowBudget = sizeof(void *) == 4 ? 8 << 20 : 32 << 20;
// Exact positions are taken every this many tile pixels, and the pixels
// between them interpolated, where that stays this close to exact (in
// chart pixels) at the check points between them.
constexpr int kGridStep = 16;
constexpr double kGridTolerance = 0.02;

// Tiles [x, x + count) of row y at one zoom (columns wrap round the
// 180th meridian), RGBA, transparent where no chart has drawn.
struct TileBlock {
    int zoom = 0;
    int64_t y = 0, x = 0;
    int count = 0;
    std::vector<uint8_t> rgba;   // count tiles of 256 x 256 x 4 bytes, one after the other
    std::vector<int> covered;    // pixels drawn, per tile

    TileBlock(int zoom, int64_t y, int64_t x, int count);
    uint8_t *tile(int k) { return rgba.data() + static_cast<size_t>(k) * kTileSize * kTileSize * 4; }
    int64_t column(int k) const { return (x + k) & ((int64_t{1} << zoom) - 1); }
};

// An open chart as drawing needs it: its pixels, what of them to hide
// (outside the stored image or the outline) and its colours.
struct DrawnChart {
    const TileChart *facts = nullptr;
    std::unique_ptr<ChartSession> session;
    std::unique_ptr<PixelMask> mask;
    std::vector<Colour> colours;   // 256 entries
};

// Draws `chart` into the pixels of `block` no chart above it has drawn.
// False, with the reason in `problem`, when the chart's rows cannot be read.
bool draw_chart(const NvchExports &nvch, DrawnChart &chart, TileBlock &block, std::string *problem);

// The chart positions of every pixel centre of tile (x, y) at `zoom`, the
// way drawing computes them (interpolated where the check allows): for
// tests. x and y get 256 x 256 values, row after row; `interpolated` says
// which way was taken.
void tile_positions(const NvchExports &nvch, const ChartFile *file, int zoom, int64_t x, int64_t y,
                    std::vector<double> *chart_x, std::vector<double> *chart_y, bool *interpolated);
