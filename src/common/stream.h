// The byte stream of a chart file.
//
// A probe (text mode) reads header lines through the C runtime. An open
// chart (binary mode) holds the whole file in memory: rows are reached by
// random access through the index table, and decoding straight from memory
// is many times faster than a byte loop over a buffered file. Positions may
// lie past the end, as with a seek; reading there reports end of file.
#pragma once

#include <cstdint>
#include <cstdio>

struct ChartStream {
    std::FILE *fp = nullptr;         // text-mode streams only
    const uint8_t *data = nullptr;   // binary streams: the file's bytes
    int64_t size = 0;
    int64_t pos = 0;
};

constexpr int kStreamEof = -1;

// Opens `path` for reading in text mode ("r"), or nothing.
ChartStream *stream_open_text(const char *path);
// Opens `path` in binary mode ("rb") and reads it whole, or nothing.
ChartStream *stream_open_binary(const char *path);
// A binary stream over a copy of the given bytes (header text in tests and
// fuzzers), or nothing.
ChartStream *stream_open_memory(const uint8_t *data, int64_t size);
void stream_close(ChartStream *s);

void stream_rewind(ChartStream *s);
// fgets: at most n-1 bytes, up to and including the first LF; null at end
// of file when nothing was read.
char *stream_gets(ChartStream *s, char *buffer, int n);
// Absolute seek; a negative position fails and leaves the stream unchanged.
bool stream_seek(ChartStream *s, int64_t position);
int64_t stream_tell(const ChartStream *s);
int64_t stream_size(const ChartStream *s);

inline int stream_getc(ChartStream *s) {
    if (s->pos < s->size) return s->data[s->pos++];
    return kStreamEof;
}

// The unread bytes of a binary stream: [begin, end).
inline const uint8_t *stream_cursor(const ChartStream *s) {
    return s->data + (s->pos < s->size ? s->pos : s->size);
}
inline const uint8_t *stream_end(const ChartStream *s) { return s->data + s->size; }
inline void stream_advance_to(ChartStream *s, const uint8_t *p) { s->pos = p - s->data; }
