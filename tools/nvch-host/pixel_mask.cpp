#include "pixel_mask.h"

#include <algorithm>
#include <cmath>

PixelMask::PixelMask(const NvchExports &nvch, const ChartFile *file, int32_t width, int32_t height,
                     std::vector<PixelPoint> outline)
    : width_(width), height_(height), outline_(std::move(outline)) {
    extents_.resize(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        int32_t begin = 0, end = width;
        if (nvch.get_row_extent(file, y, &begin, &end) != 0) begin = 0, end = width;
        extents_[static_cast<size_t>(y)] = {begin, end};
        if (begin > 0 || end < width) any_hidden_ = true;
    }
    if (!outline_.empty()) any_hidden_ = true;
}

void PixelMask::outline_spans(int32_t y, std::vector<std::pair<int32_t, int32_t>> &spans) const {
    // Where the line through the row's pixel centres crosses the outline's
    // edges; between the first and second crossing, third and fourth, ...
    // it is inside (even-odd). Pixel x is inside when x + 0.5 is.
    const double centre = y + 0.5;
    std::vector<double> crossings;
    for (size_t k = 0; k < outline_.size(); ++k) {
        const PixelPoint &a = outline_[k], &b = outline_[(k + 1) % outline_.size()];
        if ((a.y <= centre) == (b.y <= centre)) continue;
        crossings.push_back(a.x + (centre - a.y) * (b.x - a.x) / (b.y - a.y));
    }
    std::sort(crossings.begin(), crossings.end());
    spans.clear();
    for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
        const double from = std::ceil(crossings[k] - 0.5), to = std::ceil(crossings[k + 1] - 0.5);
        const auto begin = static_cast<int32_t>(std::clamp(from, 0.0, static_cast<double>(width_)));
        const auto end = static_cast<int32_t>(std::clamp(to, 0.0, static_cast<double>(width_)));
        if (begin < end) spans.push_back({begin, end});
    }
}

void PixelMask::apply(int32_t y, uint8_t *row, uint8_t value) const {
    const auto [begin, end] = extents_[static_cast<size_t>(y)];
    std::fill(row, row + begin, value);
    std::fill(row + end, row + width_, value);
    if (outline_.empty()) return;
    std::vector<std::pair<int32_t, int32_t>> spans;
    outline_spans(y, spans);
    int32_t shown_to = 0;
    for (const auto &[from, to] : spans) {
        std::fill(row + shown_to, row + std::max(shown_to, from), value);
        shown_to = std::max(shown_to, to);
    }
    std::fill(row + shown_to, row + width_, value);
}

int64_t PixelMask::shown() const {
    int64_t count = 0;
    std::vector<uint8_t> row(static_cast<size_t>(width_));
    for (int32_t y = 0; y < height_; ++y) {
        std::fill(row.begin(), row.end(), 1);
        apply(y, row.data(), 0);
        count += std::count(row.begin(), row.end(), 1);
    }
    return count;
}
