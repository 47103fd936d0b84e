/* nvch chart reader: open a BSB raster nautical chart (KAP file) and read
 * its rows of palette indices.
 *
 * Call order: BSB_open on a zero-filled ChartFile, then BSB_getrow for rows
 * 0 .. height-1 (each row is `width` bytes), then BSB_close, which releases
 * everything the record holds; the caller then releases the record itself.
 * The setters change process-wide values: the skew switch is read at every
 * open, the latitude of true scale at every coordinate-system query, the
 * memory budget as rows are read.
 * Different charts may be opened, read and closed on different threads at
 * the same time; calls on one chart must not overlap. Charts larger than
 * 131072 pixels a side are refused.
 */
#ifndef NVCH_BSB_H
#define NVCH_BSB_H

#include <stdint.h>

#ifndef NVCH_API
#if defined(_WIN32)
#define NVCH_API
#else
#define NVCH_API __attribute__((visibility("default")))
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ChartReader ChartReader;

/* One open chart. Its address is the host's file handle. */
typedef struct ChartFile {
    double upper_left_x;    /* map x of pixel position (0, 0) */
    double upper_left_y;    /* map y of pixel position (0, 0) */
    double pixel_size_x;    /* map units per pixel column */
    double pixel_size_y;    /* map units per pixel row, positive when fitted */
    int32_t height;         /* rows as delivered (rotated when skewed) */
    int32_t width;          /* pixels per row as delivered */
    int32_t color_count;    /* "RGB" records plus 1 */
    uint8_t *palette_red;   /* (1 << depth) + 1 entries each */
    uint8_t *palette_green;
    uint8_t *palette_blue;
    ChartReader *reader;    /* none before BSB_open and after BSB_close */
} ChartFile;

/* 1 when `path`, or `path` with ".kap" or ".KAP" appended, names a KAP
 * chart, else 0. `found_name` receives the name that opened; it must hold
 * strlen(path) + 5 bytes. */
NVCH_API int32_t BSB_exist(const char *path, char *found_name);

/* Opens exactly `path` into a zero-filled `chart`: 0 on success, -1 on
 * failure (the record then owns nothing). The four integers are ignored;
 * pass 0. */
NVCH_API int32_t BSB_open(const char *path, int32_t unused1, int32_t unused2,
                          int32_t unused3, int32_t unused4, ChartFile *chart);

/* Releases what `chart` holds; always 0. */
NVCH_API int32_t BSB_close(ChartFile *chart);

/* Writes row `row` (0 .. height-1) into `buffer` (at least `width` bytes):
 * 0 when the row was written, -1 when it could not be produced. */
NVCH_API int32_t BSB_getrow(int32_t row, uint8_t *buffer, ChartFile *chart);

/* Skew correction for charts opened afterwards: *state 0 serves charts as
 * stored, anything else upright (the default). */
NVCH_API void BSB_set_skew_state(const int32_t *state);

/* Latitude of true scale reported for Mercator charts, in degrees. */
NVCH_API void BSB_set_LTS(float lts);

/* Bytes that all open charts together may hold while they are read: read
 * windows, tiles and stored-row indexes (an open chart holds its header
 * and row index besides, a few dozen kilobytes). Beyond it the charts
 * least recently read give theirs back and build them again when next
 * read. 0 or less restores the default: 64 MB in a 32-bit process, 256 MB
 * in a 64-bit one. Takes effect as the next row is read. */
NVCH_API void BSB_set_memory_budget(int64_t bytes);

NVCH_API void BSB_useWGS84(void);
NVCH_API void BSB_useSphere(void);

/* The kernels this library runs on this processor, for reports such as
 * "avx2_blocks (skewed serving), plain (run decoding)". Writes at most
 * size - 1 bytes and a NUL into `text`; returns the text's full length, or
 * -1 when `text` is null or `size` is below 1. */
NVCH_API int32_t BSB_get_kernels(char *text, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
