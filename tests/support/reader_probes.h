// Functions of the reader that only tests call, built on the reader's own
// pieces: the rotation of two integers, and one run at the stream position.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "bsb.h"
#include "chart_writer.h"
#include "raster/kernels.h"
#include "raster/stored_image.h"

// (x, y) = (trunc(a c - b s), trunc(b c + a s)), saturated to 32 bits;
// returns 0.
int32_t skew_rotate(int32_t a, int32_t b, int32_t *x, int32_t *y, double s, double c);

// One run at the stream position: kRunRead with its value and pixel count
// (count + 1), kRunEndOfFile, or kRunEndOfRow at the terminator.
int32_t kap_read_run(StoredImage &image, int32_t *value, int64_t *length);

// Why a test asking for `kernel` cannot run here ("this processor lacks
// AVX2, which avx2_blocks needs"), or empty when it can (or none is asked).
std::string kernel_missing(std::optional<SkewKernel> kernel);

// Kernels by name in test names and messages.
inline void PrintTo(SkewKernel kernel, std::ostream *os) { *os << skew_kernel_info(kernel).name; }

// The upright image of an open skewed chart by the definition, from the
// file's bytes (`w` wrote them): each stored row decoded from the file on a
// zero background, each output pixel the stored pixel its rotation lands
// on (separately rounded products, truncation), 0 outside.
kap::Bytes upright_by_definition(const kap::Bytes &file, const kap::ChartWriter &w, const ChartFile &chart);
