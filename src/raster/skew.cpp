#include "raster/skew.h"

#include <algorithm>
#include <cmath>

#include "common/angles.h"

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

// The rotated bounding box of a `width` x `height` stored image: false when
// a coordinate or the size does not fit 32 bits.
bool bounds(SkewGeometry &g, int64_t w, int64_t h) {
    int64_t min_x = 0, max_x = 0, min_y = 0, max_y = 0;   // corner (0, 0) maps to itself
    const SkewPoint corners[3] = {forward(w, 0, g.angle), forward(w, h, g.angle), forward(0, h, g.angle)};
    for (const SkewPoint &p : corners) {
        min_x = p.x < min_x ? p.x : min_x;
        max_x = p.x > max_x ? p.x : max_x;
        min_y = p.y < min_y ? p.y : min_y;
        max_y = p.y > max_y ? p.y : max_y;
    }
    if (min_x < INT32_MIN || min_y < INT32_MIN || max_x - min_x > INT32_MAX || max_y - min_y > INT32_MAX)
        return false;
    g.width = static_cast<int32_t>(max_x - min_x);
    g.height = static_cast<int32_t>(max_y - min_y);
    g.min_x = static_cast<int32_t>(min_x);
    g.min_y = static_cast<int32_t>(min_y);
    return true;
}

}  // namespace

int32_t skew_setup(SkewGeometry *geometry, int32_t width, int32_t height, double degrees) {
    SkewGeometry g;
    g.angle = degrees * kDegreesToRadians;
    g.sin = std::sin(g.angle);
    g.cos = std::cos(g.angle);
    if (!std::isfinite(g.sin) || !std::isfinite(g.cos)) return kSkewNoAngle;
    if (!bounds(g, width, height)) return kSkewTooLarge;
    *geometry = g;
    return kSkewTurned;
}

int32_t skew_getrow(const SkewGeometry &g, int32_t stored_width, int32_t stored_height, int32_t row,
                    uint8_t *buffer, SourceRowProvider provider, void *context) {
    int32_t last = -1;
    const uint8_t *current = nullptr;
    const int64_t b = static_cast<int64_t>(g.min_y) + row;
    for (int32_t i = 0; i < g.width; ++i) {
        const SkewPoint p = skew_rotate_wide(static_cast<int64_t>(g.min_x) + i, b, g.sin, g.cos);
        if (p.y < 0 || p.y >= stored_height || p.x < 0 || p.x >= stored_width) {
            buffer[i] = 0;
            continue;
        }
        if (p.y != last) {
            current = provider(static_cast<int32_t>(p.y), context);
            if (current == nullptr) return -1;
            last = static_cast<int32_t>(p.y);
        }
        buffer[i] = current[p.x];
    }
    return 0;
}

void skew_ref_points(double **points, int32_t count, const SkewGeometry &g) {
    for (int32_t i = 0; i < count; ++i) {
        // The reference pixel is first cut to whole pixels, toward zero.
        const SkewPoint p = forward(truncate_to_int32(points[0][i]), truncate_to_int32(points[1][i]), g.angle);
        points[0][i] = static_cast<double>(p.x - g.min_x);
        points[1][i] = static_cast<double>(p.y - g.min_y);
    }
}

void skew_stored_to_upright(const SkewGeometry &g, double x, double y, double *u, double *v) {
    const double s = std::sin(-g.angle), c = std::cos(-g.angle);   // as forward() turns stored positions
    *u = (x * c - y * s) - g.min_x;
    *v = (y * c + x * s) - g.min_y;
}

void skew_upright_to_stored(const SkewGeometry &g, double u, double v, double *x, double *y) {
    const double a = u + g.min_x, b = v + g.min_y;
    *x = a * g.cos - b * g.sin;
    *y = b * g.cos + a * g.sin;
}

void skew_row_span(const SkewGeometry &g, int32_t stored_width, int32_t stored_height, int32_t row, int32_t *begin,
                   int32_t *end) {
    const int64_t b = static_cast<int64_t>(g.min_y) + row;
    const auto stored = [&](int32_t i) { return skew_rotate_wide(static_cast<int64_t>(g.min_x) + i, b, g.sin, g.cos); };
    int32_t from = 0, to = g.width;
    // Narrows [from, to) to where `holds` is true. It changes at most once
    // along the row, so its two ends tell which side is true and halving
    // finds the change.
    const auto narrow = [&](auto holds) {
        const bool first = holds(stored(0)), last = holds(stored(g.width - 1));
        if (first && last) return;
        if (!first && !last) {
            from = to = 0;
            return;
        }
        int32_t lo = 0, hi = g.width - 1;   // holds at lo as at 0, at hi as at the end
        while (hi - lo > 1) {
            const int32_t mid = lo + (hi - lo) / 2;
            (holds(stored(mid)) == first ? lo : hi) = mid;
        }
        if (first)
            to = std::min(to, hi);
        else
            from = std::max(from, hi);
    };
    if (g.width > 0) {
        narrow([](SkewPoint p) { return p.x >= 0; });
        narrow([&](SkewPoint p) { return p.x < stored_width; });
        narrow([](SkewPoint p) { return p.y >= 0; });
        narrow([&](SkewPoint p) { return p.y < stored_height; });
    } else {
        to = 0;
    }
    *begin = from;
    *end = to < from ? from : to;
}
