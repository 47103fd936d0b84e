#include "platform/regular_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>

std::FILE *platform_open_regular(const char *path, const char *mode) {
    // Windows has no FIFOs in the file system; pipes and devices are told
    // apart from disk files once opened.
    std::FILE *fp = std::fopen(path, mode);
    if (fp == nullptr) return nullptr;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp)));
    struct _stati64 st;
    if (GetFileType(handle) != FILE_TYPE_DISK || _fstati64(_fileno(fp), &st) != 0 ||
        (st.st_mode & _S_IFMT) != _S_IFREG) {
        std::fclose(fp);
        return nullptr;
    }
    return fp;
}

int64_t platform_file_size(std::FILE *fp) {
    struct _stati64 st;
    if (_fstati64(_fileno(fp), &st) != 0) return -1;
    if ((st.st_mode & _S_IFMT) != _S_IFREG) return -1;
    return st.st_size;
}
#else
#include <fcntl.h>
#include <unistd.h>

std::FILE *platform_open_regular(const char *path, const char *mode) {
    // Non-blocking, so that a FIFO does not wait for a writer; the check on
    // the open descriptor cannot be raced by a rename.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        close(fd);
        return nullptr;
    }
    std::FILE *fp = fdopen(fd, mode);
    if (fp == nullptr) close(fd);
    return fp;
}

int64_t platform_file_size(std::FILE *fp) {
    struct stat st;
    if (fstat(fileno(fp), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}
#endif
