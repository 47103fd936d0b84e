// BSB_getrow: the one place that chooses how a row is produced. An upright
// chart's row is decoded from the file; a skewed chart's is sampled from
// its stored rows. What the chart holds meanwhile stays within the budget.
#include "chart/chart_reader.h"
#include "chart/skewed_mode.h"
#include "chart/working_set.h"

extern "C" int32_t BSB_getrow(int32_t row, uint8_t *buffer, ChartFile *chart) {
    if (chart == nullptr || chart->reader == nullptr || buffer == nullptr) return -1;
    if (row < 0 || row >= chart->height) return -1;
    ChartReader &r = *chart->reader;
    working_set_begin(r);
    const int32_t result = r.mode == RowMode::stored
                               ? (kap_decode_row(r.image, r.walk, row, buffer) != nullptr ? 0 : -1)
                               : skewed_getrow(r, row, buffer);
    working_set_end(r);
    return result;
}
