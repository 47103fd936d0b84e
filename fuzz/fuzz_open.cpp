// A whole chart from arbitrary bytes, opened from memory: the probe, the
// open, then the host interface with every block and every query, each
// block checked against BSB_getrow. The first byte chooses whether skew
// correction is on; the rest is the file.
#include <cstdint>

#include "chart/chart_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    silence_output();
    if (size == 0) return 0;
    const int32_t skew = data[0] & 1;
    BSB_set_skew_state(&skew);
    const int32_t probed = probe_from_memory(data + 1, size - 1);
    FUZZ_CHECK(probed == 0 || probed == 1);
    ChartFile *chart = open_chart_from_memory(data + 1, size - 1);
    if (chart == nullptr) return 0;
    // A stored image of a few pixels may turn into no whole pixel at all.
    FUZZ_CHECK(chart->width >= 0 && chart->height >= 0);
    if (!chart_is_skewed(chart->reader)) FUZZ_CHECK(chart->width > 0 && chart->height > 0);
    drive_host_interface(chart);
    close_chart(chart);
    return 0;
}
