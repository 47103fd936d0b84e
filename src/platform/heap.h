// Memory for the library and memory for the host.
//
// The library keeps its records, scratch buffers and texts on the C runtime
// heap. Everything handed to the host comes from the process heap, which the
// host releases with its own call (HeapFree on Windows, free elsewhere).
// All library allocations pass through here so that tests can make any one
// of them fail and check that every path releases what it took.
#pragma once

#include <cstddef>

void *lib_malloc(std::size_t n);
void *lib_calloc(std::size_t count, std::size_t size);
void *lib_realloc(void *p, std::size_t n);
void lib_free(void *p);

// For allocations whose failure ends the process (the georeferencing
// matrices). Their fault injection is separate, so that a test can make
// every recoverable allocation fail in turn without ending itself.
void *lib_malloc_unrecoverable(std::size_t n);
void heap_fail_unrecoverable_after(long n);

// Process-heap memory for the host; never released by the library.
void *host_alloc(std::size_t n);
// Releases host memory the way a host does (used by tests and helpers).
void host_release(void *p);

// Fault injection: after `n` more successful allocations, the next one
// fails, then allocation works again. A negative `n` switches it off.
void heap_fail_after(long n);
// Number of allocations made since the counter was last reset.
long heap_allocation_count();
void heap_reset_allocation_count();
