#include "raster/run_decode.h"

#include "raster/fill.h"
#include "raster/kernels.h"

namespace {

inline void fill_plain(uint8_t *dst, uint8_t value, int32_t n) { fill_exact(dst, value, static_cast<std::size_t>(n)); }

// The two loops, once for each fill.
#define NVCH_RUN_DECODERS(suffix, target, fill)                                                                 \
    target int32_t decode_runs_##suffix(const uint8_t *&p, const uint8_t *end, RunFormat format, uint8_t *buffer, \
                                        int32_t width) {                                                         \
        int32_t i = 0;                                                                                           \
        uint8_t value = 0;                                                                                       \
        int32_t count = 0;                                                                                       \
        while (parse_run(p, end, format, value, count) == kRunRead) {                                            \
            const int32_t room = width - i;                                                                      \
            if (room <= 0) continue; /* the row is full: runs are read and dropped */                           \
            const int32_t n = count < room ? count + 1 : room;                                                   \
            fill(buffer + i, value, n);                                                                          \
            i += n;                                                                                              \
        }                                                                                                        \
        return i;                                                                                                \
    }                                                                                                            \
    target int32_t decode_until_full_##suffix(const uint8_t *&p, const uint8_t *end, RunFormat format,           \
                                              uint8_t *buffer, int32_t width) {                                  \
        int32_t i = 0;                                                                                           \
        uint8_t value = 0;                                                                                       \
        int32_t count = 0;                                                                                       \
        while (i < width && parse_run(p, end, format, value, count) == kRunRead) {                               \
            const int32_t n = count < width - i ? count + 1 : width - i;                                         \
            fill(buffer + i, value, n);                                                                          \
            i += n;                                                                                              \
        }                                                                                                        \
        return i;                                                                                                \
    }

NVCH_RUN_DECODERS(plain, , fill_plain)
NVCH_RUN_DECODERS(masked, __attribute__((target("avx512bw,avx512vl,bmi2"))), fill_masked)
#undef NVCH_RUN_DECODERS

using Decoder = int32_t (*)(const uint8_t *&, const uint8_t *, RunFormat, uint8_t *, int32_t);

}  // namespace

int32_t decode_runs(const uint8_t *&p, const uint8_t *end, RunFormat format, uint8_t *buffer, int32_t width) {
    static const Decoder decode = run_kernel_best() == RunKernel::masked ? decode_runs_masked : decode_runs_plain;
    return decode(p, end, format, buffer, width);
}

int32_t decode_runs_until_full(const uint8_t *&p, const uint8_t *end, RunFormat format, uint8_t *buffer,
                               int32_t width) {
    static const Decoder decode = run_kernel_best() == RunKernel::masked ? decode_until_full_masked : decode_until_full_plain;
    return decode(p, end, format, buffer, width);
}

PassedRow pass_over_row(const uint8_t *&p, const uint8_t *end, RunFormat format, uint8_t *buffer, int32_t width) {
    p = skip_row_number(p < end ? p + 1 : end, end);
    PassedRow passed{p, 0, false};
    if (buffer != nullptr) {
        passed.reach = decode_runs(p, end, format, buffer, width);
        // Past a terminator, or at the end; at the very end it may have
        // been either, and is taken for the end.
        passed.ended = p < end;
        return passed;
    }
    uint8_t value;
    int32_t count, status;
    while ((status = parse_run(p, end, format, value, count)) == kRunRead)
        if (passed.reach < width) passed.reach += count < width - passed.reach ? count + 1 : width - passed.reach;
    passed.ended = status == kRunEndOfRow;
    return passed;
}

int32_t kap_read_be32(ChartStream *stream) {
    int64_t value = 0;
    for (int i = 0; i < 4; ++i) value = value * 256 + stream_getc(stream);
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int32_t kap_index_offset(ChartStream *stream) {
    const int64_t remembered = stream_tell(stream);
    const int64_t size = stream_size(stream);
    if (size < 4) return -1;
    stream_seek(stream, size - 4);
    const int32_t offset = kap_read_be32(stream);
    stream_seek(stream, remembered);
    return offset;
}
