// Shared pieces of the benchmarks: the benchmark chart, peak memory, and a
// plain memory copy of the same bytes to compare against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Path of a real chart, or empty (with a message) when the charts are absent.
std::string bench_chart(const char *name);

// A copy of that chart, in the temporary folder, with its "OST/1" record
// changed to `ost` (and its index moved to match); empty when the chart is
// absent.
std::string bench_chart_with_ost(const char *name, const char *ost);

// Peak resident memory of the process so far, in bytes.
std::size_t peak_memory_bytes();

// Seconds for one memcpy of `bytes` bytes between two warm buffers (the
// best of several runs).
double memcpy_seconds(std::size_t bytes);

double now_seconds();

// Keeps the compiler from dropping work whose result is not used.
inline void keep(const void *p) { asm volatile("" : : "g"(p) : "memory"); }

// Runs `summary` first, while the process's peak memory is its own, then
// the registered benchmarks; returns main's status.
int run_summary_then_benchmarks(void (*summary)(), int argc, char **argv);
