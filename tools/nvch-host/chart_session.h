// One chart opened through the exports, with its layer, closed again in
// the order a host must: the layer, then the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exports.h"

struct MapInfo {
    double upper_left_x = 0, upper_left_y = 0, pixel_width = 0, pixel_height = 0;
    std::string units;
};

struct Colour {
    int red, green, blue;
};

class ChartSession {
public:
    ChartSession(const NvchExports &nvch, ChartFile *file) : nvch_(nvch), file_(file) {}
    ~ChartSession();
    ChartSession(const ChartSession &) = delete;
    ChartSession &operator=(const ChartSession &) = delete;

    const ChartFile *file() const { return file_; }
    const NvchExports &exports() const { return nvch_; }
    std::vector<std::string> layer_names();
    bool open_layer(const std::string &name);
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t block_width() const { return block_width_; }
    int32_t block_height() const { return block_height_; }

    bool read_row(uint32_t row, uint8_t *pixels);
    std::optional<MapInfo> map_info();
    // The colour table as 0-255 components, from the three component reads.
    std::vector<Colour> colours(int32_t *mod_time);
    // The well-known text of the coordinate-system block, if any.
    std::optional<std::string> coordinate_system();

private:
    const NvchExports &nvch_;
    ChartFile *file_;
    LayerHandle *layer_ = nullptr;
    int32_t width_ = 0, height_ = 0, block_width_ = 0, block_height_ = 0;
};
