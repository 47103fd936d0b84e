#include "platform/large_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>

void platform_prefer_large_pages(void *block, std::size_t bytes) {
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = (reinterpret_cast<uintptr_t>(block) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(page - 1);
    // Only a hint: where transparent huge pages are off, nothing changes.
    if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
}
#else
// Large pages need a privilege on Windows; the 4 KB pages serve.
void platform_prefer_large_pages(void *, std::size_t) {}
#endif
