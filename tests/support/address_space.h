// The largest free block of the process's address space: what a 32-bit
// host has left for one more allocation.
#pragma once

#include <algorithm>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#endif

// In bytes; 0 where it is not measured (outside Windows).
inline int64_t largest_free_block() {
#if defined(_WIN32)
    MEMORY_BASIC_INFORMATION info;
    int64_t largest = 0;
    for (const char *p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;) {
        if (info.State == MEM_FREE) largest = std::max<int64_t>(largest, static_cast<int64_t>(info.RegionSize));
        const char *next = static_cast<const char *>(info.BaseAddress) + info.RegionSize;
        if (next <= p) break;   // the top of the address space
        p = next;
    }
    return largest;
#else
    return 0;
#endif
}
