// The record of one open chart's reader state. It holds the raster
// records the row paths work on (each value once) and how rows are served;
// the functions that make and release it are in chart/reader_lifecycle.h.
#pragma once

#include <cstdint>

#include "bsb.h"
#include "common/budget.h"
#include "common/header_records.h"
#include "georef/map_frame.h"
#include "raster/row_decode.h"
#include "raster/skew.h"
#include "raster/stored_image.h"

// How BSB_getrow serves the chart's rows. A skewed chart is served from
// tiles of its stored image, made at its first row; when their memory
// cannot be had, or the budget took them, the row is decoded from whole
// stored rows instead, and the tiles are tried again at the next row.
enum class RowMode : int32_t {
    stored,           // rows come straight from the file
    skewed_untried,   // served upright; no tiles at hand now
    skewed_tiled,     // served upright from tiles of the stored image
    skewed_direct,    // served upright, each stored row decoded on demand, always (tests ask for it)
};

struct TiledImage;

struct ChartReader {
    BudgetEntry budget;              // first: the budget's release finds the reader from it
    StoredImage image;               // the file, its depth, stored size and row index
    HeaderLines header;
    RowMode mode = RowMode::stored;
    SkewGeometry skew;               // the turn (angle 0: none), whether served upright or as stored
    MapFrame map;                    // where the pixels lie on the earth
    RowScratch scratch;              // a stored row, for direct decoding
    EntryWalk walk;
    TiledImage *tiled = nullptr;     // in tiled mode: the stored image's index and tiles
};

inline bool chart_is_skewed(const ChartReader *reader) { return reader->mode != RowMode::stored; }

// A chart stored turned by a skew angle but served as stored (skew
// correction off): its pixels are placed on the earth through the turn.
inline bool chart_is_stored_turned(const ChartReader *reader) {
    return reader->mode == RowMode::stored && reader->skew.angle != 0;
}
