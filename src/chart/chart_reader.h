// The record of one open chart's reader state. It holds the raster
// records the row paths work on (each value once) and how rows are served;
// the functions that make and release it are in chart/reader_lifecycle.h.
#pragma once

#include <cstdint>

#include "bsb.h"
#include "common/header_records.h"
#include "raster/row_decode.h"
#include "raster/skew.h"
#include "raster/stored_image.h"

// How BSB_getrow serves the chart's rows. A skewed chart starts untried;
// its first row request decides, for good, between tiles of its stored
// image and decoding whole stored rows on demand.
enum class RowMode : int32_t {
    stored,           // rows come straight from the file
    skewed_untried,   // served upright; the tiles have not been attempted
    skewed_tiled,     // served upright from tiles of the stored image
    skewed_direct,    // served upright, each stored row decoded on demand
};

struct TiledImage;

struct ChartReader {
    StoredImage image;               // the file, its depth, stored size and row index
    HeaderLines header;
    RowMode mode = RowMode::stored;
    SkewGeometry skew;               // the turn, when the chart is served upright
    RowScratch scratch;              // a stored row, for direct decoding
    EntryWalk walk;
    TiledImage *tiled = nullptr;     // in tiled mode: the stored image's index and tiles
};

inline bool chart_is_skewed(const ChartReader *reader) { return reader->mode != RowMode::stored; }
