// The pixels of a delivered image that show the chart, and those that show
// nothing: the corners a skewed chart gains when it is turned upright
// (outside its stored image), and with --clip everything outside its
// outline. A pixel is inside the outline when its centre is.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "exports.h"

struct PixelPoint {
    double x, y;
};

class PixelMask {
public:
    // The mask of an open chart whose delivered image is `width` x
    // `height`, clipped to `outline` (pixel positions of the delivered
    // image) when it has points.
    PixelMask(const NvchExports &nvch, const ChartFile *file, int32_t width, int32_t height,
              std::vector<PixelPoint> outline);

    // Whether some pixel shows nothing.
    bool any_hidden() const { return any_hidden_; }

    // Sets the pixels of row `y` that show nothing to `value`.
    void apply(int32_t y, uint8_t *row, uint8_t value) const;

    // Pixels that show the chart, in all.
    int64_t shown() const;

private:
    // The stretches [begin, end) of row y inside the outline.
    void outline_spans(int32_t y, std::vector<std::pair<int32_t, int32_t>> &spans) const;

    int32_t width_, height_;
    std::vector<std::pair<int32_t, int32_t>> extents_;   // per row: what shows the stored image
    std::vector<PixelPoint> outline_;
    bool any_hidden_ = false;
};
