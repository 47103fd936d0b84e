// BSB_getrow: the one place that chooses how a row is produced. An upright
// chart's row is decoded from the file; a skewed chart's is sampled from
// its stored rows.
#include "chart/chart_reader.h"
#include "chart/skewed_mode.h"

extern "C" int32_t BSB_getrow(int32_t row, uint8_t *buffer, ChartFile *chart) {
    if (chart == nullptr || chart->reader == nullptr || buffer == nullptr) return -1;
    if (row < 0 || row >= chart->height) return -1;
    ChartReader &r = *chart->reader;
    if (r.mode == RowMode::stored) return kap_decode_row(r.image, r.walk, row, buffer) != nullptr ? 0 : -1;
    return skewed_getrow(r, row, buffer);
}
