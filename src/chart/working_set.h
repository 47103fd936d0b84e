// What an open chart holds while it is read (its read window, its tiles
// and stored-row index), within the process-wide budget of common/budget.h.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// Enters an opened chart into the budget, holding nothing yet.
void working_set_join(ChartReader &reader);

// Bytes the chart holds in working sets now.
int64_t working_set_bytes(const ChartReader &reader);

// The read of a row begins and ends: while it runs nothing of the chart is
// taken; at its end other charts give back theirs until all fit.
void working_set_begin(ChartReader &reader);
void working_set_end(ChartReader &reader);
