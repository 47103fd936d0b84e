// Serving a chart stored turned by a skew angle upright.
//
// Output pixel (i, r) shows the stored pixel G(skew_min_x + i, skew_min_y + r),
// where G turns the rotated plane back into the stored image and F (its
// counterpart) turns stored positions into the rotated plane:
//   G(a, b) = (trunc(a cos t - b sin t), trunc(b cos t + a sin t))
//   F(x, y) = (trunc(x cos t + y sin t), trunc(y cos t - x sin t))
// Every product is a separately rounded double (the build forbids fused
// multiply-add), and trunc goes toward zero: which stored pixel a position
// lands on depends on both.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Supplies stored row `row` (source_width pixels), decoding into `scratch`
// when it has to; null when the row cannot be had.
using SourceRowProvider = uint8_t *(*)(int32_t row, uint8_t *scratch, ChartFile *chart);

// Turns skew on for an opened chart: angle, bounds, the rotated size in the
// ChartFile and the scratch row. 0, or -1 (with a message on standard
// error) when the rotated image is too large to describe or the scratch row
// cannot be allocated.
int32_t skew_setup(ChartFile *chart, double degrees);

// The rotated bounding box of the stored image: sets the ChartFile's width
// and height and skew_min_x, skew_min_y. 0, or -1 when a coordinate or the
// size does not fit 32 bits.
int32_t skew_bounds(ChartFile *chart);

// (x, y) = (trunc(a c - b s), trunc(b c + a s)), saturated to 32 bits.
int32_t skew_rotate(int32_t a, int32_t b, int32_t *x, int32_t *y, double s, double c);

// Fills output row `row` (the chart's width pixels) by sampling stored
// rows from `provider`: 0, or -1 when the provider has no row.
int32_t skew_getrow(uint8_t *buffer, int32_t row, ChartFile *chart, SourceRowProvider provider);

// Moves reference pixel positions (row 0: x, row 1: y of `points`, columns
// 0 .. count-1) into the upright output image.
void skew_ref_points(double **points, int32_t count, const ChartReader *reader);
