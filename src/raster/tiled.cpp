#include "raster/tiled.h"

#include <algorithm>
#include <cmath>
#include <immintrin.h>

#include "platform/heap.h"
#include "raster/fill.h"

namespace {

// What an open chart may hold besides its file: checkpoints up to three
// times the file and 2 MB, tiles up to 5 MB, a tile map of 2 MB, and the
// columns' products (3 MB for the widest rows): about four times the file
// and 16 MB in all, the file included, whatever size the chart claims.
constexpr int64_t kCheckpointFloor = INT64_C(2) << 20;
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

enum Kernel { kScalar = 1, kSse2 = 2, kAvx2 = 3, kAvx512 = 4, kAvx512Blocks = 5, kAvx2Blocks = 6 };

// The kernel that makes single rows (and the ragged ends of strips).
int32_t row_kernel(int32_t kernel) {
    return kernel == kAvx512Blocks ? kAvx512 : kernel == kAvx2Blocks ? kAvx2 : kernel;
}

// Upright rows are made this many at a time (when the strip can be had).
constexpr int32_t kStripRows = 8;

// The part of a row whose stored positions fall inside the stored image.
struct Span {
    int32_t begin;
    int32_t end;
};

// One output row's constants: stored x of column i is trunc(column_cos[i]
// - bs), stored y is trunc(bc + column_sin[i]).
struct RowFrame {
    const double *column_cos;
    const double *column_sin;
    double bs;
    double bc;
    int32_t x(int32_t i) const { return static_cast<int32_t>(column_cos[i] - bs); }
    int32_t y(int32_t i) const { return static_cast<int32_t>(bc + column_sin[i]); }
};

// Narrows `span` to where `holds` is true. `holds` changes at most once
// along the row, so its two ends tell which side is true and a binary
// search finds the change.
template <typename Predicate>
void narrow(Span &span, int32_t width, Predicate holds) {
    const bool first = holds(0), last = holds(width - 1);
    if (first && last) return;
    if (!first && !last) {
        span = {0, 0};
        return;
    }
    int32_t lo = 0, hi = width - 1;   // holds(lo) == first, holds(hi) == last
    while (hi - lo > 1) {
        const int32_t mid = lo + (hi - lo) / 2;
        (holds(mid) == first ? lo : hi) = mid;
    }
    if (first)
        span.end = std::min(span.end, hi);
    else
        span.begin = std::max(span.begin, hi);
}

Span inside_span(const RowFrame &f, int32_t width, int32_t stored_width, int32_t stored_height) {
    if (width <= 0) return {0, 0};
    Span span{0, width};
    narrow(span, width, [&](int32_t i) { return f.x(i) >= 0; });
    narrow(span, width, [&](int32_t i) { return f.x(i) < stored_width; });
    narrow(span, width, [&](int32_t i) { return f.y(i) >= 0; });
    narrow(span, width, [&](int32_t i) { return f.y(i) < stored_height; });
    if (span.end < span.begin) span.end = span.begin;
    return span;
}

void sample_scalar(TiledImage &img, const RowFrame &f, int32_t from, int32_t to, uint8_t *out) {
    for (int32_t i = from; i < to; ++i) out[i] = tile_cache_pixel(img.tiles, img.rows, f.x(i), f.y(i));
}

// The place of `tile`'s pixels (its map entry), decoding it when it is not
// at hand; `held` keeps the last one asked for.
inline int32_t entry_of(TileCache &t, const StoredRows &rows, int32_t tile, int32_t &held_tile, int32_t &held_entry) {
    if (tile != held_tile) {
        held_entry = t.map[tile];
        if (held_entry == kTileAbsent) held_entry = tile_cache_load(t, rows, tile);
        held_tile = tile;
    }
    return held_entry;
}

// The vector kernels share their plan: the coordinates of a block of
// pixels in one go. Along a row the stored coordinates only grow or only
// shrink, so when the block's first and last pixels lie in one tile, all
// do (most blocks, and mostly the tile of the block before): that tile's
// entry serves them all. Otherwise each pixel's entry is gathered from the
// map, and a block that meets a tile not at hand is done one pixel at a
// time, which decodes the tile.

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

__attribute__((target("avx2"))) int32_t sample_avx2(TiledImage &img, const RowFrame &f, int32_t from, int32_t to,
                                                   uint8_t *out) {
    TileCache &t = img.tiles;
    const __m256d bs = _mm256_set1_pd(f.bs), bc = _mm256_set1_pd(f.bc);
    const __m128i w_shift = _mm_cvtsi32_si128(t.tile_w_shift), h_shift = _mm_cvtsi32_si128(t.tile_h_shift);
    const __m128i map_shift = _mm_cvtsi32_si128(t.map_shift);
    const __m256i absent = _mm256_set1_epi32(kTileAbsent);
    // Byte 0 of each 32-bit lane, to the front of each 128-bit half.
    const __m256i low_bytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4,
                                               8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const int *arena = reinterpret_cast<const int *>(t.arena);
    int32_t held_tile = -1, held_entry = 0;
    int32_t i = from;
    for (; i + 8 <= to; i += 8) {
        const __m128i x0 = _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_loadu_pd(f.column_cos + i), bs));
        const __m128i x1 = _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_loadu_pd(f.column_cos + i + 4), bs));
        const __m128i y0 = _mm256_cvttpd_epi32(_mm256_add_pd(bc, _mm256_loadu_pd(f.column_sin + i)));
        const __m128i y1 = _mm256_cvttpd_epi32(_mm256_add_pd(bc, _mm256_loadu_pd(f.column_sin + i + 4)));
        const __m256i x = _mm256_inserti128_si256(_mm256_castsi128_si256(x0), x1, 1);
        const __m256i y = _mm256_inserti128_si256(_mm256_castsi128_si256(y0), y1, 1);
        const int32_t first = tile_cache_index(t, _mm_cvtsi128_si32(x0), _mm_cvtsi128_si32(y0));
        const int32_t last = tile_cache_index(t, _mm_extract_epi32(x1, 3), _mm_extract_epi32(y1, 3));
        __m256i entry;
        if (first == last) {
            entry = _mm256_set1_epi32(entry_of(t, img.rows, first, held_tile, held_entry));
        } else {
            const __m256i tile = _mm256_add_epi32(_mm256_sll_epi32(_mm256_srl_epi32(y, h_shift), map_shift),
                                                  _mm256_srl_epi32(x, w_shift));
            entry = _mm256_i32gather_epi32(t.map, tile, 4);
            if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(entry, absent)) != 0) {
                sample_scalar(img, f, i, i + 8, out);
                held_tile = -1;   // the loads may have given up the tile held
                continue;
            }
        }
        const __m256i place = _mm256_add_epi32(entry, _mm256_add_epi32(_mm256_sll_epi32(y, w_shift), x));
        const __m256i pixels = _mm256_shuffle_epi8(_mm256_i32gather_epi32(arena, place, 1), low_bytes);
        const __m128i eight = _mm_unpacklo_epi32(_mm256_castsi256_si128(pixels), _mm256_extracti128_si256(pixels, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), eight);
    }
    return i;
}

// GCC's own AVX-512 headers trip its uninitialised-value warning.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((target("avx512f"))) int32_t sample_avx512(TiledImage &img, const RowFrame &f, int32_t from,
                                                         int32_t to, uint8_t *out) {
    TileCache &t = img.tiles;
    const __m512d bs = _mm512_set1_pd(f.bs), bc = _mm512_set1_pd(f.bc);
    const __m128i w_shift = _mm_cvtsi32_si128(t.tile_w_shift), h_shift = _mm_cvtsi32_si128(t.tile_h_shift);
    const __m128i map_shift = _mm_cvtsi32_si128(t.map_shift);
    const __m512i absent = _mm512_set1_epi32(kTileAbsent);
    int32_t held_tile = -1, held_entry = 0;
    int32_t i = from;
    for (; i + 16 <= to; i += 16) {
        const __m256i x0 = _mm512_cvttpd_epi32(_mm512_sub_pd(_mm512_loadu_pd(f.column_cos + i), bs));
        const __m256i x1 = _mm512_cvttpd_epi32(_mm512_sub_pd(_mm512_loadu_pd(f.column_cos + i + 8), bs));
        const __m256i y0 = _mm512_cvttpd_epi32(_mm512_add_pd(bc, _mm512_loadu_pd(f.column_sin + i)));
        const __m256i y1 = _mm512_cvttpd_epi32(_mm512_add_pd(bc, _mm512_loadu_pd(f.column_sin + i + 8)));
        const __m512i x = _mm512_inserti64x4(_mm512_castsi256_si512(x0), x1, 1);
        const __m512i y = _mm512_inserti64x4(_mm512_castsi256_si512(y0), y1, 1);
        const __m128i x_top = _mm256_extracti128_si256(x1, 1), y_top = _mm256_extracti128_si256(y1, 1);
        const int32_t first = tile_cache_index(t, _mm_cvtsi128_si32(_mm256_castsi256_si128(x0)),
                                               _mm_cvtsi128_si32(_mm256_castsi256_si128(y0)));
        const int32_t last = tile_cache_index(t, _mm_extract_epi32(x_top, 3), _mm_extract_epi32(y_top, 3));
        __m512i entry;
        if (first == last) {
            entry = _mm512_set1_epi32(entry_of(t, img.rows, first, held_tile, held_entry));
        } else {
            const __m512i tile = _mm512_add_epi32(_mm512_sll_epi32(_mm512_srl_epi32(y, h_shift), map_shift),
                                                  _mm512_srl_epi32(x, w_shift));
            entry = _mm512_i32gather_epi32(tile, t.map, 4);
            if (_mm512_cmpeq_epi32_mask(entry, absent) != 0) {
                sample_scalar(img, f, i, i + 16, out);
                held_tile = -1;
                continue;
            }
        }
        const __m512i place = _mm512_add_epi32(entry, _mm512_add_epi32(_mm512_sll_epi32(y, w_shift), x));
        const __m512i pixels = _mm512_i32gather_epi32(place, t.arena, 1);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm512_cvtepi32_epi8(pixels));
    }
    return i;
}

void sample(TiledImage &image, const RowFrame &frame, int32_t from, int32_t to, uint8_t *out);

// Eight upright rows at a time, in blocks of 8 x 8 pixels. Whatever the
// angle, the stored coordinates of a block span 7 (|cos| + |sin|) < 9.9,
// so its pixels lie within 11 stored rows and 11 columns: twelve stored
// rows of sixteen bytes from the block's smallest (x, y) hold them all, a
// table of 192 bytes read with two byte permutes, in place of 64 loads.
//
// The block's coordinates only grow or only shrink along a row and down a
// column, so their extremes are at its corners: which corners depends on
// the signs of cos and sin only.
struct BlockCorners {
    int32_t x_min_row, x_min_col, x_max_row, x_max_col;
    int32_t y_min_row, y_min_col, y_max_row, y_max_col;
};

BlockCorners block_corners(const SkewGeometry &g) {
    // x = trunc(a c - b s) grows with a when c >= 0 and shrinks with b when
    // s >= 0; y = trunc(b c + a s) grows with a when s >= 0, with b when c >= 0.
    const int32_t xc = g.cos >= 0 ? 0 : 7, xr = g.sin >= 0 ? 7 : 0;
    const int32_t yc = g.sin >= 0 ? 0 : 7, yr = g.cos >= 0 ? 0 : 7;
    return {xr, xc, 7 - xr, 7 - xc, yr, yc, 7 - yr, 7 - yc};
}

// Where the bytes of the pixels of a block end up: they are packed from
// eight registers of eight 32-bit places, one a row, 128 bits at a time;
// this puts row r, column j at byte 8 r + j.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) __m512i block_order() {
    alignas(64) uint8_t order[64];
    for (int32_t r = 0; r < 8; ++r)
        for (int32_t j = 0; j < 8; ++j) {
            const int32_t chunk = (r >= 4 ? 2 : 0) + (j >= 4 ? 1 : 0);
            order[8 * r + j] = static_cast<uint8_t>(16 * chunk + 4 * (r % 4) + j % 4);
        }
    return _mm512_load_si512(order);
}

// Four stored rows of sixteen bytes, `rows[k]` into bytes 16 k.
__attribute__((target("avx512f"))) inline __m512i four_rows(const uint8_t *r0, const uint8_t *r1, const uint8_t *r2,
                                                            const uint8_t *r3) {
    __m512i t = _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i *>(r0)));
    t = _mm512_inserti32x4(t, _mm_loadu_si128(reinterpret_cast<const __m128i *>(r1)), 1);
    t = _mm512_inserti32x4(t, _mm_loadu_si128(reinterpret_cast<const __m128i *>(r2)), 2);
    return _mm512_inserti32x4(t, _mm_loadu_si128(reinterpret_cast<const __m128i *>(r3)), 3);
}

// The table places of one row of a block (eight columns): 16 y + x less
// `base`, in 32 bits. The integer work is done 256 bits wide, where more of
// the processor's ports take it than 512 bits wide.
__attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) inline __m256i
row_places(__m512d column_cos, __m512d column_sin, double bs, double bc, __m256i base) {
    const __m256i x = _mm512_cvttpd_epi32(_mm512_sub_pd(column_cos, _mm512_set1_pd(bs)));
    const __m256i y = _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_set1_pd(bc), column_sin));
    return _mm256_sub_epi32(_mm256_add_epi32(_mm256_slli_epi32(y, 4), x), base);
}

// Eight pixels into `out` and eight into the row below.
__attribute__((always_inline)) inline void store_two_rows(uint8_t *out, int32_t width, __m128i two) {
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), two);
    _mm_storeh_pi(reinterpret_cast<__m64 *>(out + width), _mm_castsi128_ps(two));
}

// Twelve stored rows of sixteen bytes, four to a register.
struct BlockTable {
    __m512i q0, q1, q2;
};

// The rows from `p` on, `tw` bytes apart.
__attribute__((target("avx512f"), always_inline)) inline BlockTable table_at(const uint8_t *p, std::size_t tw) {
    return {four_rows(p, p + tw, p + 2 * tw, p + 3 * tw), four_rows(p + 4 * tw, p + 5 * tw, p + 6 * tw, p + 7 * tw),
            four_rows(p + 8 * tw, p + 9 * tw, p + 10 * tw, p + 11 * tw)};
}

// The bytes of `b` where a mask bit is set, of `a` elsewhere; m[k] masks
// register k.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline BlockTable blend(const BlockTable &a,
                                                                                  const BlockTable &b,
                                                                                  const __mmask64 (&m)[3]) {
    return {_mm512_mask_blend_epi8(m[0], a.q0, b.q0), _mm512_mask_blend_epi8(m[1], a.q1, b.q1),
            _mm512_mask_blend_epi8(m[2], a.q2, b.q2)};
}

// A block's table from up to four tiles: those of its top-left stored
// pixel, and those right of a tile-column boundary (`cols` table columns
// on) and below a tile-row boundary (`rows` table rows on) when it crosses
// them. `at[k]` is where tile k's map entry puts the block's top-left
// pixel; rows and columns read beyond a tile's own are never used.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline BlockTable
crossing_table(const uint8_t *const (&at)[4], std::size_t tw, int32_t cols, int32_t rows) {
    BlockTable top = table_at(at[0], tw);
    const uint64_t right_of = cols < 16 ? (0xFFFFu << cols & 0xFFFFu) * UINT64_C(0x0001000100010001) : 0;
    const __mmask64 right[3] = {right_of, right_of, right_of};
    if (right_of != 0) top = blend(top, table_at(at[1], tw), right);
    if (rows >= 12) return top;
    BlockTable bottom = table_at(at[2], tw);
    if (right_of != 0) bottom = blend(bottom, table_at(at[3], tw), right);
    __mmask64 below[3];
    for (int32_t k = 0; k < 3; ++k) {
        const int32_t from = std::clamp(rows - 4 * k, 0, 4);
        below[k] = from >= 4 ? 0 : ~UINT64_C(0) << (16 * from);
    }
    return blend(top, bottom, below);
}

// The map entries of a block's tiles (top-left, top-right, bottom-left,
// bottom-right, the same tile more than once where it does not cross),
// decoding what is not at hand. False when they cannot all be held at
// once (a cache of fewer tiles).
bool block_entries(TileCache &t, const StoredRows &rows, const int32_t (&tiles)[4], int32_t (&entries)[4]) {
    for (int32_t k = 0; k < 4; ++k) {
        entries[k] = t.map[tiles[k]];
        if (entries[k] == kTileAbsent) entries[k] = tile_cache_load(t, rows, tiles[k]);
    }
    for (int32_t k = 0; k < 4; ++k)
        if (t.map[tiles[k]] != entries[k]) return false;
    return true;
}

// A block that crosses a tile edge: the map entries of its four tiles
// (top-left, top-right, bottom-left, bottom-right; the same tile more than
// once where it crosses no edge that way), and how many table columns and
// rows come from the left and top ones (16: all). False when the tiles
// cannot all be held at once.
struct BlockEdges {
    int32_t entries[4];
    int32_t cols, rows;
};

bool block_edges(TileCache &t, const StoredRows &rows, int32_t x_min, int32_t x_max, int32_t y_min, int32_t y_max,
                 BlockEdges &e) {
    const int32_t ws = t.tile_w_shift, hs = t.tile_h_shift;
    const int32_t tx = x_min >> ws, ty = y_min >> hs;
    const int32_t right = x_max >> ws, below = (y_max >> hs) << t.map_shift;
    const int32_t tiles[4] = {(ty << t.map_shift) + tx, (ty << t.map_shift) + right, below + tx, below + right};
    if (!block_entries(t, rows, tiles, e.entries)) return false;
    e.cols = right != tx ? ((tx + 1) << ws) - x_min : 16;
    e.rows = (y_max >> hs) != ty ? ((ty + 1) << hs) - y_min : 16;
    return true;
}

// A block made row by row, where its tiles cannot be held together.
void sample_block_by_rows(TiledImage &img, const RowFrame *frames, int32_t i, uint8_t *strip, int32_t width) {
    for (int32_t r = 0; r < 8; ++r) sample(img, frames[r], i, i + 8, strip + static_cast<std::size_t>(r) * width);
}

// Made for the usual tile widths with the width a constant (the table's
// twelve row addresses then fold into the loads), for others with it
// read from the cache (kWShift 0).
template <int32_t kWShift>
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void sample_blocks_of(TiledImage &img, const RowFrame *frames,
                                                                              int32_t from, int32_t to, uint8_t *strip,
                                                                              int32_t width) {
    TileCache &t = img.tiles;
    const int32_t ws = kWShift != 0 ? kWShift : t.tile_w_shift, hs = t.tile_h_shift;
    const std::size_t tw = std::size_t{1} << ws;
    const BlockCorners c = block_corners(img.geometry);
    const __m512i order = block_order();
    double bs[8], bc[8];
    for (int32_t r = 0; r < 8; ++r) {
        bs[r] = frames[r].bs;
        bc[r] = frames[r].bc;
    }
    // The corners' products, as in RowFrame::x and RowFrame::y.
    const double *cos_at_x_min = frames[0].column_cos + c.x_min_col, *cos_at_x_max = frames[0].column_cos + c.x_max_col;
    const double *sin_at_y_min = frames[0].column_sin + c.y_min_col, *sin_at_y_max = frames[0].column_sin + c.y_max_col;
    const double bs_x_min = bs[c.x_min_row], bs_x_max = bs[c.x_max_row];
    const double bc_y_min = bc[c.y_min_row], bc_y_max = bc[c.y_max_row];
    for (int32_t i = from; i < to; i += 8) {
        const auto x_min = static_cast<int32_t>(cos_at_x_min[i] - bs_x_min);
        const auto x_max = static_cast<int32_t>(cos_at_x_max[i] - bs_x_max);
        const auto y_min = static_cast<int32_t>(bc_y_min + sin_at_y_min[i]);
        const auto y_max = static_cast<int32_t>(bc_y_max + sin_at_y_max[i]);
        const int32_t tx = x_min >> ws, ty = y_min >> hs;
        // The block's top-left pixel in a tile is arena[entry + at].
        const std::ptrdiff_t at = (static_cast<std::ptrdiff_t>(y_min) << ws) + x_min;
        BlockTable table;
        if ((x_max >> ws) == tx && (y_max >> hs) == ty) {
            const int32_t tile = (ty << t.map_shift) + tx;
            int32_t entry = t.map[tile];
            if (entry == kTileAbsent) entry = tile_cache_load(t, img.rows, tile);
            table = table_at(t.arena + (entry + at), tw);
        } else {
            BlockEdges e;
            if (!block_edges(t, img.rows, x_min, x_max, y_min, y_max, e)) {
                sample_block_by_rows(img, frames, i, strip, width);
                continue;
            }
            const uint8_t *const from_tile[4] = {t.arena + (e.entries[0] + at), t.arena + (e.entries[1] + at),
                                                 t.arena + (e.entries[2] + at), t.arena + (e.entries[3] + at)};
            table = crossing_table(from_tile, tw, e.cols, e.rows);
        }
        // Each pixel's byte in the table: 16 (y - y_min) + (x - x_min).
        const __m256i base = _mm256_set1_epi32((y_min << 4) + x_min);
        const __m512d column_cos = _mm512_loadu_pd(frames[0].column_cos + i);
        const __m512d column_sin = _mm512_loadu_pd(frames[0].column_sin + i);
        const __m256i p0 = row_places(column_cos, column_sin, bs[0], bc[0], base);
        const __m256i p1 = row_places(column_cos, column_sin, bs[1], bc[1], base);
        const __m256i p2 = row_places(column_cos, column_sin, bs[2], bc[2], base);
        const __m256i p3 = row_places(column_cos, column_sin, bs[3], bc[3], base);
        const __m256i p4 = row_places(column_cos, column_sin, bs[4], bc[4], base);
        const __m256i p5 = row_places(column_cos, column_sin, bs[5], bc[5], base);
        const __m256i p6 = row_places(column_cos, column_sin, bs[6], bc[6], base);
        const __m256i p7 = row_places(column_cos, column_sin, bs[7], bc[7], base);
        const __m256i top_half = _mm256_packus_epi16(_mm256_packus_epi32(p0, p1), _mm256_packus_epi32(p2, p3));
        const __m256i bottom_half = _mm256_packus_epi16(_mm256_packus_epi32(p4, p5), _mm256_packus_epi32(p6, p7));
        const __m512i bytes = _mm512_inserti64x4(_mm512_castsi256_si512(top_half), bottom_half, 1);
        const __m512i low = _mm512_permutex2var_epi8(table.q0, bytes, table.q1);
        const __m512i high = _mm512_permutexvar_epi8(bytes, table.q2);
        const __m512i pixels =
            _mm512_permutexvar_epi8(order, _mm512_mask_blend_epi8(_mm512_movepi8_mask(bytes), low, high));
        uint8_t *out = strip + i;
        store_two_rows(out, width, _mm512_castsi512_si128(pixels));
        store_two_rows(out + 2 * static_cast<std::size_t>(width), width, _mm512_extracti32x4_epi32(pixels, 1));
        store_two_rows(out + 4 * static_cast<std::size_t>(width), width, _mm512_extracti32x4_epi32(pixels, 2));
        store_two_rows(out + 6 * static_cast<std::size_t>(width), width, _mm512_extracti32x4_epi32(pixels, 3));
    }
}
// The same blocks with AVX2: the table's rows are looked up sixteen bytes
// at a time (vpshufb), each row answering for the pixels whose place falls
// in it: a place less 16 k, plus 0x70 with saturation, keeps its low four
// bits with bit 7 clear only where it lies in row k, and vpshufb gives 0
// wherever bit 7 is set.
__attribute__((target("avx2"), always_inline)) inline __m256i row_places_avx2(const double *column_cos,
                                                                            const double *column_sin, double bs,
                                                                            double bc, __m256i base) {
    const __m256d b_s = _mm256_set1_pd(bs), b_c = _mm256_set1_pd(bc);
    const __m128i x0 = _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_loadu_pd(column_cos), b_s));
    const __m128i x1 = _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_loadu_pd(column_cos + 4), b_s));
    const __m128i y0 = _mm256_cvttpd_epi32(_mm256_add_pd(b_c, _mm256_loadu_pd(column_sin)));
    const __m128i y1 = _mm256_cvttpd_epi32(_mm256_add_pd(b_c, _mm256_loadu_pd(column_sin + 4)));
    const __m256i x = _mm256_inserti128_si256(_mm256_castsi128_si256(x0), x1, 1);
    const __m256i y = _mm256_inserti128_si256(_mm256_castsi128_si256(y0), y1, 1);
    return _mm256_sub_epi32(_mm256_add_epi32(_mm256_slli_epi32(y, 4), x), base);
}

// Four rows of a block's pixels (32 places) from the table's twelve rows,
// `rows` + k `stride` for row k.
__attribute__((target("avx2"), always_inline)) inline void lookup_avx2(const uint8_t *rows, std::size_t stride,
                                                                     __m256i &top, __m256i &bottom) {
    const __m256i lift = _mm256_set1_epi8(0x70), step = _mm256_set1_epi8(16);
    __m256i top_pixels = _mm256_setzero_si256(), bottom_pixels = _mm256_setzero_si256();
    for (int32_t k = 0; k < 12; ++k) {
        const __m256i row = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(rows + k * stride)));
        top_pixels = _mm256_or_si256(top_pixels, _mm256_shuffle_epi8(row, _mm256_adds_epu8(top, lift)));
        bottom_pixels = _mm256_or_si256(bottom_pixels, _mm256_shuffle_epi8(row, _mm256_adds_epu8(bottom, lift)));
        top = _mm256_sub_epi8(top, step);
        bottom = _mm256_sub_epi8(bottom, step);
    }
    top = top_pixels;
    bottom = bottom_pixels;
}

// Four rows of eight pixels, packed as the places were, into the strip.
__attribute__((target("avx2"), always_inline)) inline void store_four_rows(uint8_t *out, int32_t width,
                                                                         __m256i pixels) {
    const __m256i rows = _mm256_permutevar8x32_epi32(pixels, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    store_two_rows(out, width, _mm256_castsi256_si128(rows));
    store_two_rows(out + 2 * static_cast<std::size_t>(width), width, _mm256_extracti128_si256(rows, 1));
}

template <int32_t kWShift>
__attribute__((target("avx2"))) void sample_blocks_avx2_of(TiledImage &img, const RowFrame *frames, int32_t from,
                                                           int32_t to, uint8_t *strip, int32_t width) {
    TileCache &t = img.tiles;
    const int32_t ws = kWShift != 0 ? kWShift : t.tile_w_shift, hs = t.tile_h_shift;
    const std::size_t tw = std::size_t{1} << ws;
    const BlockCorners c = block_corners(img.geometry);
    double bs[8], bc[8];
    for (int32_t r = 0; r < 8; ++r) {
        bs[r] = frames[r].bs;
        bc[r] = frames[r].bc;
    }
    const double *cos_at_x_min = frames[0].column_cos + c.x_min_col, *cos_at_x_max = frames[0].column_cos + c.x_max_col;
    const double *sin_at_y_min = frames[0].column_sin + c.y_min_col, *sin_at_y_max = frames[0].column_sin + c.y_max_col;
    const double bs_x_min = bs[c.x_min_row], bs_x_max = bs[c.x_max_row];
    const double bc_y_min = bc[c.y_min_row], bc_y_max = bc[c.y_max_row];
    alignas(16) uint8_t joined[12 * 16];   // the table of a block across tile edges
    for (int32_t i = from; i < to; i += 8) {
        const auto x_min = static_cast<int32_t>(cos_at_x_min[i] - bs_x_min);
        const auto x_max = static_cast<int32_t>(cos_at_x_max[i] - bs_x_max);
        const auto y_min = static_cast<int32_t>(bc_y_min + sin_at_y_min[i]);
        const auto y_max = static_cast<int32_t>(bc_y_max + sin_at_y_max[i]);
        const int32_t tx = x_min >> ws, ty = y_min >> hs;
        const std::ptrdiff_t at = (static_cast<std::ptrdiff_t>(y_min) << ws) + x_min;
        const uint8_t *rows;
        std::size_t stride;
        if ((x_max >> ws) == tx && (y_max >> hs) == ty) {
            const int32_t tile = (ty << t.map_shift) + tx;
            int32_t entry = t.map[tile];
            if (entry == kTileAbsent) entry = tile_cache_load(t, img.rows, tile);
            rows = t.arena + (entry + at);
            stride = tw;
        } else {
            BlockEdges e;
            if (!block_edges(t, img.rows, x_min, x_max, y_min, y_max, e)) {
                sample_block_by_rows(img, frames, i, strip, width);
                continue;
            }
            const int32_t *entries = e.entries;
            // Bytes from column `cols` on come from the tiles on the right.
            const __m128i right_of =
                _mm_cmpgt_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                               _mm_set1_epi8(static_cast<char>(e.cols - 1)));
            for (int32_t k = 0; k < 12; ++k) {
                const int32_t left_tile = k < e.rows ? 0 : 2;
                const std::ptrdiff_t place = at + static_cast<std::ptrdiff_t>(k) * static_cast<std::ptrdiff_t>(tw);
                const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t.arena + (entries[left_tile] + place)));
                const __m128i rest = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t.arena + (entries[left_tile + 1] + place)));
                _mm_store_si128(reinterpret_cast<__m128i *>(joined + 16 * k), _mm_blendv_epi8(left, rest, right_of));
            }
            rows = joined;
            stride = 16;
        }
        const __m256i base = _mm256_set1_epi32((y_min << 4) + x_min);
        const double *cc = frames[0].column_cos + i, *cs = frames[0].column_sin + i;
        const __m256i p0 = row_places_avx2(cc, cs, bs[0], bc[0], base);
        const __m256i p1 = row_places_avx2(cc, cs, bs[1], bc[1], base);
        const __m256i p2 = row_places_avx2(cc, cs, bs[2], bc[2], base);
        const __m256i p3 = row_places_avx2(cc, cs, bs[3], bc[3], base);
        const __m256i p4 = row_places_avx2(cc, cs, bs[4], bc[4], base);
        const __m256i p5 = row_places_avx2(cc, cs, bs[5], bc[5], base);
        const __m256i p6 = row_places_avx2(cc, cs, bs[6], bc[6], base);
        const __m256i p7 = row_places_avx2(cc, cs, bs[7], bc[7], base);
        __m256i top = _mm256_packus_epi16(_mm256_packus_epi32(p0, p1), _mm256_packus_epi32(p2, p3));
        __m256i bottom = _mm256_packus_epi16(_mm256_packus_epi32(p4, p5), _mm256_packus_epi32(p6, p7));
        lookup_avx2(rows, stride, top, bottom);
        store_four_rows(strip + i, width, top);
        store_four_rows(strip + 4 * static_cast<std::size_t>(width) + i, width, bottom);
    }
}

void sample_blocks(TiledImage &img, const RowFrame *frames, int32_t from, int32_t to, uint8_t *strip, int32_t width) {
    if (img.kernel == kAvx2Blocks) {
        switch (img.tiles.tile_w_shift) {
        case 8: return sample_blocks_avx2_of<8>(img, frames, from, to, strip, width);
        case 7: return sample_blocks_avx2_of<7>(img, frames, from, to, strip, width);
        case 6: return sample_blocks_avx2_of<6>(img, frames, from, to, strip, width);
        default: return sample_blocks_avx2_of<0>(img, frames, from, to, strip, width);
        }
    }
    switch (img.tiles.tile_w_shift) {
    case 8: return sample_blocks_of<8>(img, frames, from, to, strip, width);
    case 7: return sample_blocks_of<7>(img, frames, from, to, strip, width);
    case 6: return sample_blocks_of<6>(img, frames, from, to, strip, width);
    default: return sample_blocks_of<0>(img, frames, from, to, strip, width);
    }
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// Whether the processor (and its system) can run a kernel.
bool kernel_runs(int32_t kernel) {
    switch (kernel) {
    case kAvx512Blocks: return __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw");
    case kAvx512: return __builtin_cpu_supports("avx512f");
    case kAvx2Blocks:
    case kAvx2: return __builtin_cpu_supports("avx2");
    default: return kernel == kSse2 || kernel == kScalar;
    }
}

// The fastest kernel the processor (and its system) can run.
int32_t best_kernel() {
    // Blocks read through byte shuffles beat gathers, AVX-512 ones too.
    static const int32_t best = kernel_runs(kAvx512Blocks) ? kAvx512Blocks
                                : kernel_runs(kAvx2Blocks)  ? kAvx2Blocks
                                                            : kSse2;
    return best;
}

void sample(TiledImage &image, const RowFrame &frame, int32_t from, int32_t to, uint8_t *out) {
    int32_t i = from;
    const int32_t kernel = row_kernel(image.kernel);
    if (kernel >= kAvx512) i = sample_avx512(image, frame, i, to, out);
    if (kernel >= kAvx2) i = sample_avx2(image, frame, i, to, out);
    if (kernel >= kSse2) i = sample_sse2(image, frame, i, to, out);
    sample_scalar(image, frame, i, to, out);
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
int32_t choices(const StoredImageFile &file, const SkewGeometry &g, TiledOptions options, TileChoice *out) {
    int32_t n = 0;
    if (options.tile_w_shift > 0) {
        const TileShape shape{options.tile_w_shift, options.tile_h_shift};
        out[n++] = {shape, options.capacity > 0 ? options.capacity : tiles_wanted(g.out_width, g, shape)};
        return n;
    }
    TileShape smallest{};
    int64_t smallest_bytes = INT64_MAX;
    for (TileShape shape : kShapes) {
        tile_shape_for(file.width, file.height, kLargestMap, &shape.w_shift, &shape.h_shift);
        const int64_t wanted = tiles_wanted(g.out_width, g, shape);
        const int64_t bytes = wanted << (shape.w_shift + shape.h_shift);
        if (bytes <= kTileBudget) out[n++] = {shape, options.capacity > 0 ? options.capacity : wanted};
        if (bytes < smallest_bytes) {
            smallest_bytes = bytes;
            smallest = shape;
        }
    }
    for (int64_t capacity = std::max<int64_t>(1, kTileBudget >> (smallest.w_shift + smallest.h_shift)); capacity >= 1;
         capacity /= 4)
        out[n++] = {smallest, capacity};
    return n;
}

// The tile cache of the first choice whose memory can be had.
int32_t make_tiles(TileCache *tiles, const StoredImageFile &file, const SkewGeometry &g, const TiledOptions &options,
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

}  // namespace

TiledImage *tiled_image_make(const StoredImageFile &file, const SkewGeometry &geometry, const TiledOptions &options) {
    auto *img = static_cast<TiledImage *>(lib_calloc(1, sizeof(TiledImage)));
    if (img == nullptr) return nullptr;
    *img = TiledImage{};
    img->geometry = geometry;
    img->kernel = options.kernel > 0 && kernel_runs(options.kernel) ? options.kernel : best_kernel();
    const int32_t width = geometry.out_width;
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
    if (stored_rows_build(&img->rows, file, checkpoint_shift, 3 * file.size + kCheckpointFloor) != 0) {
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
    return static_cast<int64_t>(sizeof(TiledImage)) + stored_rows_bytes(image.rows) + tile_cache_bytes(image.tiles) +
           2 * static_cast<int64_t>(sizeof(double)) * image.geometry.out_width +
           (image.strip != nullptr ? static_cast<int64_t>(kStripRows) * image.geometry.out_width : 0);
}

namespace {

void make_row(TiledImage &image, int32_t row, uint8_t *out) {
    const SkewGeometry &g = image.geometry;
    const double b = static_cast<double>(static_cast<int64_t>(g.min_y) + row);
    const RowFrame frame{image.column_cos, image.column_sin, b * g.sin, b * g.cos};
    const Span span = inside_span(frame, g.out_width, image.rows.file.width, image.rows.file.height);
    fill_exact(out, 0, static_cast<std::size_t>(span.begin));
    fill_exact(out + span.end, 0, static_cast<std::size_t>(g.out_width - span.end));
    sample(image, frame, span.begin, span.end, out);
}

// Blocks need tiles at least sixteen pixels a side: a block then crosses
// at most one tile-row boundary, and its table's rows stay in one tile
// column unless the block itself crosses one.
bool blocks_fit(const TiledImage &image) {
    return (image.kernel == kAvx512Blocks || image.kernel == kAvx2Blocks) && image.tiles.tile_w_shift >= 4 &&
           image.tiles.tile_h_shift >= 4;
}

// Eight rows in blocks where all eight are inside the stored image, the
// ragged ends row by row.
void make_strip(TiledImage &image, int32_t first) {
    const SkewGeometry &g = image.geometry;
    const int32_t width = g.out_width;
    RowFrame frames[kStripRows];
    Span spans[kStripRows];
    Span common{0, width};
    for (int32_t r = 0; r < kStripRows; ++r) {
        const double b = static_cast<double>(static_cast<int64_t>(g.min_y) + first + r);
        frames[r] = {image.column_cos, image.column_sin, b * g.sin, b * g.cos};
        spans[r] = inside_span(frames[r], width, image.rows.file.width, image.rows.file.height);
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
    if (image.kernel == kAvx512Blocks) {
        copy_row_wide(out, from, width);
        return;
    }
    int32_t i = 0;
    for (; i + 16 <= width; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i)));
    for (; i < width; ++i) out[i] = from[i];
}

}  // namespace

void tiled_image_row(TiledImage &image, int32_t row, uint8_t *out) {
    const int32_t width = image.geometry.out_width;
    if (image.strip == nullptr) {
        make_row(image, row, out);
        return;
    }
    const int32_t first = row - row % kStripRows;
    if (image.strip_first != first) {
        const int32_t count = std::min(kStripRows, image.geometry.out_height - first);
        if (count == kStripRows && blocks_fit(image))
            make_strip(image, first);
        else
            for (int32_t k = 0; k < count; ++k)
                make_row(image, first + k, image.strip + static_cast<std::size_t>(k) * width);
        image.strip_first = first;
    }
    copy_row(image, out, image.strip + static_cast<std::size_t>(row - first) * width, width);
}

void tiled_image_stored_row(const TiledImage &image, int32_t row, uint8_t *out) {
    stored_rows_decode(image.rows, row, 0, image.rows.file.width, out);
}
