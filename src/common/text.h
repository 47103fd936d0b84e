// Number reading and tokenising for header texts.
//
// The conversions read like atoi and atof (leading blanks, a sign, the
// longest number that follows, 0 when there is none), but never overflow
// and never depend on the process locale: a host that switches to a locale
// with a decimal comma must still read "29.133" as 29.133.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/heap.h"

int32_t text_to_int(const char *text);
double text_to_double(const char *text);

// strtok without hidden state: skips leading delimiters, ends the token at
// the next delimiter (overwritten with a terminator) and moves `cursor`
// past it. Null when no token is left.
char *next_token(char **cursor, const char *delimiters);

// A text from the library's heap, released when it goes out of scope.
struct LibFree {
    void operator()(void *p) const { lib_free(p); }
};
using FieldText = std::unique_ptr<char, LibFree>;

// Copy of the first `limit` bytes of `text` (all of it for a negative
// limit), terminated; null when memory runs out.
char *text_copy(const char *text, long limit = -1);
