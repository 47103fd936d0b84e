// Opening charts: the probe and the open sequence, on streams the callers
// have opened (from a path, or from memory in tests and fuzzers).
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// The probe on a stream opened in text mode, which it takes over and
// closes: 1 when its first 100 records make it a KAP chart, else 0 (with
// BSB_exist's messages).
int32_t chart_probe_stream(ChartStream *stream);

// Opens a zero-filled `chart` from `stream`, which it takes over: 0, or -1
// after the failing step's messages, with the stream closed and the record
// owning nothing.
int32_t chart_open_stream(ChartFile *chart, ChartStream *stream);

// Runs the open steps on a chart whose reader has an open stream: header,
// index offset, depth, rows per entry, size, palette, skew, georeferencing.
// 0, or -1 at the first failing step (after its messages).
int32_t chart_open_sequence(ChartFile *chart);
