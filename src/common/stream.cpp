#include "common/stream.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "platform/heap.h"
#include "platform/regular_file.h"

namespace {

// The window's first size: a whole header of a real chart, or a few
// hundred of its rows. While a chart is read onward the window's reads
// double, up to kWindowLargest, so that reads stay few and long; after a
// jump they are short again, so that rows taken here and there do not each
// read a megabyte.
constexpr int64_t kWindowFirst = INT64_C(64) << 10;
constexpr int64_t kWindowLargest = INT64_C(1) << 20;

ChartStream *stream_new() {
    void *memory = lib_calloc(1, sizeof(ChartStream));
    return memory ? new (memory) ChartStream{} : nullptr;
}

// One line on standard error the first time a read fails, naming the file
// and what became of it.
void report_failure(ChartStream *s) {
    if (s->failed) return;
    s->failed = true;
    if (s->file.fault == kPooledChanged)
        std::fprintf(stderr, "Chart file %s has changed since it was opened\n", s->file.path);
    else
        std::fprintf(stderr, "Chart file %s can no longer be read\n", s->file.path);
}

// Bytes read at `at` into `into` from the file or the memory: fewer at the
// end, or -1.
int64_t read_bytes(ChartStream *s, int64_t at, uint8_t *into, int64_t n) {
    if (s->failed) return -1;
    if (at >= s->size || n <= 0) return 0;
    if (n > s->size - at) n = s->size - at;
    if (s->memory != nullptr) {
        std::memcpy(into, s->memory + at, static_cast<std::size_t>(n));
        return n;
    }
    const int64_t got = pooled_read(&s->file, at, into, n);
    if (got < 0) report_failure(s);
    return got;
}

// Fills the window with the bytes from `at`, at least `want` of them where
// the file has them. False when memory or the file fails.
bool fill_window(ChartStream *s, int64_t at, int64_t want) {
    // Onward: from inside the window, or just past it, as a row that runs
    // past the window's end asks.
    const bool onward = s->window != nullptr && at > s->window_at && at <= s->window_at + s->window_length;
    int64_t reach = onward ? std::min(kWindowLargest, 2 * s->window_reach) : kWindowFirst;
    if (reach > s->size) reach = s->size;   // never more than the whole file
    if (reach < want) reach = want;
    if (reach > s->window_room) {
        void *grown = lib_realloc(s->window, static_cast<std::size_t>(reach));
        if (grown == nullptr) return false;
        s->window = static_cast<uint8_t *>(grown);
        s->window_room = reach;
    }
    s->window_reach = reach;
    const int64_t got = read_bytes(s, at, s->window, reach);
    if (got < 0) {
        s->window_length = 0;
        return false;
    }
    s->window_at = at;
    s->window_length = got;
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
    ChartStream *s = stream_new();
    if (s == nullptr) return nullptr;
    if (pooled_open(&s->file, path) != 0 || s->file.identity.size > INT32_MAX) {
        stream_close(s);
        return nullptr;
    }
    s->size = s->file.identity.size;
    return s;
}

ChartStream *stream_open_memory(const uint8_t *data, int64_t size) {
    ChartStream *s = stream_new();
    if (s == nullptr) return nullptr;
    s->memory = static_cast<uint8_t *>(lib_malloc(static_cast<std::size_t>(size)));
    if (s->memory == nullptr) {
        lib_free(s);
        return nullptr;
    }
    if (size > 0) std::memcpy(s->memory, data, static_cast<std::size_t>(size));
    s->size = size;
    return s;
}

void stream_close(ChartStream *s) {
    if (s == nullptr) return;
    if (s->fp != nullptr) std::fclose(s->fp);
    pooled_close(&s->file);
    lib_free(s->memory);
    lib_free(s->window);
    lib_free(s);
}

const uint8_t *stream_view(ChartStream *s, int64_t at, int64_t want, int64_t *available) {
    *available = 0;
    if (s->failed || at < 0) return nullptr;
    if (at >= s->size) return s->memory != nullptr ? s->memory + s->size : s->window;
    const int64_t there = s->size - at < want ? s->size - at : want;
    if (s->memory != nullptr) {
        *available = there;
        return s->memory + at;
    }
    const bool inside = s->window != nullptr && at >= s->window_at && at + there <= s->window_at + s->window_length;
    if (!inside && !fill_window(s, at, there)) return nullptr;
    *available = there;
    return s->window + (at - s->window_at);
}

int64_t stream_read(ChartStream *s, int64_t at, uint8_t *into, int64_t n) {
    if (at < 0 || n < 0) return -1;
    return read_bytes(s, at, into, n);
}

int64_t stream_copy(ChartStream *s, int64_t at, uint8_t *into, int64_t n) {
    if (at < 0 || n < 0) return -1;
    if (n >= kWindowLargest) return read_bytes(s, at, into, n);
    int64_t done = 0;
    while (done < n) {
        int64_t available = 0;
        const uint8_t *from = stream_view(s, at + done, n - done, &available);
        if (from == nullptr) return -1;
        if (available == 0) break;   // the end of the file
        std::memcpy(into + done, from, static_cast<std::size_t>(available));
        done += available;
    }
    return done;
}

int64_t stream_window_bytes(const ChartStream *s) { return s->window_room; }

void stream_drop_window(ChartStream *s) {
    lib_free(s->window);
    s->window = nullptr;
    s->window_at = s->window_length = s->window_room = s->window_reach = 0;
}

void stream_rewind(ChartStream *s) {
    if (s->fp != nullptr) std::rewind(s->fp);
    s->pos = 0;
}

char *stream_gets(ChartStream *s, char *buffer, int n) {
    if (s->fp != nullptr) return std::fgets(buffer, n, s->fp);
    if (n <= 0) return nullptr;
    int64_t take = 0;
    const uint8_t *from = stream_view(s, s->pos, n - 1, &take);
    if (from == nullptr || take == 0) return nullptr;
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

int stream_getc(ChartStream *s) {
    int64_t available = 0;
    const uint8_t *p = stream_view(s, s->pos, 1, &available);
    if (p == nullptr || available == 0) return kStreamEof;
    ++s->pos;
    return *p;
}
