#include "chart/reader_texts.h"

#include <cstring>

#include "bsb.h"
#include "raster/kernels.h"

int32_t copy_text_out(std::string_view text, char *out, int32_t size) {
    if (out == nullptr || size < 1 || text.size() > static_cast<std::size_t>(INT32_MAX)) return -1;
    const std::size_t n = text.size() < static_cast<std::size_t>(size) ? text.size() : static_cast<std::size_t>(size) - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<int32_t>(text.size());
}

extern "C" int32_t BSB_get_kernels(char *text, int32_t size) { return copy_text_out(kernels_in_use(), text, size); }
