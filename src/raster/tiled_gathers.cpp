// Row kernels: the pixels of one upright row read from the tiles a few at
// a time. Each computes the stored coordinates of a group of pixels in one
// go. Along a row the stored coordinates only grow or only shrink, so when
// the group's first and last pixels lie in one tile, all do (most groups,
// and mostly the tile of the group before): that tile's entry serves them
// all. Otherwise each pixel's entry is gathered from the map, and a group
// that meets a tile not at hand is done one pixel at a time, which decodes
// the tile.
#include <immintrin.h>

#include "raster/tiled_kernels.h"

namespace {

// Four pixels at a time: the coordinates in SSE2, the reads one by one.
int32_t sample_sse2(TiledImage &img, const RowFrame &f, int32_t from, int32_t to, uint8_t *out) {
    TileCache &t = img.tiles;
    const __m128d bs = _mm_set1_pd(f.bs), bc = _mm_set1_pd(f.bc);
    alignas(16) int32_t xs[4], ys[4];
    int32_t held_tile = -1, held_entry = 0;
    int32_t i = from;
    for (; i + 4 <= to; i += 4) {
        const __m128i x01 = _mm_cvttpd_epi32(_mm_sub_pd(_mm_loadu_pd(f.column_cos + i), bs));
        const __m128i x23 = _mm_cvttpd_epi32(_mm_sub_pd(_mm_loadu_pd(f.column_cos + i + 2), bs));
        const __m128i y01 = _mm_cvttpd_epi32(_mm_add_pd(bc, _mm_loadu_pd(f.column_sin + i)));
        const __m128i y23 = _mm_cvttpd_epi32(_mm_add_pd(bc, _mm_loadu_pd(f.column_sin + i + 2)));
        _mm_store_si128(reinterpret_cast<__m128i *>(xs), _mm_unpacklo_epi64(x01, x23));
        _mm_store_si128(reinterpret_cast<__m128i *>(ys), _mm_unpacklo_epi64(y01, y23));
        for (int k = 0; k < 4; ++k) {
            const int32_t entry = entry_of(t, img.rows, tile_cache_index(t, xs[k], ys[k]), held_tile, held_entry);
            out[i + k] = t.arena[entry + (ys[k] << t.tile_w_shift) + xs[k]];
        }
    }
    return i;
}

// Eight pixels a gather.
struct Avx2Lanes {
    static constexpr int32_t kLanes = 8;
    using Ints = __m256i;
    struct Group {
        __m256i x, y;
        int32_t first_x, first_y, last_x, last_y;
    };
    __m256d bs, bc;
    __m128i w_shift, h_shift, map_shift;

    __attribute__((target("avx2"), always_inline)) Avx2Lanes(const RowFrame &f, const TileCache &t)
        : bs(_mm256_set1_pd(f.bs)), bc(_mm256_set1_pd(f.bc)), w_shift(_mm_cvtsi32_si128(t.tile_w_shift)),
          h_shift(_mm_cvtsi32_si128(t.tile_h_shift)), map_shift(_mm_cvtsi32_si128(t.map_shift)) {}

    __attribute__((target("avx2"), always_inline)) Group coordinates(const RowFrame &f, int32_t i) const {
        const __m128i x0 = _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_loadu_pd(f.column_cos + i), bs));
        const __m128i x1 = _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_loadu_pd(f.column_cos + i + 4), bs));
        const __m128i y0 = _mm256_cvttpd_epi32(_mm256_add_pd(bc, _mm256_loadu_pd(f.column_sin + i)));
        const __m128i y1 = _mm256_cvttpd_epi32(_mm256_add_pd(bc, _mm256_loadu_pd(f.column_sin + i + 4)));
        return {_mm256_inserti128_si256(_mm256_castsi128_si256(x0), x1, 1),
                _mm256_inserti128_si256(_mm256_castsi128_si256(y0), y1, 1),
                _mm_cvtsi128_si32(x0), _mm_cvtsi128_si32(y0), _mm_extract_epi32(x1, 3), _mm_extract_epi32(y1, 3)};
    }
    __attribute__((target("avx2"), always_inline)) __m256i broadcast(int32_t entry) const {
        return _mm256_set1_epi32(entry);
    }
    __attribute__((target("avx2"), always_inline)) __m256i gather_entries(const int32_t *map, const Group &g) const {
        const __m256i tile =
            _mm256_add_epi32(_mm256_sll_epi32(_mm256_srl_epi32(g.y, h_shift), map_shift), _mm256_srl_epi32(g.x, w_shift));
        return _mm256_i32gather_epi32(map, tile, 4);
    }
    __attribute__((target("avx2"), always_inline)) bool any_absent(__m256i entry) const {
        return _mm256_movemask_epi8(_mm256_cmpeq_epi32(entry, _mm256_set1_epi32(kTileAbsent))) != 0;
    }
    __attribute__((target("avx2"), always_inline)) void store_pixels(uint8_t *out, const uint8_t *arena, __m256i entry,
                                                                     const Group &g) const {
        // Byte 0 of each 32-bit lane, to the front of each 128-bit half.
        const __m256i low_bytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0,
                                                   4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
        const __m256i place = _mm256_add_epi32(entry, _mm256_add_epi32(_mm256_sll_epi32(g.y, w_shift), g.x));
        const __m256i words = _mm256_i32gather_epi32(reinterpret_cast<const int *>(arena), place, 1);
        const __m256i pixels = _mm256_shuffle_epi8(words, low_bytes);
        const __m128i eight = _mm_unpacklo_epi32(_mm256_castsi256_si128(pixels), _mm256_extracti128_si256(pixels, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), eight);
    }
};

// Sixteen pixels a gather. GCC 12's own AVX-512 intrinsics used here
// start from undefined registers, which its uninitialised-value warning
// takes for reads of unset values; the warning is silenced for them alone.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
struct Avx512Lanes {
    static constexpr int32_t kLanes = 16;
    using Ints = __m512i;
    struct Group {
        __m512i x, y;
        int32_t first_x, first_y, last_x, last_y;
    };
    __m512d bs, bc;
    __m128i w_shift, h_shift, map_shift;

    __attribute__((target("avx512f"), always_inline)) Avx512Lanes(const RowFrame &f, const TileCache &t)
        : bs(_mm512_set1_pd(f.bs)), bc(_mm512_set1_pd(f.bc)), w_shift(_mm_cvtsi32_si128(t.tile_w_shift)),
          h_shift(_mm_cvtsi32_si128(t.tile_h_shift)), map_shift(_mm_cvtsi32_si128(t.map_shift)) {}

    __attribute__((target("avx512f"), always_inline)) Group coordinates(const RowFrame &f, int32_t i) const {
        const __m256i x0 = truncate_eight(_mm512_sub_pd(_mm512_loadu_pd(f.column_cos + i), bs));
        const __m256i x1 = truncate_eight(_mm512_sub_pd(_mm512_loadu_pd(f.column_cos + i + 8), bs));
        const __m256i y0 = truncate_eight(_mm512_add_pd(bc, _mm512_loadu_pd(f.column_sin + i)));
        const __m256i y1 = truncate_eight(_mm512_add_pd(bc, _mm512_loadu_pd(f.column_sin + i + 8)));
        const __m128i x_top = _mm256_extracti128_si256(x1, 1), y_top = _mm256_extracti128_si256(y1, 1);
        return {_mm512_inserti64x4(_mm512_castsi256_si512(x0), x1, 1),
                _mm512_inserti64x4(_mm512_castsi256_si512(y0), y1, 1),
                _mm_cvtsi128_si32(_mm256_castsi256_si128(x0)),
                _mm_cvtsi128_si32(_mm256_castsi256_si128(y0)),
                _mm_extract_epi32(x_top, 3),
                _mm_extract_epi32(y_top, 3)};
    }
    __attribute__((target("avx512f"), always_inline)) __m512i broadcast(int32_t entry) const {
        return _mm512_set1_epi32(entry);
    }
    __attribute__((target("avx512f"), always_inline)) __m512i gather_entries(const int32_t *map,
                                                                             const Group &g) const {
        const __m512i tile =
            _mm512_add_epi32(_mm512_sll_epi32(_mm512_srl_epi32(g.y, h_shift), map_shift), _mm512_srl_epi32(g.x, w_shift));
        return _mm512_i32gather_epi32(tile, map, 4);
    }
    __attribute__((target("avx512f"), always_inline)) bool any_absent(__m512i entry) const {
        return _mm512_cmpeq_epi32_mask(entry, _mm512_set1_epi32(kTileAbsent)) != 0;
    }
    __attribute__((target("avx512f"), always_inline)) void store_pixels(uint8_t *out, const uint8_t *arena,
                                                                        __m512i entry, const Group &g) const {
        const __m512i place = _mm512_add_epi32(entry, _mm512_add_epi32(_mm512_sll_epi32(g.y, w_shift), g.x));
        const __m512i pixels = _mm512_i32gather_epi32(place, arena, 1);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm512_cvtepi32_epi8(pixels));
    }
};
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The gathers, written once (raster/tiled_gather_body.h) and compiled for
// each width with its instruction set.
#define NVCH_GATHER_NAME sample_avx2
#define NVCH_GATHER_TARGET "avx2"
#define NVCH_GATHER_LANES Avx2Lanes
#include "raster/tiled_gather_body.h"

#define NVCH_GATHER_NAME sample_avx512
#define NVCH_GATHER_TARGET "avx512f"
#define NVCH_GATHER_LANES Avx512Lanes
#include "raster/tiled_gather_body.h"

}  // namespace

void sample(TiledImage &image, const RowFrame &frame, int32_t from, int32_t to, uint8_t *out) {
    // Each kernel leaves fewer pixels than its width; narrower ones finish
    // the row.
    int32_t i = from;
    switch (image.kernel) {
        case SkewKernel::vbmi_blocks:
        case SkewKernel::avx512_gathers:
            i = sample_avx512(image, frame, i, to, out);
            [[fallthrough]];
        case SkewKernel::avx2_blocks:
        case SkewKernel::avx2_gathers:
            i = sample_avx2(image, frame, i, to, out);
            [[fallthrough]];
        case SkewKernel::sse2:
            i = sample_sse2(image, frame, i, to, out);
            [[fallthrough]];
        case SkewKernel::scalar:
            sample_scalar(image, frame, i, to, out);
    }
}
