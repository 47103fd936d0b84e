// BSB_getrow with arbitrary row numbers on an arbitrary chart opened from
// memory: the input is a skew flag, eight row numbers (32-bit,
// little-endian), then the file. Every status is 0 or -1; a skewed chart
// gives the same rows from its cache as by decoding each stored row on
// demand; a row read twice, or out of order, reads the same.
#include <cstdint>
#include <cstring>
#include <vector>

#include "chart/chart_reader.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kRows = 8;
constexpr uint8_t kUnwritten = 0x5A;

struct Row {
    int32_t status;
    std::vector<uint8_t> pixels;
};

// One byte past the row, so that a chart turned to no column still gets a
// real buffer, and the byte past the end shows any write beyond the row.
Row read_row(ChartFile *chart, int32_t r) {
    const size_t width = static_cast<size_t>(chart->width);
    Row row{0, std::vector<uint8_t>(width + 1, kUnwritten)};
    row.status = BSB_getrow(r, row.pixels.data(), chart);
    FUZZ_CHECK(row.status == 0 || row.status == -1);
    FUZZ_CHECK(row.pixels[width] == kUnwritten);
    return row;
}

bool same(const Row &a, const Row &b) { return a.status == b.status && (a.status != 0 || a.pixels == b.pixels); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    silence_output();
    if (size < 1 + 4 * kRows) return 0;
    const int32_t skew = data[0] & 1;
    BSB_set_skew_state(&skew);
    int32_t rows[2 * kRows];
    std::memcpy(rows, data + 1, 4 * kRows);
    const size_t prefix = 1 + 4 * kRows;
    ChartFile *chart = open_chart_from_memory(data + prefix, size - prefix);
    if (chart == nullptr) return 0;
    for (size_t k = 0; k < kRows; ++k) rows[kRows + k] = chart->height > 0 ? rows[k] % chart->height : 0;
    // The second chart serves skewed rows by direct decoding.
    ChartFile *direct = open_chart_from_memory(data + prefix, size - prefix);
    FUZZ_CHECK(direct != nullptr);
    if (direct->reader->mode == RowMode::skewed_untried) direct->reader->mode = RowMode::skewed_direct;
    if (chart->width <= (1 << 20)) {
        for (int32_t r : rows) {
            const Row first = read_row(chart, r);
            FUZZ_CHECK(same(first, read_row(direct, r)));
            if (r >= 0 && r < chart->height) FUZZ_CHECK(first.status == 0 || chart->reader->mode == RowMode::stored);
        }
        // Backwards, the same rows again.
        for (size_t k = 2 * kRows; k-- > 0;) FUZZ_CHECK(same(read_row(chart, rows[k]), read_row(direct, rows[k])));
    }
    close_chart(direct);
    close_chart(chart);
    return 0;
}
