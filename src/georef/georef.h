// Placing an opened chart on the map: the projected position of its
// upper-left pixel and the ground size of a pixel, from the "ARC" record or
// fitted to the chart's reference points.
#pragma once

#include <cstdint>

#include "bsb.h"
#include "common/header_records.h"
#include "georef/map_frame.h"

// The reference points: rows 0 to 3 of `table` hold pixel x, pixel y,
// latitude and longitude (degrees); column k holds point k + 1.
struct RefPoints {
    double **table = nullptr;
    int32_t count = 0;
};

// Moves reference pixel positions (row 0: x, row 1: y of `points`,
// columns 0 .. count-1) into the image as it is delivered; a chart
// delivered as stored has none (`move` null).
struct PixelMove {
    void (*move)(double **points, int32_t count, const void *context) = nullptr;
    const void *context = nullptr;
};

// Sets upper_left_x/y and pixel_size_x/y of `chart` from its `header`, and
// the frame that turns its pixels into latitudes and longitudes and back
// (none for a chart placed by its "ARC" record): 0, or -1 after a message
// on standard error when the chart cannot be placed.
int32_t georeference_chart(ChartFile *chart, const HeaderLines &header, PixelMove move, MapFrame *frame);

// The frame alone, fitted to the reference points moved by `move`: for a
// chart delivered as stored whose pixels are placed through its turn.
// 0, or -1 after a message.
int32_t georeference_frame(const HeaderLines &header, PixelMove move, MapFrame *frame);

// 0 when the "ARC" record gave all of UX, UY, DX, DY (stored as written),
// 1 when it is missing or incomplete.
int32_t apply_arc_record(ChartFile *chart, const HeaderLines &header);

// Reads the "REF" records: 0 with the table (release it with
// release_ref_points), or -1 after a message naming a record that lacks a
// value or whose point number is outside 1..N or repeated. No records
// gives 0 with an empty table.
int32_t read_ref_points(char *const *lines, int32_t count, RefPoints *points);
void release_ref_points(RefPoints *points);

// The mean slope of projected against pixel coordinate along `axis` (0 x,
// 1 y) over the pairs more than 100 pixels apart; 1.0 for another axis,
// fewer than two points or no such pair.
double fit_pixel_scale(double *const *pixels, double *const *projected, int32_t axis, int32_t count);

// The point nearest pixel (0, 0); ties go to the lower column.
int32_t nearest_ref_to_origin(double *const *pixels, int32_t count);
