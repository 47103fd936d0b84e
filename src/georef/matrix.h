// Two-dimensional arrays of doubles over inclusive index ranges, m[i][j]
// for row_low <= i <= row_high and column_low <= j <= column_high: the
// reference-point tables of georeferencing. Each is two heap blocks: row
// pointers and one contiguous run of elements, so a row can be handed out
// as a plain pointer. Elements are not initialised. None is ever larger
// than 1 GiB.
#pragma once

#include <cstdint>

// Null when memory cannot be had, after "allocation failure 1 in matrix()"
// (the row pointers) or "... 2 ..." (the elements) and a line end on
// standard error. Sizes that overflow count as failures. The library never
// ends its host: the caller fails what it was doing.
double **matrix(int32_t row_low, int32_t row_high, int32_t column_low, int32_t column_high);

// Only row_low and column_low locate the blocks; the others are ignored.
void release_matrix(double **m, int32_t row_low, int32_t row_high, int32_t column_low, int32_t column_high);
