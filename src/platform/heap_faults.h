// The allocation-failure seam of test builds. These exist only in the
// library the tests, benchmarks and fuzzers link (built with
// NVCH_TEST_SEAMS); the plug-in itself has none of them.
#pragma once

// After `n` more successful allocations, the next one fails, then
// allocation works again. A negative `n` switches it off.
void heap_fail_after(long n);
// Number of allocations made since the counter was last reset.
long heap_allocation_count();
void heap_reset_allocation_count();
// Library blocks allocated and not yet released: a test that opens and
// closes charts finds it where it started when nothing leaked.
long heap_live_blocks();
