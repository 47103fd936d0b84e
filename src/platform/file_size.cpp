#include "platform/file_size.h"

#include <sys/stat.h>
#include <sys/types.h>

#if defined(_WIN32)
#include <io.h>

int64_t platform_file_size(std::FILE *fp) {
    struct _stati64 st;
    if (_fstati64(_fileno(fp), &st) != 0) return -1;
    if ((st.st_mode & _S_IFMT) != _S_IFREG) return -1;
    return st.st_size;
}
#else
int64_t platform_file_size(std::FILE *fp) {
    struct stat st;
    if (fstat(fileno(fp), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}
#endif
