#include "png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstring>

namespace {

// libpng reports errors by long jump; every call that may fail runs here.
template <typename F>
bool guarded(png_structp png, F call) {
    if (setjmp(png_jmpbuf(png))) return false;
    call();
    return true;
}

}  // namespace

PngWriter::PngWriter(const std::string &path, int32_t width, int32_t height, const std::vector<Colour> &palette,
                     const std::vector<std::pair<std::string, std::string>> &texts, std::string *error) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    png_ = png;
    info_ = info;
    if (info == nullptr) {
        *error = "cannot start a PNG";
        return;
    }
    std::vector<png_color> colours;
    for (const Colour &c : palette)
        colours.push_back({static_cast<png_byte>(c.red), static_cast<png_byte>(c.green), static_cast<png_byte>(c.blue)});
    // Pixel values the table does not cover show black.
    colours.resize(256, png_color{0, 0, 0});
    std::vector<png_text> text_chunks;
    for (const auto &[key, value] : texts) {
        png_text t{};
        t.compression = PNG_TEXT_COMPRESSION_NONE;
        t.key = const_cast<char *>(key.c_str());
        t.text = const_cast<char *>(value.c_str());
        text_chunks.push_back(t);
    }
    ok_ = guarded(png, [&] {
        png_init_io(png, file_);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
        if (!text_chunks.empty()) png_set_text(png, info, text_chunks.data(), static_cast<int>(text_chunks.size()));
        png_write_info(png, info);
    });
    if (!ok_) *error = "cannot write " + path;
}

PngWriter::~PngWriter() {
    png_structp png = static_cast<png_structp>(png_);
    png_infop info = static_cast<png_infop>(info_);
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    if (file_) std::fclose(file_);
}

bool PngWriter::write_row(const uint8_t *pixels) {
    png_structp png = static_cast<png_structp>(png_);
    return ok_ = ok_ && guarded(png, [&] { png_write_row(png, pixels); });
}

bool PngWriter::finish() {
    png_structp png = static_cast<png_structp>(png_);
    ok_ = ok_ && guarded(png, [&] { png_write_end(png, static_cast<png_infop>(info_)); });
    if (file_) {
        ok_ = (std::fclose(file_) == 0) && ok_;
        file_ = nullptr;
    }
    finished_ = true;
    return ok_;
}
