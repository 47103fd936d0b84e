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
std::atomic<long> live_blocks{0};

// True when this allocation is the one chosen to fail.
bool injected_failure() {
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    long n = fail_countdown.load(std::memory_order_relaxed);
    while (n >= 0)
        if (fail_countdown.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) return n == 0;
    return false;
}

// Counts a block made (+1) or released (-1).
void count_block(const void *p, long change) {
    if (p != nullptr) live_blocks.fetch_add(change, std::memory_order_relaxed);
}

}  // namespace

void heap_fail_after(long n) { fail_countdown.store(n); }
long heap_live_blocks() { return live_blocks.load(); }
long heap_allocation_count() { return allocation_count.load(); }
void heap_reset_allocation_count() { allocation_count.store(0); }
#else
namespace {
constexpr bool injected_failure() { return false; }
void count_block(const void *, long) {}
}  // namespace
#endif

void *lib_malloc(std::size_t n) {
    if (injected_failure()) return nullptr;
    void *p = std::malloc(n == 0 ? 1 : n);
    count_block(p, 1);
    return p;
}

void *lib_calloc(std::size_t count, std::size_t size) {
    if (injected_failure()) return nullptr;
    if (count == 0 || size == 0) count = size = 1;
    void *p = std::calloc(count, size);
    count_block(p, 1);
    return p;
}

void *lib_realloc(void *p, std::size_t n) {
    if (injected_failure()) return nullptr;
    void *grown = std::realloc(p, n == 0 ? 1 : n);
    if (p == nullptr) count_block(grown, 1);   // a new block; a moved one is still one
    return grown;
}

void lib_free(void *p) {
    count_block(p, -1);
    std::free(p);
}

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
