// Texts the reader functions hand out, written into the caller's buffer:
// nothing crosses the library boundary to be freed.
#pragma once

#include <cstdint>
#include <string_view>

// Writes at most size - 1 bytes of `text` and a NUL into `out`. Returns the
// text's full length, or -1 when there is no buffer or no room for the NUL
// (size below 1) or the length does not fit the result.
int32_t copy_text_out(std::string_view text, char *out, int32_t size);
