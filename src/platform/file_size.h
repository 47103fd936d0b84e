// Size in bytes of an open regular file, or -1 when the stream is not a
// regular file (a directory, a pipe) or its size cannot be read.
#pragma once

#include <cstdint>
#include <cstdio>

int64_t platform_file_size(std::FILE *fp);
