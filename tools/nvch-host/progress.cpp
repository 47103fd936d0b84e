#include "progress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

Progress::Progress(int64_t total, const char *what)
    : total_(total), what_(what), shown_(isatty(fileno(stderr)) != 0 && total > 0) {}

void Progress::step(int64_t done) {
    if (!shown_) return;
    const int percent = static_cast<int>(done * 100 / total_);
    if (percent == last_percent_) return;
    last_percent_ = percent;
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < percent * kWidth / 100 ? '#' : ' ';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3d%%", what_, bar, percent);
    std::fflush(stderr);
}

void Progress::done() {
    if (shown_ && last_percent_ >= 0) std::fputs("\n", stderr);
    last_percent_ = -1;
}

void run_in_parallel(size_t count, int threads, const char *what, const std::function<void(size_t, int)> &work) {
    std::atomic<size_t> next{0};
    std::atomic<int64_t> finished{0};
    const int workers = std::max(1, std::min(threads, static_cast<int>(std::max<size_t>(count, 1))));
    std::vector<std::thread> pool;
    for (int w = 0; w < workers; ++w)
        pool.emplace_back([&, w] {
            for (size_t i; (i = next.fetch_add(1)) < count; ++finished) work(i, w);
        });
    Progress progress(static_cast<int64_t>(count), what);
    while (finished < static_cast<int64_t>(count)) {
        progress.step(finished);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread &t : pool) t.join();
    progress.done();
}
