// Serving a chart stored turned by a skew angle upright.
//
// Output pixel (i, r) shows the stored pixel G(min_x + i, min_y + r),
// where G turns the rotated plane back into the stored image and F (its
// counterpart) turns stored positions into the rotated plane:
//   G(a, b) = (trunc(a cos t - b sin t), trunc(b cos t + a sin t))
//   F(x, y) = (trunc(x cos t + y sin t), trunc(y cos t - x sin t))
// Every product is a separately rounded double (the build forbids fused
// multiply-add), and trunc goes toward zero: which stored pixel a position
// lands on depends on both.
#pragma once

#include <cstdint>

// The turn of one chart, and the upright image it gives.
struct SkewGeometry {
    double angle = 0;      // radians
    double sin = 0;        // of angle
    double cos = 0;
    int32_t min_x = 0;     // smallest rotated corner coordinates
    int32_t min_y = 0;
    int32_t width = 0;     // the upright image
    int32_t height = 0;
};

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

// Supplies stored row `row` (a stored row wide), null when the row cannot
// be had.
using SourceRowProvider = uint8_t *(*)(int32_t row, void *context);

constexpr int32_t kSkewTurned = 0;      // the chart is served upright
constexpr int32_t kSkewNoAngle = 1;     // no usable angle: served as stored
constexpr int32_t kSkewTooLarge = -1;   // the upright image cannot be described

// The turn of a stored image of `width` x `height` pixels by `degrees`:
// the angle, and the upright image's bounds and size. kSkewTurned,
// kSkewNoAngle (the sine or cosine is not finite), or kSkewTooLarge (a
// coordinate or the size does not fit 32 bits).
int32_t skew_setup(SkewGeometry *geometry, int32_t width, int32_t height, double degrees);

// Fills output row `row` (geometry.width pixels) by sampling stored rows
// of a `stored_width` x `stored_height` image from `provider`, which is
// asked again only when the stored row changes along the output row: 0,
// or -1 when the provider has no row.
int32_t skew_getrow(const SkewGeometry &geometry, int32_t stored_width, int32_t stored_height, int32_t row,
                    uint8_t *buffer, SourceRowProvider provider, void *context);

// The part [*begin, *end) of upright row `row` whose pixels show the
// stored image of `stored_width` x `stored_height` pixels (elsewhere the
// row is the zero fill): along a row the stored coordinates only grow or
// only shrink, so the part is one stretch, found with the products and
// truncations that serve the row.
void skew_row_span(const SkewGeometry &geometry, int32_t stored_width, int32_t stored_height, int32_t row,
                   int32_t *begin, int32_t *end);

// The continuous form of the turn, for positions that are not whole
// pixels: a stored position to the upright image (F, without the
// truncation, less the smallest corner) and back (G from the upright
// position and the corner, without the truncation). The same products as
// the truncated forms.
void skew_stored_to_upright(const SkewGeometry &geometry, double x, double y, double *u, double *v);
void skew_upright_to_stored(const SkewGeometry &geometry, double u, double v, double *x, double *y);

// Moves reference pixel positions (row 0: x, row 1: y of `points`, columns
// 0 .. count-1) into the upright output image.
void skew_ref_points(double **points, int32_t count, const SkewGeometry &geometry);
