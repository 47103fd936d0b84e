// Asks the system to back a large block with large pages where it can.
// The skew rotation reads the whole-image cache along slanted lines, one
// stored row after another; with 4 KB pages nearly every read needs a new
// address translation.
#pragma once

#include <cstddef>

void platform_prefer_large_pages(void *block, std::size_t bytes);
