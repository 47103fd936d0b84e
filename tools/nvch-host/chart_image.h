// Writing a chart's delivered image as a GIS takes it: in the colours of
// the palette asked for, and with the pixels that show nothing (outside a
// skewed chart's stored image, and with --clip outside its outline) marked
// so: transparent in a PNG, no-data in a GeoTIFF. Rows are read and
// written one at a time: nothing holds the whole image.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "chart_session.h"
#include "cog_writer.h"
#include "commands.h"
#include "pixel_mask.h"

// The value hidden pixels take: no chart's palette reaches it (a pixel
// value has seven bits at most).
constexpr uint8_t kHidden = 255;

struct ImagePlan {
    std::vector<Colour> colours;
    std::unique_ptr<PixelMask> mask;   // null: every pixel shows
    std::optional<uint8_t> hidden() const {
        return mask && mask->any_hidden() ? std::optional<uint8_t>(kHidden) : std::nullopt;
    }
};

// The plan for an open chart: the palette the options name (the chart's
// own by default), and the pixels to hide. False, after one line on
// standard error, when the palette is not the chart's.
bool plan_image(const NvchExports &nvch, ChartSession &session, const Options &options, const std::string &chart,
                ImagePlan *plan);

// Writes every row as a paletted PNG at `path`: true, or false with the
// reason in `problem`.
bool write_png_image(ChartSession &session, const ImagePlan &plan, const std::string &path,
                     const std::vector<std::pair<std::string, std::string>> &texts, bool show_rows,
                     std::string *problem);

// Writes every row as a Cloud Optimized GeoTIFF at `path`, placed by
// `image`'s keys.
bool write_cog_image(ChartSession &session, const ImagePlan &plan, CogImage image, const CogOptions &options,
                     const std::string &path, bool show_rows, std::string *problem);
