#include "chart/header.h"

#include <cstring>

namespace {

constexpr int kLineBuffer = 500;   // one read yields at most 499 bytes
constexpr int32_t kFirstRoom = 50;
constexpr int32_t kRoomStep = 20;

// Length of the line end that closes `text`: 2 for CR LF, 1 for a bare LF,
// 0 for a piece of a longer line that has none.
std::size_t line_end_length(const char *text, std::size_t length) {
    if (length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n') return 2;
    if (length >= 1 && text[length - 1] == '\n') return 1;
    return 0;
}

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

int32_t kap_read_header(ChartReader *reader, int32_t limit) {
    if (reader == nullptr || reader->stream == nullptr) return -1;
    ChartStream *s = reader->stream;
    stream_rewind(s);
    HeaderLines &h = reader->header;
    for (int32_t i = 0; i < h.count; ++i) lib_free(h.lines[i]);
    lib_free(h.lines);
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

const char *kap_find_record(const HeaderLines &header, const char *key) {
    if (header.lines == nullptr || key == nullptr) return nullptr;
    for (int32_t i = 0; i < header.count; ++i)
        if (std::strncmp(header.lines[i], key, 3) == 0) return header.lines[i];
    return nullptr;
}

FieldText kap_get_field(const char *record, const char *key, int32_t tokens) {
    if (record == nullptr || key == nullptr) return nullptr;
    FieldText copy(text_copy(record));
    if (!copy) return nullptr;
    char *cursor = copy.get();
    if (next_token(&cursor, "/") == nullptr) return nullptr;   // the record name

    const std::size_t key_length = std::strlen(key);
    char *token;
    while ((token = next_token(&cursor, ",")) != nullptr)
        if (std::strncmp(token, key, key_length) == 0) break;
    if (token == nullptr) return nullptr;

    // The key and its '=' take three characters, whatever the key's length.
    const std::size_t token_length = std::strlen(token);
    const char *value = token + (token_length < 3 ? token_length : 3);
    std::size_t length = std::strlen(value);
    FieldText result(static_cast<char *>(lib_malloc(length + 1)));
    if (!result) return nullptr;
    std::memcpy(result.get(), value, length + 1);

    // Further tokens; a record that ends early yields what was joined so far.
    for (int32_t n = 1; n < tokens; ++n) {
        const char *more = next_token(&cursor, ",");
        if (more == nullptr) break;
        const std::size_t more_length = std::strlen(more);
        auto *grown = static_cast<char *>(lib_realloc(result.get(), length + 1 + more_length + 1));
        if (grown == nullptr) return nullptr;
        (void)result.release();
        result.reset(grown);
        grown[length] = ',';
        std::memcpy(grown + length + 1, more, more_length + 1);
        length += 1 + more_length;
    }
    return result;
}

void text_upcase(char *text) {
    // ASCII only: in a Turkish locale toupper turns 'i' into a dotted
    // capital, and "Polyconic" would no longer read as "POLYCONIC".
    if (text == nullptr) return;
    for (; *text != '\0'; ++text)
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
}

FieldText record_without_line_end(const char *record) {
    const std::size_t length = std::strlen(record);
    return FieldText(text_copy(record, static_cast<long>(length - line_end_length(record, length))));
}
