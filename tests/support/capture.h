// Captures what a call writes to standard output and standard error, at
// the file-descriptor level, so C stdio writes are caught too.
#pragma once

#include <functional>
#include <string>

struct Captured {
    std::string out;
    std::string err;
};

Captured capture_output(const std::function<void()> &call);
