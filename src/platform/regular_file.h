// Opening chart files: only regular files, never blocking, and their size.
#pragma once

#include <cstdint>
#include <cstdio>

// Opens `path` with the stdio `mode` when it names a regular file; null
// for anything else (a missing file, a directory, a FIFO, a device). A FIFO
// is never waited on: opening one for reading would block until a writer
// came.
std::FILE *platform_open_regular(const char *path, const char *mode);

// Size in bytes of an open regular file, or -1 when the stream is not a
// regular file or its size cannot be read.
int64_t platform_file_size(std::FILE *fp);
