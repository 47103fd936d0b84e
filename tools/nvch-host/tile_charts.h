// The charts of a tile set: where each lies on the earth, its native zoom
// and its place in the quilt, read once from each chart before any tile
// is drawn. Only these few numbers are kept: charts are opened again when
// their tiles are drawn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exports.h"

// Levels a chart is drawn at around its native zoom: below it averaged
// (small lettering blurs rather than breaks up), above it pixel for pixel.
// Beyond them a chart would be a speck or a blur of a few pixels.
constexpr int kLevelsBelowNative = 4;
constexpr int kLevelsAboveNative = 2;
constexpr int kHighestZoom = 24;

struct TileChart {
    std::string path;
    double scale = 0;            // the scale number; 0 when the chart gives none
    int64_t edition = 0;         // the edition date as yyyymmdd; 0 when none
    int native_zoom = 0;         // the level whose pixel is closest to the chart's at its centre
    // Its extent in degrees: west < east, east beyond 180 for a chart across
    // the 180th meridian.
    double west = 0, east = 0, south = 0, north = 0;

    bool drawn_at(int zoom) const {
        return zoom >= native_zoom - kLevelsBelowNative && zoom <= native_zoom + kLevelsAboveNative;
    }
};

// The facts of an open chart for tiling; false when the library cannot
// place it on the earth.
bool tile_chart_of(const NvchExports &nvch, const ChartFile *file, int32_t width, int32_t height, TileChart *chart);

// The level of Web Mercator whose pixel, at latitude `lat`, is closest to
// `metres`.
int native_zoom_of(double metres, double lat);

// Whether `a` is drawn over `b` where they overlap: the larger scale
// (smaller scale number), then the later edition, then the path.
bool drawn_over(const TileChart &a, const TileChart &b);

// The edition date "MM/DD/YYYY" as yyyymmdd; 0 when it is none.
int64_t edition_date(const std::string &text);
