// The byte stream of a chart file.
//
// A probe (text mode) reads header lines through the C runtime. An open
// chart (binary mode) keeps its file's name and identity, not its bytes:
// what it reads comes through a read window of its own (64 KB at a time
// to start, more while it is read onward, 64 KB again after a jump),
// filled by positional reads
// through the descriptor pool (platform/file_pool.h). Tests and fuzzers
// open streams over bytes in memory instead. Positions may lie past the
// end, as with a seek; reading there reports end of file.
//
// A file that changed since it was opened, or can no longer be read,
// fails every read from then on, after one line on standard error.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/file_pool.h"

struct ChartStream {
    std::FILE *fp = nullptr;          // text-mode streams only
    PooledFile file;                  // binary streams read by name
    uint8_t *memory = nullptr;        // or over bytes of their own
    int64_t size = 0;                 // bytes in the file when it was opened
    uint8_t *window = nullptr;        // bytes [window_at, window_at + window_length) of the file
    int64_t window_at = 0;
    int64_t window_length = 0;
    int64_t window_room = 0;          // bytes allocated for the window
    int64_t window_reach = 0;         // bytes the last refill asked for
    int64_t pos = 0;                  // where getc and gets read
    bool failed = false;              // a read failed: every further one fails
};

constexpr int kStreamEof = -1;

// Opens `path` for reading in text mode ("r"), or nothing.
ChartStream *stream_open_text(const char *path);
// Opens `path` as a regular file read by positions, or nothing. Files over
// 2 GB are refused: offsets inside a chart are signed 32-bit numbers.
ChartStream *stream_open_binary(const char *path);
// A binary stream over a copy of the given bytes (tests and fuzzers), or
// nothing.
ChartStream *stream_open_memory(const uint8_t *data, int64_t size);
void stream_close(ChartStream *s);

// The bytes [at, at + want) as far as the file has them: a pointer to the
// byte at `at`, valid until the next view or read of the stream, with
// `*available` of them there (fewer at the end of the file, 0 at or past
// it). Null when the file cannot be read.
const uint8_t *stream_view(ChartStream *s, int64_t at, int64_t want, int64_t *available);

// Reads up to `n` bytes at `at` straight into `into`, past the window:
// the bytes read (fewer at the end of the file), or -1 when the file
// cannot be read.
int64_t stream_read(ChartStream *s, int64_t at, uint8_t *into, int64_t n);

// As stream_read, through the window: parts of a file taken in order come
// a few long reads at a time (each read of a file costs far more than its
// bytes on some systems). Parts as large as the window's largest are read
// straight.
int64_t stream_copy(ChartStream *s, int64_t at, uint8_t *into, int64_t n);

// Bytes the read window holds, and giving it up until the next read.
int64_t stream_window_bytes(const ChartStream *s);
void stream_drop_window(ChartStream *s);

void stream_rewind(ChartStream *s);
// fgets: at most n-1 bytes, up to and including the first LF; null at end
// of file when nothing was read.
char *stream_gets(ChartStream *s, char *buffer, int n);
// Absolute seek; a negative position fails and leaves the stream unchanged.
bool stream_seek(ChartStream *s, int64_t position);
int64_t stream_tell(const ChartStream *s);
int64_t stream_size(const ChartStream *s);
int stream_getc(ChartStream *s);
