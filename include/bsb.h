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

/* What a chart knows, for hosts and tools. Texts are written into the
 * caller's buffer: at most size - 1 bytes and a NUL; the result is the
 * text's full length (a size that is too small gives a cut text), or -1
 * when there is nothing to write (no such record, field or palette) or an
 * argument is unusable (a null or closed chart, null buffers, negative
 * counts or sizes). Nothing crosses the library boundary to be freed. */

/* The n-th (from 0) header record named `name` ("KNP", "REF", "PLY",
 * "DTM", ...: three letters), as the reader keeps it (continuation lines
 * joined), without its line end: e.g. "PLY/1,44.53,-75.93". */
NVCH_API int32_t BSB_get_record(const ChartFile *chart, const char *name,
                                int32_t n, char *text, int32_t size);

/* The value of field `key` in the first record named `name`, as the
 * reader's own lookup reads it, without the record's line end: ("KNP",
 * "SC") gives "15000". */
NVCH_API int32_t BSB_get_field(const ChartFile *chart, const char *name,
                               const char *key, char *text, int32_t size);

/* The palette `name` ("RGB", "DAY", "DSK", "NGT", "NGR", "GRY", "PRC",
 * "PRG") in the layout of the ChartFile's palette: entry i for pixel value
 * i, unlisted entries 0, at most `size` entries written (a chart has
 * (1 << depth) + 1). Returns its entry count as color_count counts the
 * "RGB" one (its records plus 1), or -1 when the chart has no such
 * palette. "RGB" gives exactly the ChartFile's palette (entry 0 white
 * unless listed). */
NVCH_API int32_t BSB_get_palette(const ChartFile *chart, const char *name,
                                 uint8_t *red, uint8_t *green, uint8_t *blue,
                                 int32_t size);

/* `count` positions of the delivered image (x right, y down, in pixels,
 * in the convention of the map information: (0, 0) is the point whose map
 * coordinates are upper_left_x, upper_left_y) to latitude and longitude in
 * degrees in the geographic system of the chart's coordinate system (WGS
 * 84, the chart's datum shift applied, as the map information is), and
 * back. Longitudes come out in -180..180; going in, a longitude is taken
 * on the side of the 180th meridian where the chart lies. A skewed chart
 * served as stored (skew correction off) is placed through its turn. A
 * position the projection cannot take gives NaN. 0, or -1 when the chart
 * has no projection the library can invert: a chart placed by an "ARC"
 * record has none. */
NVCH_API int32_t BSB_pixel_to_latlon(const ChartFile *chart, int32_t count,
                                     const double *x, const double *y,
                                     double *lat, double *lon);
NVCH_API int32_t BSB_latlon_to_pixel(const ChartFile *chart, int32_t count,
                                     const double *lat, const double *lon,
                                     double *x, double *y);

/* The pixels [*begin, *end) of delivered row `row` that show the chart:
 * the whole row, but for a skewed chart served upright, whose rows are
 * filled with 0 where they lie outside the stored image. 0, or -1 for a row
 * outside the image or a bad argument. */
NVCH_API int32_t BSB_get_row_extent(const ChartFile *chart, int32_t row,
                                    int32_t *begin, int32_t *end);

/* The kernels this library runs on this processor, for reports such as
 * "avx2_blocks (skewed serving), plain (run decoding)". Writes at most
 * size - 1 bytes and a NUL into `text`; returns the text's full length, or
 * -1 when `text` is null or `size` is below 1. */
NVCH_API int32_t BSB_get_kernels(char *text, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
