#include "chart/header.h"

#include <cstring>

namespace {

constexpr int kLineBuffer = 500;   // one read yields at most 499 bytes
constexpr int32_t kFirstRoom = 50;
constexpr int32_t kRoomStep = 20;

bool store_record(HeaderLines &h, const char *line) {
    char *copy = text_copy(line);
    if (copy == nullptr) return false;
    h.lines[h.count++] = copy;
    h.last_length = std::strlen(copy);
    h.last_capacity = h.last_length + 1;
    return true;
}

bool grow_if_full(HeaderLines &h) {
    if (h.count < h.room) return true;
    void *more = lib_realloc(h.lines, sizeof(char *) * static_cast<std::size_t>(h.room + kRoomStep));
    if (more == nullptr) return false;
    h.lines = static_cast<char **>(more);
    h.room += kRoomStep;
    return true;
}

// Appends a continuation line (its four leading blanks dropped) to the last
// record, so that exactly one comma separates the two lines' fields. Only
// the record's own line end is removed, whatever its form.
bool join_continuation(HeaderLines &h, const char *line) {
    if (h.count == 0) return true;   // nothing to continue: the line is dropped
    char *record = h.lines[h.count - 1];
    const std::size_t length = h.last_length;
    const std::size_t kept = length - line_end_length(record, length);
    const bool add_comma = kept > 0 && record[kept - 1] != ',';
    const char *tail = line + 4;
    const std::size_t tail_length = std::strlen(tail);
    const std::size_t needed = kept + (add_comma ? 1 : 0) + tail_length + 1;
    if (needed > h.last_capacity) {
        // Grows geometrically, so that many joins copy the record few times.
        const std::size_t capacity = needed > 2 * h.last_capacity ? needed : 2 * h.last_capacity;
        auto *grown = static_cast<char *>(lib_realloc(record, capacity));
        if (grown == nullptr) return false;
        record = h.lines[h.count - 1] = grown;
        h.last_capacity = capacity;
    }
    std::size_t at = kept;
    if (add_comma) record[at++] = ',';
    std::memcpy(record + at, tail, tail_length + 1);
    h.last_length = needed - 1;
    return true;
}

bool classify_and_store(HeaderLines &h, const char *line) {
    if (line[0] == '!') return true;
    if (std::strncmp(line, "    ", 4) == 0) return join_continuation(h, line);
    return store_record(h, line);
}

}  // namespace

int32_t kap_read_header(HeaderLines &h, ChartStream *s, int32_t limit) {
    if (s == nullptr) return -1;
    stream_rewind(s);
    header_lines_free(h);
    h.lines = static_cast<char **>(lib_malloc(sizeof(char *) * kFirstRoom));
    if (h.lines == nullptr) return -1;
    h.count = 0;
    h.room = kFirstRoom;

    char line[kLineBuffer];
    if (stream_gets(s, line, kLineBuffer) == nullptr) return 0;
    for (;;) {
        if (h.count >= limit) break;
        if (line[0] == '\x1a') break;
        if (!classify_and_store(h, line) || !grow_if_full(h)) return -1;
        if (stream_gets(s, line, kLineBuffer) == nullptr) break;
    }
    return h.count;
}
