// The tiled image's life (its tiles, stored-row index and column products,
// sized to the file) and the upright rows it makes, eight at a time.
#include "raster/tiled.h"

#include <algorithm>
#include <cmath>
#include <immintrin.h>

#include "platform/heap.h"
#include "raster/fill.h"
#include "raster/tiled_kernels.h"

namespace {

// What a tiled image holds at most, whatever size the chart claims: tiles
// up to 5 MB, a tile map of 2 MB, and the columns' products (3 MB for the
// widest rows); its bands of stored rows hold the file's bytes and up to
// three times as many in checkpoints when all are built.
constexpr int64_t kTileBudget = INT64_C(5) << 20;
constexpr int64_t kLargestMap = INT64_C(1) << 19;   // entries

// Tile shapes, as shifts, largest first: 256 x 32 decodes a tile row in
// one long stretch of a stored row and keeps the band an upright row
// crosses narrow; smaller tiles make a narrower band where the budget, or
// the memory to be had, is short.
struct TileShape {
    int32_t w_shift;
    int32_t h_shift;
};
constexpr TileShape kShapes[] = {{8, 5}, {7, 5}, {7, 4}, {6, 4}, {6, 3}, {5, 3}, {4, 3}};

// The part of a row whose stored positions fall inside the stored image.
struct Span {
    int32_t begin;
    int32_t end;
};

Span inside_span(const TiledImage &image, int32_t row) {
    Span span{};
    skew_row_span(*image.geometry, image.rows.image->width, image.rows.image->height, row, &span.begin, &span.end);
    return span;
}

// The tiles an upright row crosses (a row `length` pixels long runs along
// (cos, sin) in the stored image), and a quarter more for the rows coming.
// With fewer, tiles are given up before the next row needs them again.
int64_t tiles_wanted(int32_t length, const SkewGeometry &g, TileShape shape) {
    const double per_pixel = std::fabs(g.cos) / static_cast<double>(1 << shape.w_shift) +
                             std::fabs(g.sin) / static_cast<double>(1 << shape.h_shift);
    const int64_t band = static_cast<int64_t>(std::ceil(length * per_pixel)) + 2;
    return band + band / 4 + 16;
}

struct TileChoice {
    TileShape shape;
    int64_t capacity;
};

// The tile caches to try, best first: each shape grown where its tile map
// would be too large; those whose band fits the budget, in order; then the
// shape whose band is smallest, with as many tiles as the budget holds,
// fewer and fewer (slower, as tiles are given up before the next row is
// done with them, but never wrong and never larger).
int32_t choices(const StoredImage &file, const SkewGeometry &g, const TiledOptions &options, TileChoice *out) {
    const int64_t budget = options.memory > 0 ? std::min(kTileBudget, options.memory) : kTileBudget;
    int32_t n = 0;
    if (options.tile_w_shift > 0) {
        const TileShape shape{options.tile_w_shift, options.tile_h_shift};
        out[n++] = {shape, options.capacity > 0 ? options.capacity : tiles_wanted(g.width, g, shape)};
        return n;
    }
    TileShape smallest{};
    int64_t smallest_bytes = INT64_MAX;
    for (TileShape shape : kShapes) {
        tile_shape_for(file.width, file.height, kLargestMap, &shape.w_shift, &shape.h_shift);
        const int64_t wanted = tiles_wanted(g.width, g, shape);
        const int64_t bytes = wanted << (shape.w_shift + shape.h_shift);
        if (bytes <= budget) out[n++] = {shape, options.capacity > 0 ? options.capacity : wanted};
        if (bytes < smallest_bytes) {
            smallest_bytes = bytes;
            smallest = shape;
        }
    }
    for (int64_t capacity = std::max<int64_t>(1, budget >> (smallest.w_shift + smallest.h_shift)); capacity >= 1;
         capacity /= 4)
        out[n++] = {smallest, capacity};
    return n;
}

// The tile cache of the first choice whose memory can be had.
int32_t make_tiles(TileCache *tiles, const StoredImage &file, const SkewGeometry &g, const TiledOptions &options,
                   int32_t *w_shift) {
    TileChoice tried[64];
    const int32_t n = choices(file, g, options, tried);
    for (int32_t k = 0; k < n; ++k) {
        const TileChoice &c = tried[k];
        if (tile_cache_make(tiles, file.width, file.height, c.shape.w_shift, c.shape.h_shift,
                            static_cast<int32_t>(std::min<int64_t>(c.capacity, INT32_MAX))) == 0) {
            *w_shift = c.shape.w_shift;
            return 0;
        }
    }
    return -1;
}

RowFrame frame_of(const TiledImage &image, int32_t row) {
    const SkewGeometry &g = *image.geometry;
    const double b = static_cast<double>(static_cast<int64_t>(g.min_y) + row);
    return {image.column_cos, image.column_sin, b * g.sin, b * g.cos};
}

void make_row(TiledImage &image, int32_t row, uint8_t *out) {
    const int32_t width = image.geometry->width;
    const RowFrame frame = frame_of(image, row);
    const Span span = inside_span(image, row);
    fill_exact(out, 0, static_cast<std::size_t>(span.begin));
    fill_exact(out + span.end, 0, static_cast<std::size_t>(width - span.end));
    sample(image, frame, span.begin, span.end, out);
}

// Eight rows in blocks where all eight are inside the stored image, the
// ragged ends row by row.
void make_strip(TiledImage &image, int32_t first) {
    const int32_t width = image.geometry->width;
    RowFrame frames[kStripRows];
    Span spans[kStripRows];
    Span common{0, width};
    for (int32_t r = 0; r < kStripRows; ++r) {
        frames[r] = frame_of(image, first + r);
        spans[r] = inside_span(image, first + r);
        common = {std::max(common.begin, spans[r].begin), std::min(common.end, spans[r].end)};
    }
    const int32_t blocks_end = common.end - common.begin >= 8 ? common.begin + ((common.end - common.begin) & ~7) : common.begin;
    for (int32_t r = 0; r < kStripRows; ++r) {
        uint8_t *out = image.strip + static_cast<std::size_t>(r) * width;
        fill_exact(out, 0, static_cast<std::size_t>(spans[r].begin));
        fill_exact(out + spans[r].end, 0, static_cast<std::size_t>(width - spans[r].end));
        if (blocks_end == common.begin) {
            sample(image, frames[r], spans[r].begin, spans[r].end, out);
            continue;
        }
        sample(image, frames[r], spans[r].begin, common.begin, out);
        sample(image, frames[r], blocks_end, spans[r].end, out);
    }
    if (blocks_end > common.begin) sample_blocks(image, frames, common.begin, blocks_end, image.strip, width);
}

// A strip of rows made while their tiles are in the processor's caches: a
// host that reads a quilt of charts a row of each in turn would otherwise
// find each chart's tiles pushed out by the others' at every row.
__attribute__((target("avx512f,avx512bw"))) void copy_row_wide(uint8_t *out, const uint8_t *from, int32_t width) {
    int32_t i = 0;
    for (; i + 64 <= width; i += 64) _mm512_storeu_si512(out + i, _mm512_loadu_si512(from + i));
    const __mmask64 rest = (UINT64_C(1) << (width - i)) - 1;   // fewer than 64 left
    _mm512_mask_storeu_epi8(out + i, rest, _mm512_maskz_loadu_epi8(rest, from + i));
}

void copy_row(const TiledImage &image, uint8_t *out, const uint8_t *from, int32_t width) {
    if (image.kernel == SkewKernel::vbmi_blocks) {
        copy_row_wide(out, from, width);
        return;
    }
    int32_t i = 0;
    for (; i + 16 <= width; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i)));
    for (; i < width; ++i) out[i] = from[i];
}

// After a row or strip: when a band could not be had, the tiles it left
// as zeros are given up, and so is the strip; -1. Else 0.
int32_t given_up_if_failed(TiledImage &image) {
    if (!image.rows.failed) return 0;
    image.rows.failed = false;
    tile_cache_clear(image.tiles);
    image.strip_first = -1;
    return -1;
}

}  // namespace

TiledImage *tiled_image_make(const StoredImage &file, const SkewGeometry &geometry, const TiledOptions &options) {
    const SkewKernel kernel = options.kernel.value_or(skew_kernel_best());
    if (!skew_kernel_runs(kernel)) return nullptr;   // asked for one this processor lacks
    auto *img = static_cast<TiledImage *>(lib_calloc(1, sizeof(TiledImage)));
    if (img == nullptr) return nullptr;
    *img = TiledImage{};
    img->geometry = &geometry;
    img->kernel = kernel;
    const int32_t width = geometry.width;
    img->column_cos = static_cast<double *>(lib_malloc(sizeof(double) * static_cast<std::size_t>(std::max(width, 1))));
    img->column_sin = static_cast<double *>(lib_malloc(sizeof(double) * static_cast<std::size_t>(std::max(width, 1))));
    int32_t w_shift = 0;
    if (img->column_cos == nullptr || img->column_sin == nullptr ||
        make_tiles(&img->tiles, file, geometry, options, &w_shift) != 0) {
        tiled_image_free(img);
        return nullptr;
    }
    // Checkpoints where tile rows start; closer ones would be no use, a
    // tile row is decoded from its start.
    const int32_t checkpoint_shift = std::max(w_shift, options.checkpoint_shift);
    if (stored_rows_make(&img->rows, file, checkpoint_shift) != 0) {
        tiled_image_free(img);
        return nullptr;
    }
    if (!options.no_strip)
        img->strip = static_cast<uint8_t *>(lib_malloc(static_cast<std::size_t>(std::max(width, 1)) * kStripRows));
    for (int32_t i = 0; i < width; ++i) {
        const double a = static_cast<double>(static_cast<int64_t>(geometry.min_x) + i);
        img->column_cos[i] = a * geometry.cos;
        img->column_sin[i] = a * geometry.sin;
    }
    return img;
}

void tiled_image_free(TiledImage *image) {
    if (image == nullptr) return;
    stored_rows_free(&image->rows);
    tile_cache_free(&image->tiles);
    lib_free(image->column_cos);
    lib_free(image->column_sin);
    lib_free(image->strip);
    lib_free(image);
}

int64_t tiled_image_bytes(const TiledImage &image) {
    const int64_t width = image.geometry->width;
    return static_cast<int64_t>(sizeof(TiledImage)) + stored_rows_bytes(image.rows) + tile_cache_bytes(image.tiles) +
           2 * static_cast<int64_t>(sizeof(double)) * width + (image.strip != nullptr ? kStripRows * width : 0);
}

int32_t tiled_image_row(TiledImage &image, int32_t row, uint8_t *out) {
    const int32_t width = image.geometry->width;
    if (image.strip == nullptr) {
        make_row(image, row, out);
        return given_up_if_failed(image);
    }
    const int32_t first = row - row % kStripRows;
    if (image.strip_first != first) {
        const int32_t count = std::min(kStripRows, image.geometry->height - first);
        if (count == kStripRows && blocks_fit(image))
            make_strip(image, first);
        else
            for (int32_t k = 0; k < count; ++k)
                make_row(image, first + k, image.strip + static_cast<std::size_t>(k) * width);
        image.strip_first = first;
        if (given_up_if_failed(image) != 0) return -1;
    }
    copy_row(image, out, image.strip + static_cast<std::size_t>(row - first) * width, width);
    return 0;
}

int32_t tiled_image_stored_row(TiledImage &image, int32_t row, uint8_t *out) {
    return stored_rows_decode(image.rows, row, 0, image.rows.image->width, out) ? 0 : -1;
}
