#include "tile_png.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include <png.h>

#include "png_writer.h"

namespace {

extern "C" void append_bytes(png_structp png, png_bytep data, size_t size) {
    auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}
extern "C" void no_flush(png_structp) {}

struct Encoding {
    int colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    std::vector<png_color> palette;
    std::vector<png_byte> alpha;      // tRNS of the palette
    std::vector<uint8_t> pixels;      // rows of the chosen type, back to back
    int bytes_per_pixel = 4;
};

// The palette of the tile's colours, or false when it has more than 256.
bool paletted(const uint8_t *rgba, size_t count, Encoding *e) {
    std::unordered_map<uint32_t, uint8_t> index;
    e->pixels.resize(count);
    uint32_t last = 0;
    uint8_t last_index = 0;
    bool have_last = false;
    for (size_t i = 0; i < count; ++i) {
        uint32_t c;
        std::memcpy(&c, rgba + 4 * i, 4);
        if (rgba[4 * i + 3] == 0) c = 0;   // every transparent pixel is one entry
        if (!have_last || c != last) {
            auto [it, added] = index.try_emplace(c, static_cast<uint8_t>(index.size()));
            if (added && index.size() > 256) return false;
            last = c;
            last_index = it->second;
            have_last = true;
        }
        e->pixels[i] = last_index;
    }
    e->palette.resize(index.size());
    e->alpha.assign(index.size(), 255);
    bool any_transparent = false;
    for (const auto &[c, k] : index) {
        uint8_t b[4];
        std::memcpy(b, &c, 4);
        e->palette[k] = {b[0], b[1], b[2]};
        if (b[3] == 0) {
            e->alpha[k] = 0;
            any_transparent = true;
        }
    }
    if (!any_transparent) e->alpha.clear();
    e->colour_type = PNG_COLOR_TYPE_PALETTE;
    e->bytes_per_pixel = 1;
    return true;
}

void direct(const uint8_t *rgba, size_t count, Encoding *e) {
    bool opaque = true;
    for (size_t i = 0; i < count && opaque; ++i) opaque = rgba[4 * i + 3] == 255;
    if (!opaque) {
        e->pixels.assign(rgba, rgba + 4 * count);
        return;
    }
    e->colour_type = PNG_COLOR_TYPE_RGB;
    e->bytes_per_pixel = 3;
    e->pixels.resize(3 * count);
    for (size_t i = 0; i < count; ++i) std::memcpy(&e->pixels[3 * i], rgba + 4 * i, 3);
}

// Runs the libpng calls; false when libpng ends them by long jump. No C++
// object lives in this frame.
bool write_png(png_structp png, png_infop info, const Encoding &e, int width, int height,
               std::vector<uint8_t> *out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, out, append_bytes, no_flush);
    // Charts are flat colours with sharp edges: unfiltered rows at a low
    // level compress as small as any filter at the default level, in
    // two thirds of the time.
    png_set_compression_level(png, 3);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, e.colour_type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (e.colour_type == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, e.palette.data(), static_cast<int>(e.palette.size()));
        if (!e.alpha.empty()) png_set_tRNS(png, info, e.alpha.data(), static_cast<int>(e.alpha.size()), nullptr);
    }
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, e.pixels.data() + static_cast<size_t>(y) * width * e.bytes_per_pixel);
    png_write_end(png, info);
    return true;
}

}  // namespace

std::vector<uint8_t> encode_tile_png(const uint8_t *rgba, int width, int height) {
    const size_t count = static_cast<size_t>(width) * height;
    Encoding e;
    if (!paletted(rgba, count, &e)) {
        e = Encoding{};
        direct(rgba, count, &e);
    }
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    const bool ok = info != nullptr && write_png(png, info, e, width, height, &out);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (!ok) out.clear();
    return out;
}
