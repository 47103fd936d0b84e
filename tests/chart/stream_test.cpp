// How an open chart's file is read: a few long reads while it is read
// onward, short ones after a jump. Each read costs far more than its bytes
// on some systems (under Wine, a request to another process).
#include <gtest/gtest.h>

#include <cstring>

#include "chart_writer.h"
#include "common/stream.h"
#include "platform/file_pool.h"
#include "test_files.h"

namespace {

using kap::Bytes;

// A file of `size` bytes, each byte its offset's low eight bits.
std::string counting_file(const TempDir &dir, int64_t size) {
    Bytes bytes(static_cast<size_t>(size));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    return dir.write("bytes.bin", bytes);
}

bool holds_offsets(const uint8_t *p, int64_t at, int64_t n) {
    for (int64_t i = 0; i < n; ++i)
        if (p[i] != static_cast<uint8_t>(at + i)) return false;
    return true;
}

struct Stream {
    explicit Stream(const std::string &path) : s(stream_open_binary(path.c_str())) {}
    ~Stream() { stream_close(s); }
    ChartStream *s;
};

constexpr int64_t kSize = INT64_C(6) << 20;

}  // namespace

TEST(ReadWindow, RowsTakenInOrderComeInAFewLongReads) {
    // Rows of 10,000 bytes, each view running on past the window's end
    // now and then, as rows do: 64 KB, then twice as much each time up to
    // a megabyte, so about ten reads for six megabytes (not a hundred).
    TempDir dir;
    Stream f(counting_file(dir, kSize));
    ASSERT_NE(f.s, nullptr);
    const int64_t reads = pool_reads();
    for (int64_t at = 0; at < kSize; at += 10000) {
        int64_t available = 0;
        const uint8_t *p = stream_view(f.s, at, 10000, &available);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(available, std::min<int64_t>(10000, kSize - at));
        ASSERT_TRUE(holds_offsets(p, at, available)) << at;
    }
    EXPECT_LE(pool_reads() - reads, 12);
    EXPECT_LE(stream_window_bytes(f.s), INT64_C(1) << 20);
}

TEST(ReadWindow, AJumpReadsAShortWindowAgain) {
    TempDir dir;
    Stream f(counting_file(dir, kSize));
    int64_t available = 0;
    for (int64_t at = 0; at < (INT64_C(3) << 20); at += 10000) stream_view(f.s, at, 10000, &available);
    const int64_t bytes = pool_bytes_read();
    const uint8_t *p = stream_view(f.s, INT64_C(5) << 20, 100, &available);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(holds_offsets(p, INT64_C(5) << 20, 100));
    EXPECT_EQ(pool_bytes_read() - bytes, INT64_C(64) << 10);
}

TEST(ReadWindow, PartsCopiedInOrderComeThroughTheWindow) {
    TempDir dir;
    Stream f(counting_file(dir, kSize));
    const int64_t reads = pool_reads();
    Bytes part(30000);
    for (int64_t at = 0; at < kSize; at += 30000) {
        const int64_t n = std::min<int64_t>(30000, kSize - at);
        ASSERT_EQ(stream_copy(f.s, at, part.data(), n), n);
        ASSERT_TRUE(holds_offsets(part.data(), at, n)) << at;
    }
    EXPECT_LE(pool_reads() - reads, 12);
    // Past the end: what is there.
    EXPECT_EQ(stream_copy(f.s, kSize - 10, part.data(), 100), 10);
    EXPECT_TRUE(holds_offsets(part.data(), kSize - 10, 10));
    // A part as large as the window's largest is read straight.
    Bytes large(INT64_C(2) << 20);
    const int64_t before = pool_reads();
    ASSERT_EQ(stream_copy(f.s, 12345, large.data(), static_cast<int64_t>(large.size())),
              static_cast<int64_t>(large.size()));
    EXPECT_TRUE(holds_offsets(large.data(), 12345, static_cast<int64_t>(large.size())));
    EXPECT_EQ(pool_reads() - before, 1);
    EXPECT_LE(stream_window_bytes(f.s), INT64_C(1) << 20);
}
