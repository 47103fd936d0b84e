#include "platform/heap.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

#if defined(NVCH_TEST_SEAMS)
#include <atomic>

#include "platform/heap_faults.h"

namespace {

// Atomic: tests read charts on several threads at once.
std::atomic<long> fail_countdown{-1};
std::atomic<long> allocation_count{0};

// True when this allocation is the one chosen to fail.
bool injected_failure() {
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    long n = fail_countdown.load(std::memory_order_relaxed);
    while (n >= 0)
        if (fail_countdown.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) return n == 0;
    return false;
}

}  // namespace

void heap_fail_after(long n) { fail_countdown.store(n); }
long heap_allocation_count() { return allocation_count.load(); }
void heap_reset_allocation_count() { allocation_count.store(0); }
#else
namespace {
constexpr bool injected_failure() { return false; }
}  // namespace
#endif

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
