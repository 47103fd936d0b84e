// Two-dimensional arrays over inclusive index ranges, m[i][j] for
// row_low <= i <= row_high and column_low <= j <= column_high. Each is two
// heap blocks: row pointers and one contiguous run of elements, so a row can
// be handed out as a plain pointer. Byte matrices start zero-filled; double
// matrices are not initialised. Neither is ever larger than 1 GiB.
#pragma once

#include <cstdint>

// Null when memory cannot be had, after a message on standard error
// ("allocation failure 1 in cmatrix()" for the row pointers, "... 2 ..." for
// the elements, without a line end). Sizes that overflow count as failures.
uint8_t **cmatrix(int32_t row_low, int32_t row_high, int32_t column_low, int32_t column_high);
// The same for doubles, uninitialised: null after "allocation failure 1 in
// matrix()" or "... 2 ..." on standard error, with a line end. The library
// never ends its host: the caller fails what it was doing.
double **matrix(int32_t row_low, int32_t row_high, int32_t column_low, int32_t column_high);

// Only row_low and column_low locate the blocks; the others are ignored.
void release_cmatrix(uint8_t **m, int32_t row_low, int32_t row_high, int32_t column_low,
                     int32_t column_high);
void release_matrix(double **m, int32_t row_low, int32_t row_high, int32_t column_low,
                    int32_t column_high);
