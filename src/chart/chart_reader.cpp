#include "chart/chart_reader.h"

#include <new>

#include "platform/heap.h"

int32_t skew_switch = 1;
double mercator_lts = 0.0;
int32_t datum_switch = 0;

ChartReader *chart_reader_new() {
    void *memory = lib_calloc(1, sizeof(ChartReader));
    return memory ? new (memory) ChartReader{} : nullptr;
}

void chart_reader_free(ChartReader *reader) {
    if (reader == nullptr) return;
    for (int32_t i = 0; i < reader->header.count; ++i) lib_free(reader->header.lines[i]);
    lib_free(reader->header.lines);
    reader->header.lines = nullptr;
    reader->header.count = 0;
    if (reader->skewed == 1) lib_free(reader->source_row);
    lib_free(reader->strip_pixels);
    lib_free(reader);
}
