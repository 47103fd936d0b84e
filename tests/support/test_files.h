// Temporary files for charts that tests write, and the real charts.
#pragma once

#include <filesystem>
#include <string>

#include "chart_writer.h"

// A name part no other test process uses at the same time.
std::string unique_tag();

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    // In the system's own form (a\b on Windows), as the tools print it.
    std::string path(const std::string &name) const {
        return (root_ / std::filesystem::path(name).make_preferred()).string();
    }
    // Writes `bytes` as `name` in the folder and returns the full path.
    std::string write(const std::string &name, const kap::Bytes &bytes) const;

private:
    std::filesystem::path root_;
};

// The folder of real charts, or empty when it is absent.
std::string real_charts_dir();
std::string real_chart(const std::string &name);

// Skips the running test when the real charts are absent.
#define REQUIRE_REAL_CHARTS()                                                              \
    do {                                                                                   \
        if (real_charts_dir().empty())                                                     \
            GTEST_SKIP() << "real charts not found (expected beside the project in "      \
                            "../shared/charts); set NVCH_CHARTS_DIR to run this test";     \
    } while (0)
