#include "reader_probes.h"

#include <cmath>
#include <vector>

#include "chart/chart_reader.h"
#include "raster/run_decode.h"
#include "raster/skew.h"

namespace {

int32_t saturate(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace

int32_t skew_rotate(int32_t a, int32_t b, int32_t *x, int32_t *y, double s, double c) {
    const SkewPoint p = skew_rotate_wide(a, b, s, c);
    *x = saturate(p.x);
    *y = saturate(p.y);
    return 0;
}

int32_t kap_read_run(StoredImage &image, int32_t *value, int64_t *length) {
    ChartStream *s = image.stream;
    int64_t available = 0;
    const uint8_t *start = stream_view(s, stream_tell(s), INT64_C(1) << 20, &available);
    if (start == nullptr) return kRunEndOfFile;
    const uint8_t *p = start;
    uint8_t v = 0;
    int32_t count = 0;
    const int32_t status = parse_run(p, start + available, stored_format(image), v, count);
    stream_seek(s, stream_tell(s) + (p - start));
    if (status != kRunRead) return status;
    *value = v;
    *length = static_cast<int64_t>(count) + 1;
    return kRunRead;
}

std::string kernel_missing(std::optional<SkewKernel> kernel) {
    if (!kernel) return "";
    const KernelInfo<SkewKernel> &k = skew_kernel_info(*kernel);
    if (skew_kernel_runs(*kernel)) return "";
    return std::string("this processor lacks ") + k.needs + ", which " + k.name + " needs";
}

kap::Bytes upright_by_definition(const kap::Bytes &file, const kap::ChartWriter &w, const ChartFile &chart) {
    const ChartReader &r = *chart.reader;
    std::vector<kap::Bytes> stored;
    for (int y = 0; y < r.image.height; ++y) {
        kap::Bytes row(static_cast<size_t>(r.image.width), 0);
        kap::decode_row_by_definition(file, w.depth, w.rows_per_entry, y, row);
        stored.push_back(std::move(row));
    }
    kap::Bytes out(static_cast<size_t>(chart.width) * chart.height);
    const double s = std::sin(r.skew.angle), c = std::cos(r.skew.angle);
    for (int32_t row = 0; row < chart.height; ++row)
        for (int32_t i = 0; i < chart.width; ++i) {
            const double a = r.skew.min_x + i, b = r.skew.min_y + row;
            const auto x = static_cast<int64_t>(a * c - b * s), y = static_cast<int64_t>(b * c + a * s);
            const bool inside = x >= 0 && x < r.image.width && y >= 0 && y < r.image.height;
            out[static_cast<size_t>(row) * chart.width + i] = inside ? stored[static_cast<size_t>(y)][static_cast<size_t>(x)] : 0;
        }
    return out;
}

