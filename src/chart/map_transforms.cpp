// BSB_pixel_to_latlon and BSB_latlon_to_pixel: the delivered pixels of an
// open chart to latitude and longitude and back, through the fit and the
// projection its open used; and BSB_get_row_extent, the part of a
// delivered row that shows the chart.
#include "chart/chart_reader.h"

namespace {

bool arguments_hold(const ChartFile *chart, int32_t count, const void *a, const void *b, const void *c,
                    const void *d) {
    if (chart == nullptr || chart->reader == nullptr || count < 0) return false;
    return count == 0 || (a != nullptr && b != nullptr && c != nullptr && d != nullptr);
}

}  // namespace

extern "C" int32_t BSB_pixel_to_latlon(const ChartFile *chart, int32_t count, const double *x, const double *y,
                                       double *lat, double *lon) {
    if (!arguments_hold(chart, count, x, y, lat, lon)) return -1;
    const ChartReader &r = *chart->reader;
    if (!r.map.invertible) return -1;
    if (!chart_is_stored_turned(&r)) return map_pixel_to_latlon(r.map, count, x, y, lat, lon);
    // Stored positions of a chart served as stored: through the turn first,
    // the upright positions held where the results go.
    for (int32_t i = 0; i < count; ++i) skew_stored_to_upright(r.skew, x[i], y[i], &lat[i], &lon[i]);
    return map_pixel_to_latlon(r.map, count, lat, lon, lat, lon);
}

extern "C" int32_t BSB_latlon_to_pixel(const ChartFile *chart, int32_t count, const double *lat, const double *lon,
                                       double *x, double *y) {
    if (!arguments_hold(chart, count, lat, lon, x, y)) return -1;
    const ChartReader &r = *chart->reader;
    if (map_latlon_to_pixel(r.map, count, lat, lon, x, y) != 0) return -1;
    if (chart_is_stored_turned(&r))
        for (int32_t i = 0; i < count; ++i) skew_upright_to_stored(r.skew, x[i], y[i], &x[i], &y[i]);
    return 0;
}

extern "C" int32_t BSB_get_row_extent(const ChartFile *chart, int32_t row, int32_t *begin, int32_t *end) {
    if (chart == nullptr || chart->reader == nullptr || begin == nullptr || end == nullptr) return -1;
    if (row < 0 || row >= chart->height) return -1;
    const ChartReader &r = *chart->reader;
    if (!chart_is_skewed(&r)) {
        *begin = 0;
        *end = chart->width;
        return 0;
    }
    skew_row_span(r.skew, r.image.width, r.image.height, row, begin, end);
    return 0;
}
