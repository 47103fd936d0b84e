#include "common/header_records.h"

#include <cstring>

std::size_t line_end_length(const char *text, std::size_t length) {
    if (length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n') return 2;
    if (length >= 1 && text[length - 1] == '\n') return 1;
    return 0;
}

void header_lines_free(HeaderLines &header) {
    for (int32_t i = 0; i < header.count; ++i) lib_free(header.lines[i]);
    lib_free(header.lines);
    header = HeaderLines{};
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
