// The kernel seam of test builds. It exists only in the library the
// tests, benchmarks and fuzzers link (built with NVCH_TEST_SEAMS); the
// plug-in itself has none.
#pragma once

#include <cstdint>

enum class SkewKernel : int32_t;   // raster/kernels.h

// From now on the processor is taken to lack (or, with false, to have
// again) what `kernel` needs: a test can see how a kernel that cannot run
// is refused on any processor.
void skew_kernel_pretend_lacking(SkewKernel kernel, bool lacking);
