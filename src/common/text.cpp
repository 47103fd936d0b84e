#include "common/text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// The blanks of the C locale, whatever locale the host runs in.
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char *skip_blanks(const char *p) {
    while (is_blank(*p)) ++p;
    return p;
}

// True when the exponent of a number too large or too small to represent
// is negative, i.e. the value underflowed rather than overflowed.
bool exponent_is_negative(const char *begin, const char *end) {
    for (const char *p = begin; p < end; ++p)
        if ((*p == 'e' || *p == 'E') && p + 1 < end) return p[1] == '-';
    return false;
}

}  // namespace

int32_t text_to_int(const char *text) {
    if (text == nullptr) return 0;
    const char *p = skip_blanks(text);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT64_C(1) << 32) value = INT64_C(1) << 32;  // saturate
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

double text_to_double(const char *text) {
    if (text == nullptr) return 0.0;
    const char *p = skip_blanks(text);
    if (*p == '+' && p[1] != '-') ++p;
    const char *end = p + std::strlen(p);
    double value = 0.0;
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        const bool negative = *p == '-';
        if (exponent_is_negative(p, result.ptr)) return negative ? -0.0 : 0.0;
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    if (result.ec != std::errc()) return 0.0;
    return value;
}

char *next_token(char **cursor, const char *delimiters) {
    char *p = *cursor;
    if (p == nullptr) return nullptr;
    p += std::strspn(p, delimiters);
    if (*p == '\0') {
        *cursor = p;
        return nullptr;
    }
    char *token = p;
    p += std::strcspn(p, delimiters);
    if (*p != '\0') *p++ = '\0';
    *cursor = p;
    return token;
}

char *text_copy(const char *text, long limit) {
    std::size_t n = std::strlen(text);
    if (limit >= 0 && n > static_cast<std::size_t>(limit)) n = static_cast<std::size_t>(limit);
    auto *copy = static_cast<char *>(lib_malloc(n + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}
