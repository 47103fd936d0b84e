#include "raster/skew.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/angles.h"
#include "platform/heap.h"

namespace {

// Toward zero, saturated; NaN reads as 0.
int32_t truncate_to_int32(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Stored position into the rotated plane.
SkewPoint forward(int64_t x, int64_t y, double angle) {
    return skew_rotate_wide(x, y, std::sin(-angle), std::cos(-angle));
}

}  // namespace

int32_t skew_getrow(uint8_t *buffer, int32_t row, ChartFile *chart, SourceRowProvider provider) {
    ChartReader *r = chart->reader;
    int32_t last = -1;
    const uint8_t *current = nullptr;
    const int64_t b = static_cast<int64_t>(r->skew_min_y) + row;
    for (int32_t i = 0; i < chart->width; ++i) {
        const SkewPoint p = skew_rotate_wide(static_cast<int64_t>(r->skew_min_x) + i, b, r->skew_sin, r->skew_cos);
        if (p.y < 0 || p.y >= r->source_height || p.x < 0 || p.x >= r->source_width) {
            buffer[i] = 0;
            continue;
        }
        if (p.y != last) {
            current = provider(static_cast<int32_t>(p.y), r->source_row, chart);
            if (current == nullptr) return -1;
            last = static_cast<int32_t>(p.y);
        }
        buffer[i] = current[p.x];
    }
    return 0;
}

int32_t skew_bounds(ChartFile *chart) {
    ChartReader *r = chart->reader;
    const int64_t w = r->source_width;
    const int64_t h = r->source_height;
    int64_t min_x = 0, max_x = 0, min_y = 0, max_y = 0;   // corner (0, 0) maps to itself
    const SkewPoint corners[3] = {forward(w, 0, r->skew_angle), forward(w, h, r->skew_angle),
                                  forward(0, h, r->skew_angle)};
    for (const SkewPoint &p : corners) {
        min_x = p.x < min_x ? p.x : min_x;
        max_x = p.x > max_x ? p.x : max_x;
        min_y = p.y < min_y ? p.y : min_y;
        max_y = p.y > max_y ? p.y : max_y;
    }
    if (min_x < INT32_MIN || min_y < INT32_MIN || max_x - min_x > INT32_MAX || max_y - min_y > INT32_MAX)
        return -1;
    chart->width = static_cast<int32_t>(max_x - min_x);
    chart->height = static_cast<int32_t>(max_y - min_y);
    r->skew_min_x = static_cast<int32_t>(min_x);
    r->skew_min_y = static_cast<int32_t>(min_y);
    return 0;
}

int32_t skew_setup(ChartFile *chart, double degrees) {
    ChartReader *r = chart->reader;
    const double angle = degrees * kDegreesToRadians;
    const double s = std::sin(angle);
    const double c = std::cos(angle);
    if (!std::isfinite(s) || !std::isfinite(c)) return 0;   // no usable angle: served as stored
    r->skew_angle = angle;
    r->skew_sin = s;
    r->skew_cos = c;
    r->mode = RowMode::skewed_untried;
    r->source_width = chart->width;
    r->source_height = chart->height;
    if (skew_bounds(chart) != 0) {
        std::fputs("Skewed chart too large to rotate\n", stderr);
        return -1;
    }
    // Zero-filled: direct decoding clears only what earlier rows wrote. The
    // room behind takes the whole stores of tile decoding.
    r->source_row = static_cast<uint8_t *>(lib_calloc(static_cast<std::size_t>(r->source_width) + 16, 1));
    if (r->source_row == nullptr) {
        std::fputs("failed to get space for skew row\n", stderr);
        return -1;
    }
    return 0;
}

void skew_ref_points(double **points, int32_t count, const ChartReader *reader) {
    const double angle = reader->skew_angle;
    for (int32_t i = 0; i < count; ++i) {
        // The reference pixel is first cut to whole pixels, toward zero.
        const SkewPoint p = forward(truncate_to_int32(points[0][i]), truncate_to_int32(points[1][i]), angle);
        points[0][i] = static_cast<double>(p.x - reader->skew_min_x);
        points[1][i] = static_cast<double>(p.y - reader->skew_min_y);
    }
}
