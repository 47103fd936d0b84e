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

// A position in the stored image or the rotated plane. Rotations of 32-bit
// coordinates always fit.
struct SkewPoint {
    int64_t x;
    int64_t y;
};

// (trunc(a c - b s), trunc(b c + a s)): each product rounded to a double on
// its own, then truncated toward zero. |a|, |b| < 2^31 and |s|, |c| <= 1
// keep every result far inside 64 bits.
inline SkewPoint skew_rotate_wide(int64_t a, int64_t b, double s, double c) {
    const double da = static_cast<double>(a);
    const double db = static_cast<double>(b);
    return {static_cast<int64_t>(da * c - db * s), static_cast<int64_t>(db * c + da * s)};
}

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

// Fills output row `row` (the chart's width pixels) by sampling stored
// rows from `provider`, which is asked again only when the stored row
// changes along the output row: 0, or -1 when the provider has no row.
int32_t skew_getrow(uint8_t *buffer, int32_t row, ChartFile *chart, SourceRowProvider provider);

// Moves reference pixel positions (row 0: x, row 1: y of `points`, columns
// 0 .. count-1) into the upright output image.
void skew_ref_points(double **points, int32_t count, const ChartReader *reader);
