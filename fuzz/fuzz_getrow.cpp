// BSB_getrow with arbitrary row numbers on an arbitrary chart: the input is
// a skew flag, eight row numbers (32-bit, little-endian), then the file.
#include <cstdint>
#include <cstring>
#include <vector>

#include "bsb.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    silence_output();
    constexpr size_t kRows = 8;
    if (size < 1 + 4 * kRows) return 0;
    const int32_t skew = data[0] & 1;
    BSB_set_skew_state(&skew);
    int32_t rows[kRows];
    std::memcpy(rows, data + 1, sizeof rows);
    const size_t prefix = 1 + sizeof rows;
    const std::string path = fuzz_input_file(data + prefix, size - prefix);
    ChartFile chart{};
    if (BSB_open(path.c_str(), 0, 0, 0, 0, &chart) != 0) return 0;
    if (chart.width > 0 && chart.width <= (1 << 20)) {
        std::vector<uint8_t> row(static_cast<size_t>(chart.width));
        for (int32_t r : rows) BSB_getrow(r, row.data(), &chart);
        for (int32_t r : rows) BSB_getrow(r % (chart.height > 0 ? chart.height : 1), row.data(), &chart);
    }
    BSB_close(&chart);
    return 0;
}
