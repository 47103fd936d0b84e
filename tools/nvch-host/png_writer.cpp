#include "png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstring>

namespace {

// The file's own error, kept for the one line that reports it: libpng
// writes through these instead of printing its own.
struct Destination {
    std::FILE *file = nullptr;
    int error = 0;
};

extern "C" void write_bytes(png_structp png, png_bytep data, size_t size) {
    auto *d = static_cast<Destination *>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, size, d->file) != size) {
        d->error = errno != 0 ? errno : EIO;
        png_error(png, "write error");
    }
}

extern "C" void flush_bytes(png_structp png) {
    auto *d = static_cast<Destination *>(png_get_io_ptr(png));
    if (std::fflush(d->file) != 0) d->error = errno;
}


// libpng reports errors by long jump; every call that may fail runs here.
template <typename F>
bool guarded(png_structp png, F call) {
    if (setjmp(png_jmpbuf(png))) return false;
    call();
    return true;
}

}  // namespace

extern "C" void png_quiet_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
extern "C" void png_quiet_warning(png_structp, png_const_charp) {}

PngWriter::PngWriter(const std::string &path, int32_t width, int32_t height, const std::vector<Colour> &palette,
                     const std::vector<std::pair<std::string, std::string>> &texts, std::string *error,
                     std::optional<uint8_t> transparent) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return;
    }
    destination_ = new Destination{file_, 0};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
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
    // Every entry opaque but the transparent one.
    std::vector<png_byte> alpha(transparent ? static_cast<size_t>(*transparent) + 1 : 0, 255);
    if (transparent) alpha.back() = 0;
    ok_ = guarded(png, [&] {
        png_set_write_fn(png, destination_, write_bytes, flush_bytes);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
        if (!alpha.empty()) png_set_tRNS(png, info, alpha.data(), static_cast<int>(alpha.size()), nullptr);
        if (!text_chunks.empty()) png_set_text(png, info, text_chunks.data(), static_cast<int>(text_chunks.size()));
        png_write_info(png, info);
    });
    if (!ok_) *error = problem();
}

std::string PngWriter::problem() const {
    const int e = destination_ != nullptr ? static_cast<Destination *>(destination_)->error : 0;
    return "cannot write " + path_ + (e != 0 ? std::string(": ") + std::strerror(e) : std::string());
}

PngWriter::~PngWriter() {
    png_structp png = static_cast<png_structp>(png_);
    png_infop info = static_cast<png_infop>(info_);
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    if (file_) std::fclose(file_);
    delete static_cast<Destination *>(destination_);
}

bool PngWriter::write_row(const uint8_t *pixels) {
    png_structp png = static_cast<png_structp>(png_);
    return ok_ = ok_ && guarded(png, [&] { png_write_row(png, pixels); });
}

bool PngWriter::finish() {
    png_structp png = static_cast<png_structp>(png_);
    ok_ = ok_ && guarded(png, [&] { png_write_end(png, static_cast<png_infop>(info_)); });
    if (file_) {
        if (std::fclose(file_) != 0) {
            if (ok_ && destination_ != nullptr) static_cast<Destination *>(destination_)->error = errno;
            ok_ = false;
        }
        file_ = nullptr;
    }
    finished_ = true;
    return ok_;
}
