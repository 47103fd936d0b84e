// The record behind a layer handle.
#pragma once

#include <cstdint>

#include "bsb.h"

struct LayerHandle {
    ChartFile *chart;
    int32_t band_index;     // zero-based band number from the layer name
    int32_t block_height;   // rows per block: always 1
    int32_t block_width;    // the chart's width
};
