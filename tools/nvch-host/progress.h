// A progress bar on standard error while rows are read, shown only when
// standard error is a terminal.
#pragma once

#include <cstdint>

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
