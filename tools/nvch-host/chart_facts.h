// What a chart says of itself, read through the reader functions: its
// name, number, scale, dates, datum, projection, palettes, where its image
// lies and its outline (the "PLY" polygon that bounds the charted area).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "chart_session.h"
#include "exports.h"
#include "json.h"

struct LatLon {
    double lat = 0, lon = 0;
};

struct ChartFacts {
    std::optional<std::string> name, number, scale, edition, notice, datum, projection, units, sounding_datum, skew;
    std::vector<std::string> palettes;                   // those the chart has, of the eight known
    std::optional<std::array<LatLon, 4>> corners;        // upper-left, upper-right, lower-right, lower-left
    std::vector<LatLon> outline;                         // the "PLY" points in order, the datum shift applied (empty: none)
};

// The eight palettes a chart may carry, in the order they are listed.
extern const char *const kPaletteNames[8];

// The facts of an open chart whose delivered image is `width` x `height`.
ChartFacts read_chart_facts(const NvchExports &nvch, const ChartFile *file, int32_t width, int32_t height);

// The outline's points in pixels of the delivered image (empty when the
// chart has no outline, or no projection to place it with).
std::vector<std::pair<double, double>> outline_in_pixels(const NvchExports &nvch, const ChartFile *file,
                                                         const ChartFacts &facts);

// The colour table of palette `name` (256 entries, 0 where the palette
// lists none), or nothing when the chart has no such palette.
std::optional<std::vector<Colour>> palette_named(const NvchExports &nvch, const ChartFile *file,
                                                 const std::string &name);

// The header's facts as JSON fields: name, number, scale (a number),
// edition, notice, datum, projection, units and sounding_datum, null where
// the header says none.
void add_header_facts(JsonObject &json, const ChartFacts &facts);
