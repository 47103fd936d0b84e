// Making and releasing a chart's reader state: one release for everything,
// used by every path that ends a reader's life.
#pragma once

#include "chart/chart_reader.h"

// A new, empty reader, or null when memory is exhausted.
ChartReader *chart_reader_new();

// Releases everything the reader owns (stream, header, scratch row, walk,
// tiled image) and the record itself. Does nothing for null.
void chart_reader_free(ChartReader *reader);

// Releases what an open or half-opened chart holds (its reader and its
// palette) and leaves the record fresh for the caller to release.
void chart_release(ChartFile *chart);
