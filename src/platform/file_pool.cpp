#include "platform/file_pool.h"

#include <atomic>
#include <cstring>

#include "platform/heap.h"
#include "platform/lock.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
using Descriptor = HANDLE;
const Descriptor kNoDescriptor = INVALID_HANDLE_VALUE;

// Others may read, replace or delete the file while a chart has it open,
// as they may on any other system.
Descriptor open_descriptor(const char *path) {
    const HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    if (GetFileType(h) != FILE_TYPE_DISK) {   // a pipe or a device named like a chart
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

void close_descriptor(Descriptor d) { CloseHandle(d); }

bool identify(Descriptor d, FileIdentity *id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(d, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    id->size = static_cast<int64_t>(static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
    id->modified = static_cast<int64_t>(static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                                        info.ftLastWriteTime.dwLowDateTime);
    id->volume = info.dwVolumeSerialNumber;
    id->file = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
}

// Size and modification time alone: the volume's serial number costs a
// request to the volume's driver (under Wine, a round trip through another
// process), and the file behind a descriptor held open stays the same.
bool state_of(Descriptor d, FileIdentity *id) {
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(d, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(d, FileStandardInfo, &standard, sizeof standard))
        return false;
    id->size = standard.EndOfFile.QuadPart;
    id->modified = basic.LastWriteTime.QuadPart;
    return true;
}

// Bytes read at `offset`, or -1.
int64_t read_at(Descriptor d, int64_t offset, uint8_t *into, int64_t n) {
    int64_t got = 0;
    while (got < n) {
        OVERLAPPED at{};
        const uint64_t where = static_cast<uint64_t>(offset + got);
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const DWORD want = static_cast<DWORD>(n - got < (INT64_C(1) << 30) ? n - got : INT64_C(1) << 30);
        DWORD read = 0;
        if (!ReadFile(d, into + got, want, &read, &at)) return GetLastError() == ERROR_HANDLE_EOF ? got : -1;
        if (read == 0) break;
        got += read;
    }
    return got;
}
#else
using Descriptor = int;
constexpr Descriptor kNoDescriptor = -1;

// Non-blocking, so that a FIFO does not wait for a writer; a FIFO or a
// device then fails the identity check, which wants a regular file.
Descriptor open_descriptor(const char *path) { return open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

void close_descriptor(Descriptor d) { close(d); }

bool identify(Descriptor d, FileIdentity *id) {
    struct stat st;
    if (fstat(d, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id->size = st.st_size;
    id->modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id->volume = static_cast<uint64_t>(st.st_dev);
    id->file = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool state_of(Descriptor d, FileIdentity *id) { return identify(d, id); }

int64_t read_at(Descriptor d, int64_t offset, uint8_t *into, int64_t n) {
    int64_t got = 0;
    while (got < n) {
        const ssize_t read = pread(d, into + got, static_cast<size_t>(n - got), static_cast<off_t>(offset + got));
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) return -1;
        if (read == 0) break;
        got += read;
    }
    return got;
}
#endif

// One descriptor of the pool: whose it is, since which use (`ticket`), and
// how many reads are using it now.
struct Entry {
    Descriptor descriptor = kNoDescriptor;
    const PooledFile *owner = nullptr;
    uint32_t ticket = 0;
    int32_t users = 0;
    uint64_t last_use = 0;
};

struct Pool {
    Mutex lock;
    Entry entries[kPoolDescriptors];
    uint32_t tickets = 0;
    uint64_t clock = 0;

    // The library is being unloaded: its descriptors are closed with it.
    ~Pool() {
        for (Entry &e : entries)
            if (e.descriptor != kNoDescriptor) close_descriptor(e.descriptor);
    }
};

Pool &the_pool() {
    static Pool p;
    return p;
}

std::atomic<int32_t> descriptors_open{0};
std::atomic<int64_t> reads{0};
std::atomic<int64_t> bytes_read{0};

// The descriptor of `file`, opened again by name when the pool has given it
// away (`reopened` then says so); `slot` receives the pool entry, or -1 for
// a descriptor of its own (every entry busy), which the caller closes.
// Under the pool's lock.
Descriptor borrow(Pool &p, PooledFile *file, int32_t *slot, bool *reopened) {
    *reopened = false;
    if (file->slot >= 0) {
        Entry &e = p.entries[file->slot];
        if (e.owner == file && e.ticket == file->ticket) {
            ++e.users;
            *slot = file->slot;
            return e.descriptor;
        }
    }
    const Descriptor d = open_descriptor(file->path);
    if (d == kNoDescriptor) return d;
    *reopened = true;
    descriptors_open.fetch_add(1);
    // An empty entry, else the one idle longest.
    int32_t best = -1;
    for (int32_t k = 0; k < kPoolDescriptors && (best < 0 || p.entries[best].descriptor != kNoDescriptor); ++k) {
        const Entry &e = p.entries[k];
        if (e.users == 0 && (best < 0 || e.descriptor == kNoDescriptor || e.last_use < p.entries[best].last_use))
            best = k;
    }
    *slot = best;
    if (best < 0) return d;
    Entry &e = p.entries[best];
    if (e.descriptor != kNoDescriptor) {
        close_descriptor(e.descriptor);
        descriptors_open.fetch_sub(1);
    }
    e = Entry{d, file, ++p.tickets, 1, p.clock};
    file->slot = best;
    file->ticket = e.ticket;
    return d;
}

void give_back(Pool &p, int32_t slot, Descriptor d) {
    if (slot < 0) {
        close_descriptor(d);
        descriptors_open.fetch_sub(1);
        return;
    }
    Entry &e = p.entries[slot];
    --e.users;
    e.last_use = ++p.clock;
}

}  // namespace

int32_t pooled_open(PooledFile *file, const char *path) {
    *file = PooledFile{};
    if (path == nullptr) return -1;
    const std::size_t length = std::strlen(path);
    file->path = static_cast<char *>(lib_malloc(length + 1));
    if (file->path == nullptr) return -1;
    std::memcpy(file->path, path, length + 1);
    Pool &p = the_pool();
    p.lock.lock();
    int32_t slot = -1;
    bool reopened = false;
    const Descriptor d = borrow(p, file, &slot, &reopened);
    const bool regular = d != kNoDescriptor && identify(d, &file->identity);
    if (d != kNoDescriptor) give_back(p, slot, d);
    p.lock.unlock();
    if (!regular) {
        pooled_close(file);
        return -1;
    }
    return 0;
}

int64_t pooled_read(PooledFile *file, int64_t offset, void *into, int64_t n) {
    if (file->fault != kPooledOk || file->path == nullptr || offset < 0 || n < 0) return -1;
    Pool &p = the_pool();
    p.lock.lock();
    int32_t slot = -1;
    bool reopened = false;
    const Descriptor d = borrow(p, file, &slot, &reopened);
    p.lock.unlock();
    if (d == kNoDescriptor) {
        file->fault = kPooledUnreadable;
        return -1;
    }
    // The file as it is now must still be the one opened: a file replaced
    // under the name, truncated or rewritten since is never read. Through
    // a descriptor kept open, the file is the one it was opened on.
    FileIdentity now = file->identity;
    int64_t got = -1;
    if (!(reopened ? identify(d, &now) : state_of(d, &now)))
        file->fault = kPooledUnreadable;
    else if (!same_file(now, file->identity))
        file->fault = kPooledChanged;
    else if ((got = read_at(d, offset, static_cast<uint8_t *>(into), n)) < 0)
        file->fault = kPooledUnreadable;
    else {
        reads.fetch_add(1, std::memory_order_relaxed);
        bytes_read.fetch_add(got, std::memory_order_relaxed);
    }
    p.lock.lock();
    give_back(p, slot, d);
    p.lock.unlock();
    return file->fault == kPooledOk ? got : -1;
}

void pooled_close(PooledFile *file) {
    if (file->path == nullptr) return;
    Pool &p = the_pool();
    p.lock.lock();
    if (file->slot >= 0) {
        Entry &e = p.entries[file->slot];
        if (e.owner == file && e.ticket == file->ticket && e.users == 0) {
            close_descriptor(e.descriptor);
            descriptors_open.fetch_sub(1);
            e = Entry{};
        }
    }
    p.lock.unlock();
    lib_free(file->path);
    *file = PooledFile{};
}

int32_t pool_descriptors_open() { return descriptors_open.load(); }
int64_t pool_reads() { return reads.load(); }
int64_t pool_bytes_read() { return bytes_read.load(); }

void pool_close_idle() {
    Pool &p = the_pool();
    p.lock.lock();
    for (Entry &e : p.entries) {
        if (e.descriptor == kNoDescriptor || e.users != 0) continue;
        close_descriptor(e.descriptor);
        descriptors_open.fetch_sub(1);
        e = Entry{};
    }
    p.lock.unlock();
}
