// BSB_getrow: the one place that chooses how a row is produced. Everything
// below it calls down: upright serving and the general skewed path sample
// stored rows, stored rows come from run decoding.
#include "raster/row_cache.h"
#include "raster/row_decode.h"
#include "raster/skew.h"
#include "raster/tiled.h"

extern "C" int32_t BSB_getrow(int32_t row, uint8_t *buffer, ChartFile *chart) {
    if (chart == nullptr || chart->reader == nullptr || buffer == nullptr) return -1;
    if (row < 0 || row >= chart->height) return -1;
    ChartReader *r = chart->reader;
    for (;;) {
        switch (r->mode) {
            case RowMode::stored:
                return kap_decode_row(row, buffer, chart) != nullptr ? 0 : -1;
            case RowMode::skewed_untried:
                row_cache_prepare(chart);   // chooses cached or direct, for good
                continue;
            case RowMode::skewed_tiled:
                tiled_image_row(*r->tiled, row, buffer);
                return 0;
            case RowMode::skewed_direct:
                return skew_getrow(buffer, row, chart, row_cache_get);
        }
        return -1;
    }
}
