// Writes an 8-bit paletted image as a Cloud Optimized GeoTIFF: tiled,
// compressed losslessly, with internal overviews made by nearest neighbour
// (palette indices stay palette indices), its directories first and its
// tiles after them, the smallest overview's first and the full image's
// last, so that a reader fetches what it shows with few requests.
//
// The image arrives row by row and is never held whole: each resolution
// keeps one band of tile rows, compressed as it fills, so that what is held
// besides the compressed tiles stays near two bands of the full width
// (smaller tiles for the widest images keep that under 64 MB).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "chart_session.h"

enum class Compression { deflate, zstd, lzw };

// Text of a compression's name ("deflate", "zstd", "lzw"); false when the
// name is none of them or this build cannot write it.
bool compression_named(const std::string &name, Compression *compression);
const char *compression_name(Compression compression);

// The georeferencing written beside the pixels: the GeoTIFF keys (key,
// value) for SHORT values, (key, double) and (key, text) for the others,
// and the pixel scale and tie point.
struct GeoKeys {
    std::vector<std::pair<uint16_t, uint16_t>> shorts;
    std::vector<std::pair<uint16_t, double>> doubles;
    std::vector<std::pair<uint16_t, std::string>> texts;
    double scale_x = 1, scale_y = 1;         // map units per pixel, both positive
    double origin_x = 0, origin_y = 0;       // map position of the upper-left pixel's corner
};

// What goes beside the pixels.
struct CogImage {
    int32_t width = 0, height = 0;
    std::vector<Colour> palette;
    GeoKeys geo;
    std::string document_name;               // the chart's name
    std::string description;                 // the coordinate system's well-known text
    std::optional<uint8_t> no_data;          // pixels of this value show nothing
};

struct CogOptions {
    Compression compression = Compression::deflate;
    int threads = 1;                         // tiles are compressed on this many threads
};

// The tile size for an image `width` pixels wide: 512, or 256 and 128 for
// the widest, so that two bands of tile rows stay under 64 MB.
int32_t cog_tile_size(int32_t width);

class CogWriter {
public:
    CogWriter(const CogImage &image, const CogOptions &options);
    ~CogWriter();
    CogWriter(const CogWriter &) = delete;
    CogWriter &operator=(const CogWriter &) = delete;

    // The next row of the full image (its width in bytes): false when its
    // tiles cannot be compressed.
    bool add_row(const uint8_t *row);

    // Writes the file once every row has come: true, or false with the
    // reason in `error`.
    bool finish(const std::string &path, std::string *error);

private:
    struct Level;
    bool add_to(size_t level, const uint8_t *row);
    bool flush(Level &level);
    static bool write_tiles(struct tiff *tif, Level &level);

    CogImage image_;
    CogOptions options_;
    int32_t tile_;
    std::vector<Level *> levels_;
};
