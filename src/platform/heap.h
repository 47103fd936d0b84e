// Memory for the library and memory for the host.
//
// The library keeps its records, scratch buffers and texts on the C runtime
// heap. Everything handed to the host comes from the process heap, which the
// host releases with its own call (HeapFree on Windows, free elsewhere).
// All library allocations pass through here, so that test builds can make
// any one of them fail (platform/heap_faults.h).
#pragma once

#include <cstddef>

void *lib_malloc(std::size_t n);
void *lib_calloc(std::size_t count, std::size_t size);
void *lib_realloc(void *p, std::size_t n);
void lib_free(void *p);

// Process-heap memory for the host; never released by the library.
void *host_alloc(std::size_t n);
// Releases host memory the way a host does (used by tests and helpers).
void host_release(void *p);
