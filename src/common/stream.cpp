#include "common/stream.h"

#include <climits>
#include <cstring>
#include <new>

#include "platform/regular_file.h"
#include "platform/heap.h"

namespace {

ChartStream *stream_new() {
    void *memory = lib_calloc(1, sizeof(ChartStream));
    return memory ? new (memory) ChartStream{} : nullptr;
}

// Reads the whole of an open file, or fails. Offsets inside a chart are
// signed 32-bit numbers, so a larger file could not be addressed anyway.
bool read_whole_file(std::FILE *fp, ChartStream *s) {
    const int64_t size = platform_file_size(fp);
    if (size < 0 || size > INT32_MAX) return false;
    auto *bytes = static_cast<uint8_t *>(lib_malloc(static_cast<std::size_t>(size)));
    if (bytes == nullptr) return false;
    const std::size_t got = std::fread(bytes, 1, static_cast<std::size_t>(size), fp);
    if (std::ferror(fp)) {
        lib_free(bytes);
        return false;
    }
    s->data = bytes;
    s->size = static_cast<int64_t>(got);
    return true;
}

}  // namespace

ChartStream *stream_open_text(const char *path) {
    if (path == nullptr) return nullptr;
    std::FILE *fp = platform_open_regular(path, "r");
    if (fp == nullptr) return nullptr;
    ChartStream *s = stream_new();
    if (s == nullptr) {
        std::fclose(fp);
        return nullptr;
    }
    s->fp = fp;
    return s;
}

ChartStream *stream_open_binary(const char *path) {
    if (path == nullptr) return nullptr;
    std::FILE *fp = platform_open_regular(path, "rb");
    if (fp == nullptr) return nullptr;
    ChartStream *s = stream_new();
    const bool loaded = s != nullptr && read_whole_file(fp, s);
    std::fclose(fp);
    if (!loaded) {
        lib_free(s);
        return nullptr;
    }
    return s;
}

ChartStream *stream_open_memory(const uint8_t *data, int64_t size) {
    ChartStream *s = stream_new();
    if (s == nullptr) return nullptr;
    auto *bytes = static_cast<uint8_t *>(lib_malloc(static_cast<std::size_t>(size)));
    if (bytes == nullptr) {
        lib_free(s);
        return nullptr;
    }
    if (size > 0) std::memcpy(bytes, data, static_cast<std::size_t>(size));
    s->data = bytes;
    s->size = size;
    return s;
}

void stream_close(ChartStream *s) {
    if (s == nullptr) return;
    if (s->fp != nullptr) std::fclose(s->fp);
    lib_free(const_cast<uint8_t *>(s->data));
    lib_free(s);
}

void stream_rewind(ChartStream *s) {
    if (s->fp != nullptr) std::rewind(s->fp);
    s->pos = 0;
}

char *stream_gets(ChartStream *s, char *buffer, int n) {
    if (s->fp != nullptr) return std::fgets(buffer, n, s->fp);
    if (n <= 0 || s->pos >= s->size) return nullptr;
    const uint8_t *from = s->data + s->pos;
    int64_t take = s->size - s->pos;
    if (take > n - 1) take = n - 1;
    const void *lf = std::memchr(from, '\n', static_cast<std::size_t>(take));
    if (lf != nullptr) take = static_cast<const uint8_t *>(lf) - from + 1;
    std::memcpy(buffer, from, static_cast<std::size_t>(take));
    buffer[take] = '\0';
    s->pos += take;
    return buffer;
}

bool stream_seek(ChartStream *s, int64_t position) {
    if (position < 0) return false;
    s->pos = position;
    return true;
}

int64_t stream_tell(const ChartStream *s) { return s->pos; }
int64_t stream_size(const ChartStream *s) { return s->size; }
