// What a chart says of itself, read through the reader functions: its
// name, number, scale, dates, datum, projection, palettes, where its image
// lies and its outline (the "PLY" polygon that bounds the charted area).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "exports.h"

struct LatLon {
    double lat = 0, lon = 0;
};

struct ChartFacts {
    std::optional<std::string> name, number, scale, edition, notice, datum, projection, units, sounding_datum, skew;
    std::vector<std::string> palettes;                   // those the chart has, of the eight known
    std::optional<std::array<LatLon, 4>> corners;        // upper-left, upper-right, lower-right, lower-left
    std::vector<LatLon> outline;                         // the "PLY" points in order (empty: none)
};

// The eight palettes a chart may carry, in the order they are listed.
extern const char *const kPaletteNames[8];

// The facts of an open chart whose delivered image is `width` x `height`.
ChartFacts read_chart_facts(const NvchExports &nvch, const ChartFile *file, int32_t width, int32_t height);
