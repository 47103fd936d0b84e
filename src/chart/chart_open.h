// The open sequence of a chart, shared by BSB_open and the tests.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Runs the open steps on a chart whose reader has an open stream: header,
// index offset, depth, rows per entry, size, palette, skew, georeferencing.
// 0, or -1 at the first failing step (after its messages).
int32_t chart_open_sequence(ChartFile *chart);
