// Opening test charts with the reader, their output captured, and closing
// them again at the end of the test.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bsb.h"
#include "capture.h"

struct OpenedChart {
    ChartFile chart{};
    int32_t result = -1;
    Captured output;
    OpenedChart() = default;
    OpenedChart(const OpenedChart &) = delete;
    OpenedChart &operator=(const OpenedChart &) = delete;
    ~OpenedChart() { BSB_close(&chart); }

    // Every row through BSB_getrow, row after row; rows that fail stay 0.
    std::vector<uint8_t> all_rows();
};

std::unique_ptr<OpenedChart> open_chart(const std::string &path);

// Sets the skew switch for the life of the object, then switches it on.
class SkewSwitch {
public:
    explicit SkewSwitch(int32_t state) { BSB_set_skew_state(&state); }
    ~SkewSwitch() {
        const int32_t on = 1;
        BSB_set_skew_state(&on);
    }
};

// Releases a host list of `count` texts and the texts.
void release_host_list(char **list, int32_t count);
