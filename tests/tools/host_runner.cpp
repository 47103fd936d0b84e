#include "host_runner.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "test_files.h"

#ifndef NVCH_HOST
#define NVCH_HOST ""
#endif
#ifndef NVCH_SAMPLES_DIR
#define NVCH_SAMPLES_DIR ""
#endif

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string quoted(const std::string &s) { return "\"" + s + "\""; }

namespace {

// Runs a command line through the shell, its outputs captured.
Outcome run_line(const std::string &command) {
    TempDir dir;
    const std::string out = dir.path("out"), err = dir.path("err");
    const std::string line = command + " >" + quoted(out) + " 2>" + quoted(err);
    Outcome r;
#if defined(_WIN32)
    // cmd.exe drops the first and last quote of a line that starts with one.
    r.status = std::system(quoted(line).c_str());
    // Text written to a Windows console stream ends its lines in CR LF.
    auto lines = [](std::string text) {
        std::erase(text, '\r');
        return text;
    };
    r.out = lines(slurp(out));
    r.err = lines(slurp(err));
#else
    const int raw = std::system(line.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
#endif
    return r;
}

}  // namespace

Outcome run(const std::string &program, const std::string &arguments) {
    return run_line(quoted(program) + " " + arguments);
}

Outcome host(const std::string &arguments, const std::string &prefix) {
    return run_line((prefix.empty() ? "" : prefix + " ") + quoted(NVCH_HOST) + " " + arguments);
}

std::string sample(const std::string &name) { return std::string(NVCH_SAMPLES_DIR) + "/" + name; }
