#include "chart/reader_lifecycle.h"

#include <new>

#include "platform/heap.h"
#include "raster/tiled.h"

ChartReader *chart_reader_new() {
    void *memory = lib_calloc(1, sizeof(ChartReader));
    return memory ? new (memory) ChartReader{} : nullptr;
}

void chart_reader_free(ChartReader *reader) {
    if (reader == nullptr) return;
    budget_leave(&reader->budget);   // from now on no other chart's read releases anything of it
    stream_close(reader->image.stream);
    kap_free_index(reader->image);
    header_lines_free(reader->header);
    lib_free(reader->scratch.row);
    entry_walk_free(reader->walk);
    tiled_image_free(reader->tiled);
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
