// Where a chart's pixels lie on the earth: the projection its header
// names and the fit of its image to its reference points, which turn
// pixel positions into latitudes and longitudes and back.
//
// Latitudes and longitudes are degrees in the chart's geographic system as
// the map information has it: its reference points with their datum shift
// applied. Pixel positions are x right and y down from the point the fit's
// corner names (no half-pixel shift).
#pragma once

#include <cstdint>

#include "georef/projection.h"

struct MapFrame {
    bool invertible = false;        // false: placed by an "ARC" record, or not placed
    ProjectionParameters projection;
    double upper_left_x = 0;        // the fit, as the map information has it
    double upper_left_y = 0;
    double pixel_size_x = 0;
    double pixel_size_y = 0;        // positive: rows grow southward
    double center_longitude = 0;    // degrees: the reference points lie around it, as the open wrapped them
};

// `count` pixel positions to latitude and longitude (longitudes in
// -180..180), and back (a longitude taken on whichever side of the 180th
// meridian the chart lies). A position the projection cannot take gives
// NaN. 0, or -1 for a frame that cannot be inverted. The projection
// library's parameters are process-wide: the process lock is held for the
// whole batch.
int32_t map_pixel_to_latlon(const MapFrame &frame, int32_t count, const double *x, const double *y, double *lat,
                            double *lon);
int32_t map_latlon_to_pixel(const MapFrame &frame, int32_t count, const double *lat, const double *lon, double *x,
                            double *y);
