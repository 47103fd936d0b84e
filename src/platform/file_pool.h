// Chart files read by name through a small pool of open descriptors.
//
// A host may hold a whole region of charts open (a thousand and more); one
// descriptor each would use up what the process has. An open chart keeps
// its file's name and identity instead, and borrows a descriptor from the
// pool while it reads: the pool keeps the most recently used open and
// opens the name again when a chart's has been given to another. Reads are
// positional (no shared file position), so threads reading different
// charts never disturb each other.
//
// A file that changed since it was opened (another size, another
// modification time, or another file under the name) is never read again:
// its reads fail, so that no chart serves another file's bytes.
#pragma once

#include <cstdint>

// What identifies a file's contents: its size, its last modification and
// the file itself (device and inode, or volume and file index).
struct FileIdentity {
    int64_t size = -1;
    int64_t modified = 0;   // nanoseconds, in the system's own epoch
    uint64_t volume = 0;
    uint64_t file = 0;
};

inline bool same_file(const FileIdentity &a, const FileIdentity &b) {
    return a.size == b.size && a.modified == b.modified && a.volume == b.volume && a.file == b.file;
}

constexpr int32_t kPooledOk = 0;
constexpr int32_t kPooledChanged = 1;       // the file is no longer the one opened
constexpr int32_t kPooledUnreadable = 2;    // it cannot be opened or read any more

// A chart file known by name. Plain record: zero-filled is closed.
struct PooledFile {
    char *path = nullptr;          // the name it was opened under (library heap)
    FileIdentity identity;         // as it was at open
    int32_t slot = -1;             // the pool entry that may hold its descriptor
    uint32_t ticket = 0;           // which use of that entry was its
    int32_t fault = kPooledOk;     // once not kPooledOk, every read fails
};

// Opens `path` when it names a regular file (never waiting on a FIFO) and
// records its identity; the descriptor stays in the pool. 0, or -1 (the
// record then owns nothing).
int32_t pooled_open(PooledFile *file, const char *path);

// Reads up to `n` bytes at `offset` into `into`: the bytes read (fewer at
// the end of the file), or -1 when the file changed or cannot be read
// (`fault` then says which, for good).
int64_t pooled_read(PooledFile *file, int64_t offset, void *into, int64_t n);

// Gives back the descriptor, if the pool still holds it for this file, and
// releases the name. Does nothing for a closed record.
void pooled_close(PooledFile *file);

// Descriptors the pool holds open at most.
constexpr int32_t kPoolDescriptors = 16;

// Descriptors open now, and reads and bytes read through the pool so far
// (for benchmarks and tests).
int32_t pool_descriptors_open();
int64_t pool_reads();
int64_t pool_bytes_read();

// Closes every descriptor no read is using: the next read of each file
// opens its name again (tests use it to show what a reopen finds).
void pool_close_idle();
