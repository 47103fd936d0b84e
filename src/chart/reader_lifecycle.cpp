#include "chart/reader_lifecycle.h"

#include <new>

#include "platform/heap.h"
#include "raster/row_cache.h"

ChartReader *chart_reader_new() {
    void *memory = lib_calloc(1, sizeof(ChartReader));
    return memory ? new (memory) ChartReader{} : nullptr;
}

void chart_reader_free(ChartReader *reader) {
    if (reader == nullptr) return;
    stream_close(reader->stream);
    for (int32_t i = 0; i < reader->header.count; ++i) lib_free(reader->header.lines[i]);
    lib_free(reader->header.lines);
    lib_free(reader->source_row);
    lib_free(reader->walk.overlay);
    row_cache_free(reader);
    lib_free(reader);
}

void chart_release(ChartFile *chart) {
    if (chart == nullptr) return;
    chart_reader_free(chart->reader);
    chart->reader = nullptr;
    lib_free(chart->palette_red);
    lib_free(chart->palette_green);
    lib_free(chart->palette_blue);
    chart->palette_red = chart->palette_green = chart->palette_blue = nullptr;
}
