// Functions of the reader that only tests call, built on the reader's own
// pieces: the rotation of two integers, and one run at the stream position.
#pragma once

#include <cstdint>

#include "chart/chart_reader.h"

// (x, y) = (trunc(a c - b s), trunc(b c + a s)), saturated to 32 bits;
// returns 0.
int32_t skew_rotate(int32_t a, int32_t b, int32_t *x, int32_t *y, double s, double c);

// One run at the stream position: kRunRead with its value and pixel count
// (count + 1), kRunEndOfFile, or kRunEndOfRow at the terminator.
int32_t kap_read_run(ChartReader *reader, int32_t *value, int64_t *length);
