#include "host/text_copy.h"

#include <cstring>

#include "platform/heap.h"

char *host_strdup(const char *text) {
    const std::size_t n = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(host_alloc(n));
    if (copy != nullptr) std::memcpy(copy, text, n);
    return copy;
}

char **host_single_list(const char *item) {
    auto **list = static_cast<char **>(host_alloc(sizeof(char *)));
    if (list != nullptr) list[0] = host_strdup(item);
    return list;
}
