// Writes a paletted 8-bit PNG row by row with libpng.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "chart_session.h"

// libpng's error and warning handlers, silent: an error ends the call by
// long jump and the caller says what failed, in one line.
extern "C" void png_quiet_error(struct png_struct_def *png, const char *message);
extern "C" void png_quiet_warning(struct png_struct_def *png, const char *message);

class PngWriter {
public:
    // Opens `path`; `error` says why when it cannot be written. Pixels of
    // value `transparent`, when given, show nothing.
    PngWriter(const std::string &path, int32_t width, int32_t height, const std::vector<Colour> &palette,
              const std::vector<std::pair<std::string, std::string>> &texts, std::string *error,
              std::optional<uint8_t> transparent = std::nullopt);
    ~PngWriter();
    PngWriter(const PngWriter &) = delete;
    PngWriter &operator=(const PngWriter &) = delete;

    bool ok() const { return ok_; }
    bool write_row(const uint8_t *pixels);
    bool finish();
    // What went wrong, in one line: "cannot write PATH: reason".
    std::string problem() const;

private:
    std::FILE *file_ = nullptr;
    void *png_ = nullptr;    // png_structp
    void *info_ = nullptr;   // png_infop
    void *destination_ = nullptr;
    std::string path_;
    bool ok_ = false;
    bool finished_ = false;
};
