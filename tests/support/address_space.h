// The largest free block of the process's address space: what a 32-bit
// host has left for one more allocation.
#pragma once

#include <algorithm>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#endif

#if defined(_WIN32)
// Calls `each` with every region of the address space, lowest first.
template <typename Each>
void each_region(Each each) {
    MEMORY_BASIC_INFORMATION info;
    for (const char *p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;) {
        each(info);
        const char *next = static_cast<const char *>(info.BaseAddress) + info.RegionSize;
        if (next <= p) break;   // the top of the address space
        p = next;
    }
}
#endif

// In bytes; 0 where it is not measured (outside Windows).
inline int64_t largest_free_block() {
#if defined(_WIN32)
    int64_t largest = 0;
    each_region([&](const MEMORY_BASIC_INFORMATION &info) {
        if (info.State == MEM_FREE) largest = std::max<int64_t>(largest, static_cast<int64_t>(info.RegionSize));
    });
    return largest;
#else
    return 0;
#endif
}

// Private memory committed by the process, in bytes (Windows only: Wine
// reports no process memory counters, but walks the address space).
inline int64_t committed_private_bytes() {
#if defined(_WIN32)
    int64_t committed = 0;
    each_region([&](const MEMORY_BASIC_INFORMATION &info) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) committed += static_cast<int64_t>(info.RegionSize);
    });
    return committed;
#else
    return 0;
#endif
}
