#include "capture.h"

#include "test_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

std::string slurp(const std::filesystem::path &p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Points `stream` at a file until restored.
struct Redirect {
    std::FILE *stream;
    int saved;
    std::filesystem::path path;

    Redirect(std::FILE *s, const char *name)
        : stream(s), path(std::filesystem::temp_directory_path() / name) {
        std::fflush(stream);
        saved = dup(fileno(stream));
        std::FILE *f = std::fopen(path.string().c_str(), "wb");
        dup2(fileno(f), fileno(stream));
        std::fclose(f);
    }
    std::string restore() {
        std::fflush(stream);
        dup2(saved, fileno(stream));
        close(saved);
        std::string text = slurp(path);
        std::filesystem::remove(path);
        return text;
    }
};

}  // namespace

Captured capture_output(const std::function<void()> &call) {
    const std::string tag = unique_tag();
    Redirect out(stdout, ("nvch_out_" + tag).c_str());
    Redirect err(stderr, ("nvch_err_" + tag).c_str());
    call();
    Captured c;
    c.err = err.restore();
    c.out = out.restore();
    return c;
}
