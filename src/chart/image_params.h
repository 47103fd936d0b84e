// Colour depth, image size and palette, read from the header at open.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Colour depth from the "IFM" record, or from the byte before the index
// table when there is none; sets `depth` and `value_mask`. 0 or -1.
int32_t kap_read_depth(ChartReader *reader);

// Width and height from the "BSB" record's "RA" field. 0 when both are
// positive, else -1.
int32_t kap_read_size(ChartFile *chart);

// The largest chart served, pixels a side. Real charts stay below 40,000;
// a damaged header may claim billions, and every row of such a chart would
// cost seconds.
constexpr int32_t kLargestChartSide = 131072;

// Refuses, with one line on standard error, a size beyond
// kLargestChartSide or a height that the index table cannot address: far
// more rows than its entries, each covering rows_per_entry rows, reach.
// 0 when the size is served, else -1.
int32_t kap_check_size(const ChartFile *chart);

// Palette arrays from the "RGB" records, and `color_count`. 0, or -1 when
// memory runs out (nothing is then left allocated).
int32_t kap_read_palette(ChartFile *chart);

// A palette's arrays: entry i for pixel value i.
struct PaletteArrays {
    uint8_t *red;
    uint8_t *green;
    uint8_t *blue;
    int32_t entries;
};

// Stores the records of the palette `name` ("RGB", "DAY", "NGT", ...: three
// letters) into the arrays, each "NAME/index,red,green,blue" where its
// index lies inside them. Returns the number of its records (0 for a name
// of another length).
int32_t palette_from_records(const HeaderLines &header, const char *name, const PaletteArrays &arrays);

// Entries in each palette array of a chart with this depth.
int32_t palette_length(int32_t depth);

// The value mask for a depth of 1 to 7: the `depth` highest of the seven
// data bits of a run's first byte.
uint8_t value_mask_for_depth(int32_t depth);
