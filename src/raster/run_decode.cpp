#include "raster/run_decode.h"

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
