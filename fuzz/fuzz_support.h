// Shared pieces of the fuzz targets: opening charts from the input bytes,
// driving every export, and the invariants the targets assert.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bsb.h"

// Stops the run with a message when an invariant does not hold, so that
// libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) fuzz_invariant_failed(#condition, __FILE__, __LINE__);       \
    } while (0)
[[noreturn]] void fuzz_invariant_failed(const char *condition, const char *file, int line);

// A chart opened from the bytes as BSB_open opens a file, or null. The
// record comes from the library's heap; close it with close_chart.
ChartFile *open_chart_from_memory(const uint8_t *data, size_t size);
void close_chart(ChartFile *chart);

// The probe (BSB_exist after it opened the file) on the bytes.
int32_t probe_from_memory(const uint8_t *data, size_t size);

// Calls every export of the host interface on an open chart: layer names,
// layer, map information, colour table, coordinate system, and every block
// (within a size bound), each block checked against BSB_getrow.
void drive_host_interface(ChartFile *chart);

// True when the chart's rows are few and short enough to read them all.
bool small_enough_to_read(const ChartFile *chart);

// Output to standard output and standard error is thrown away: the reader
// prints a line for most damaged charts.
void silence_output();
