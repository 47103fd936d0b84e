// A progress bar on standard error while rows are read, shown only when
// standard error is a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class Progress {
public:
    explicit Progress(int64_t total, const char *what = "reading rows");
    void step(int64_t done);
    void done();

private:
    int64_t total_;
    const char *what_;
    int last_percent_ = -1;
    bool shown_;
};

// Runs work(item, worker) for every item of [0, count) on up to `threads`
// threads (workers numbered from 0, each taking the next item when done),
// with one progress bar of the items finished.
void run_in_parallel(size_t count, int threads, const char *what, const std::function<void(size_t, int)> &work);
