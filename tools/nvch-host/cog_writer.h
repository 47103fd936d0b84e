// Writes an 8-bit paletted image as a Cloud Optimized GeoTIFF: tiled,
// compressed losslessly, with internal overviews made by nearest neighbour
// (palette indices stay palette indices), its directories first and its
// tiles after them, the smallest overview's first and the full image's
// last, so that a reader fetches what it shows with few requests.
#pragma once

#include <cstdint>
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

struct CogImage {
    int32_t width = 0, height = 0;
    const uint8_t *pixels = nullptr;         // width * height, rows top to bottom
    std::vector<Colour> palette;
    GeoKeys geo;
    std::string document_name;               // the chart's name
    std::string description;                 // the coordinate system's well-known text
};

struct CogOptions {
    Compression compression = Compression::deflate;
    int32_t tile = 512;
    int threads = 1;                         // tiles are compressed on this many threads
};

// Writes `image` to `path`: true, or false with the reason in `error`.
bool write_cog(const std::string &path, const CogImage &image, const CogOptions &options, std::string *error);
