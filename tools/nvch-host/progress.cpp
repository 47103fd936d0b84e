#include "progress.h"

#include <cstdio>

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
