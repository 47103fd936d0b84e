#include "test_files.h"

#include <atomic>
#include <cstdlib>
#include <random>

#ifndef NVCH_CHARTS_DIR
#define NVCH_CHARTS_DIR ""
#endif

namespace fs = std::filesystem;

std::string unique_tag() {
    static std::atomic<int> serial{0};
    static const unsigned process_tag = std::random_device{}();
    return std::to_string(process_tag) + "_" + std::to_string(serial++);
}

TempDir::TempDir() {
    root_ = fs::temp_directory_path() / ("nvch_test_" + unique_tag());
    fs::create_directories(root_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string TempDir::write(const std::string &name, const kap::Bytes &bytes) const {
    const std::string p = path(name);
    kap::write_file(p, bytes);
    return p;
}

std::string real_charts_dir() {
    const char *env = std::getenv("NVCH_CHARTS_DIR");
    const std::string dir = env != nullptr && *env != '\0' ? env : NVCH_CHARTS_DIR;
    std::error_code ignored;
    if (dir.empty() || !fs::exists(fs::path(dir) / "11361_2.KAP", ignored)) return "";
    return dir;
}

std::string real_chart(const std::string &name) { return (fs::path(real_charts_dir()) / name).string(); }
