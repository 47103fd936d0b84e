// Eight upright rows at a time, in blocks of 8 x 8 pixels. Whatever the
// angle, the stored coordinates of a block span 7 (|cos| + |sin|) < 9.9,
// so its pixels lie within 11 stored rows and 11 columns: twelve stored
// rows of sixteen bytes from the block's smallest (x, y) hold them all, a
// table of 192 bytes read by byte permutes (AVX-512 VBMI) or byte shuffles
// (AVX2) in place of 64 loads.
//
// The block's coordinates only grow or only shrink along a row and down a
// column, so their extremes are at its corners: which corners depends on
// the signs of cos and sin only.
//
// One loop serves both instruction sets (raster/tiled_blocks_body.h); each
// supplies how a table is held and read (VbmiTable, ShuffleTable), inlined
// into the loop compiled for its instruction set.
#include <algorithm>
#include <immintrin.h>

#include "raster/tiled_kernels.h"

namespace {

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

// The map entries of a block's tiles (top-left, top-right, bottom-left,
// bottom-right, the same tile more than once where it does not cross),
// decoding what is not at hand. False when they cannot all be held at
// once (a cache of fewer tiles).
bool block_entries(TileCache &t, StoredRows &rows, const int32_t (&tiles)[4], int32_t (&entries)[4]) {
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

bool block_edges(TileCache &t, StoredRows &rows, int32_t x_min, int32_t x_max, int32_t y_min, int32_t y_max,
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

// Eight pixels into `out` and eight into the row below.
__attribute__((always_inline)) inline void store_two_rows(uint8_t *out, int32_t width, __m128i two) {
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), two);
    _mm_storeh_pi(reinterpret_cast<__m64 *>(out + width), _mm_castsi128_ps(two));
}

// ---- AVX-512 VBMI: the table in three registers, read by byte permutes ----
//
// GCC 12's own AVX-512 intrinsics used here start from undefined
// registers, which its uninitialised-value warning takes for reads of
// unset values; the warning is silenced for this table alone.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Four stored rows of sixteen bytes, `rows[k]` into bytes 16 k.
__attribute__((target("avx512f"), always_inline)) inline __m512i four_rows(const uint8_t *r0, const uint8_t *r1,
                                                                          const uint8_t *r2, const uint8_t *r3) {
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
    const __m256i x = truncate_eight(_mm512_sub_pd(column_cos, _mm512_set1_pd(bs)));
    const __m256i y = truncate_eight(_mm512_add_pd(_mm512_set1_pd(bc), column_sin));
    return _mm256_sub_epi32(_mm256_add_epi32(_mm256_slli_epi32(y, 4), x), base);
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
    // Columns `cols` to 15 of each of a register's four table rows: the
    // 16-bit mask of those columns, copied into each 16-bit lane.
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

struct VbmiTable {
    BlockTable table{};
    __m512i order;   // where the bytes of the pixels end up (see the constructor)

    // The pixels are packed from eight registers of eight 32-bit places,
    // one a row, 128 bits at a time; this order puts row r, column j at
    // byte 8 r + j.
    __attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) VbmiTable() {
        alignas(64) uint8_t bytes[64];
        for (int32_t r = 0; r < 8; ++r)
            for (int32_t j = 0; j < 8; ++j) {
                const int32_t chunk = (r >= 4 ? 2 : 0) + (j >= 4 ? 1 : 0);
                bytes[8 * r + j] = static_cast<uint8_t>(16 * chunk + 4 * (r % 4) + j % 4);
            }
        order = _mm512_load_si512(bytes);
    }

    __attribute__((target("avx512f"), always_inline)) void load(const uint8_t *p, std::size_t tw) {
        table = table_at(p, tw);
    }

    __attribute__((target("avx512f,avx512bw"), always_inline)) void load_crossing(const uint8_t *const (&at)[4],
                                                                                  std::size_t tw, int32_t cols,
                                                                                  int32_t rows) {
        table = crossing_table(at, tw, cols, rows);
    }

    __attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) void read(
        const double *cc, const double *cs, const double (&bs)[8], const double (&bc)[8], __m256i base, uint8_t *out,
        int32_t width) const {
        const __m512d column_cos = _mm512_loadu_pd(cc);
        const __m512d column_sin = _mm512_loadu_pd(cs);
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
        // Places 0-127 (bit 7 clear) lie in q0 and q1, read by a two-table
        // permute; places 128-191 in q2, read by its low six bits. Bit 7 of
        // each place chooses between the two.
        const __m512i low = _mm512_permutex2var_epi8(table.q0, bytes, table.q1);
        const __m512i high = _mm512_permutexvar_epi8(bytes, table.q2);
        const __m512i pixels =
            _mm512_permutexvar_epi8(order, _mm512_mask_blend_epi8(_mm512_movepi8_mask(bytes), low, high));
        store_two_rows(out, width, _mm512_castsi512_si128(pixels));
        store_two_rows(out + 2 * static_cast<std::size_t>(width), width, _mm512_extracti32x4_epi32(pixels, 1));
        store_two_rows(out + 4 * static_cast<std::size_t>(width), width, _mm512_extracti32x4_epi32(pixels, 2));
        store_two_rows(out + 6 * static_cast<std::size_t>(width), width, _mm512_extracti32x4_epi32(pixels, 3));
    }
};

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// ---- AVX2: the table's rows looked up sixteen bytes at a time ----

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

// Four rows of eight pixels, packed as the places were, into the strip.
__attribute__((target("avx2"), always_inline)) inline void store_four_rows(uint8_t *out, int32_t width,
                                                                         __m256i pixels) {
    // The packs work within 128-bit halves: 32-bit word k holds columns 0-3
    // of row k, word 4 + k its columns 4-7. This brings each row's together.
    const __m256i rows = _mm256_permutevar8x32_epi32(pixels, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    store_two_rows(out, width, _mm256_castsi256_si128(rows));
    store_two_rows(out + 2 * static_cast<std::size_t>(width), width, _mm256_extracti128_si256(rows, 1));
}

struct ShuffleTable {
    const uint8_t *rows = nullptr;   // the table's twelve rows, `stride` bytes apart
    std::size_t stride = 0;
    alignas(16) uint8_t joined[12 * 16];   // the table of a block across tile edges

    __attribute__((always_inline)) void load(const uint8_t *p, std::size_t tw) {
        rows = p;
        stride = tw;
    }

    // Table row k: bytes of `left` + place, and from column `cols` on
    // (where `right_of` is set) of `right` + place.
    __attribute__((target("avx2"), always_inline)) void join_row(const uint8_t *left, const uint8_t *right,
                                                                 std::size_t place, __m128i right_of, int32_t k) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(left + place));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(right + place));
        _mm_store_si128(reinterpret_cast<__m128i *>(joined + 16 * k), _mm_blendv_epi8(l, r, right_of));
    }

    __attribute__((target("avx2"), always_inline)) void load_crossing(const uint8_t *const (&at)[4], std::size_t tw,
                                                                      int32_t cols, int32_t below) {
        // Bytes from column `cols` on come from the tiles on the right.
        const __m128i right_of = _mm_cmpgt_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                                                _mm_set1_epi8(static_cast<char>(cols - 1)));
        // Rows above a tile-row boundary from the top tiles, the rest from
        // the bottom ones.
        const int32_t split = below < 12 ? below : 12;
        for (int32_t k = 0; k < split; ++k) join_row(at[0], at[1], static_cast<std::size_t>(k) * tw, right_of, k);
        for (int32_t k = split; k < 12; ++k) join_row(at[2], at[3], static_cast<std::size_t>(k) * tw, right_of, k);
        rows = joined;
        stride = 16;
    }

    // Each table row answers for the pixels whose place falls in it: a
    // place less 16 k, plus 0x70 with saturation, keeps its low four bits
    // with bit 7 clear only where it lies in row k, and vpshufb gives 0
    // wherever bit 7 is set; the twelve lookups are or-ed.
    __attribute__((target("avx2"), always_inline)) void read(const double *cc, const double *cs,
                                                             const double (&bs)[8], const double (&bc)[8],
                                                             __m256i base, uint8_t *out, int32_t width) const {
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
        const __m256i lift = _mm256_set1_epi8(0x70), step = _mm256_set1_epi8(16);
        __m256i top_pixels = _mm256_setzero_si256(), bottom_pixels = _mm256_setzero_si256();
        for (int32_t k = 0; k < 12; ++k) {
            const __m256i row =
                _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(rows + k * stride)));
            top_pixels = _mm256_or_si256(top_pixels, _mm256_shuffle_epi8(row, _mm256_adds_epu8(top, lift)));
            bottom_pixels = _mm256_or_si256(bottom_pixels, _mm256_shuffle_epi8(row, _mm256_adds_epu8(bottom, lift)));
            top = _mm256_sub_epi8(top, step);
            bottom = _mm256_sub_epi8(bottom, step);
        }
        store_four_rows(out, width, top_pixels);
        store_four_rows(out + 4 * static_cast<std::size_t>(width), width, bottom_pixels);
    }
};

// The loop over a strip's blocks, written once (raster/tiled_blocks_body.h)
// and compiled for each instruction set with its table.
#define NVCH_BLOCKS_NAME blocks_vbmi
#define NVCH_BLOCKS_TARGET "avx512f,avx512bw,avx512vbmi"
#define NVCH_BLOCKS_TABLE VbmiTable
#include "raster/tiled_blocks_body.h"

#define NVCH_BLOCKS_NAME blocks_avx2
#define NVCH_BLOCKS_TARGET "avx2"
#define NVCH_BLOCKS_TABLE ShuffleTable
#include "raster/tiled_blocks_body.h"

}  // namespace

bool blocks_fit(const TiledImage &image) {
    return (image.kernel == SkewKernel::vbmi_blocks || image.kernel == SkewKernel::avx2_blocks) &&
           image.tiles.tile_w_shift >= 4 && image.tiles.tile_h_shift >= 4;
}

void sample_blocks(TiledImage &img, const RowFrame *frames, int32_t from, int32_t to, uint8_t *strip, int32_t width) {
    if (img.kernel == SkewKernel::avx2_blocks) {
        switch (img.tiles.tile_w_shift) {
            case 8: return blocks_avx2<8>(img, frames, from, to, strip, width);
            case 7: return blocks_avx2<7>(img, frames, from, to, strip, width);
            case 6: return blocks_avx2<6>(img, frames, from, to, strip, width);
            default: return blocks_avx2<0>(img, frames, from, to, strip, width);
        }
    }
    switch (img.tiles.tile_w_shift) {
        case 8: return blocks_vbmi<8>(img, frames, from, to, strip, width);
        case 7: return blocks_vbmi<7>(img, frames, from, to, strip, width);
        case 6: return blocks_vbmi<6>(img, frames, from, to, strip, width);
        default: return blocks_vbmi<0>(img, frames, from, to, strip, width);
    }
}
