#include "platform/heap.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

long fail_countdown = -1;
long allocation_count = 0;
long unrecoverable_countdown = -1;

// True when this allocation is the one chosen to fail.
bool injected_failure() {
    ++allocation_count;
    if (fail_countdown < 0) return false;
    if (fail_countdown-- == 0) return true;
    return false;
}

}  // namespace

void *lib_malloc(std::size_t n) {
    if (injected_failure()) return nullptr;
    return std::malloc(n == 0 ? 1 : n);
}

void *lib_calloc(std::size_t count, std::size_t size) {
    if (injected_failure()) return nullptr;
    if (count == 0 || size == 0) count = size = 1;
    return std::calloc(count, size);
}

void *lib_realloc(void *p, std::size_t n) {
    if (injected_failure()) return nullptr;
    return std::realloc(p, n == 0 ? 1 : n);
}

void lib_free(void *p) { std::free(p); }

void *lib_malloc_unrecoverable(std::size_t n) {
    if (unrecoverable_countdown >= 0 && unrecoverable_countdown-- == 0) return nullptr;
    return std::malloc(n == 0 ? 1 : n);
}

void heap_fail_unrecoverable_after(long n) { unrecoverable_countdown = n; }

void *host_alloc(std::size_t n) {
    if (injected_failure()) return nullptr;
#if defined(_WIN32)
    return HeapAlloc(GetProcessHeap(), 0, n == 0 ? 1 : n);
#else
    return std::malloc(n == 0 ? 1 : n);
#endif
}

void host_release(void *p) {
    if (p == nullptr) return;
#if defined(_WIN32)
    HeapFree(GetProcessHeap(), 0, p);
#else
    std::free(p);
#endif
}

void heap_fail_after(long n) { fail_countdown = n; }
long heap_allocation_count() { return allocation_count; }
void heap_reset_allocation_count() { allocation_count = 0; }
