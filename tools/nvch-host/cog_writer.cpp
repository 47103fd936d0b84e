#include "cog_writer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <thread>

#include <tiffio.h>
#include <zlib.h>
#if NVCH_HOST_ZSTD
#include <zstd.h>
#endif

#include "lzw.h"

namespace {

constexpr int32_t kLargestWithoutOverview = 512;
// What the bands of all resolutions may hold together, about twice the
// full image's band.
constexpr int64_t kBandBudget = INT64_C(32) << 20;
// Measured on the 150-Mpixel upright 14771_1.KAP, on two cores: DEFLATE
// at level 6 finding repeats anywhere takes 1.1 s for 3.9 MB; finding runs
// only (Z_RLE), 0.6 s for 4.3 MB, which every reader of TIFF reads. ZSTD at
// level 6 takes 0.6 s for 3.6 MB; LZW, which only libtiff writes here, one
// core, 1.2 s for 4.2 MB.
constexpr int kDeflateLevel = 6;
constexpr int kZstdLevel = 6;

// The GeoTIFF tags, which libtiff does not know by itself.
const TIFFFieldInfo kGeoFields[] = {
    {33550, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char *>("ModelPixelScaleTag")},
    {33922, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char *>("ModelTiepointTag")},
    {34735, -1, -1, TIFF_SHORT, FIELD_CUSTOM, 1, 1, const_cast<char *>("GeoKeyDirectoryTag")},
    {34736, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char *>("GeoDoubleParamsTag")},
    {34737, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char *>("GeoAsciiParamsTag")},
    {42113, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char *>("GDAL_NODATA")},
};

// GDAL's tag for the value of pixels that show nothing, as text.
constexpr ttag_t kNoDataTag = 42113;

}  // namespace

// One resolution: the full image or an overview. It keeps the band of
// tile rows being filled, and every tile compressed so far.
struct CogWriter::Level {
    int32_t width = 0, height = 0;
    int32_t rows_in = 0;                        // rows received so far
    int32_t band_first = 0;                     // the first row of the band
    std::vector<uint8_t> band;                  // tile rows of the whole width
    // The tiles compressed, row-major, in blocks of 4 MB filled one after
    // another (no block is ever copied to grow): tile t is sizes[t] bytes
    // at offsets[t] of block blocks_of[t]. A few bytes a tile beside its
    // own: the widest images have a million tiles.
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint32_t> blocks_of, offsets, sizes;
};

namespace {

uint16_t tiff_compression(Compression c) {
    switch (c) {
        case Compression::zstd: return COMPRESSION_ZSTD;
        case Compression::lzw: return COMPRESSION_LZW;
        default: return COMPRESSION_ADOBE_DEFLATE;
    }
}

// Tile `tx` of a band of `rows` rows, padded with zeros past the image's
// edge.
void cut_tile(const uint8_t *band, int32_t width, int32_t rows, int32_t tile, int32_t tx, std::vector<uint8_t> &raw) {
    raw.assign(static_cast<size_t>(tile) * tile, 0);
    const int32_t x0 = tx * tile;
    const int32_t w = std::min(tile, width - x0);
    for (int32_t y = 0; y < rows; ++y)
        std::memcpy(raw.data() + static_cast<size_t>(y) * tile, band + static_cast<size_t>(y) * width + x0,
                    static_cast<size_t>(w));
}

// Compresses into `scratch` and keeps just the bytes made: a tile's bound
// is its raw size, its compressed size a few per cent of it.
bool compress(Compression c, const std::vector<uint8_t> &raw, std::vector<uint8_t> &scratch, std::vector<uint8_t> &out) {
    if (c == Compression::lzw) {
        lzw_compress(raw.data(), raw.size(), out);
        out.shrink_to_fit();
        return true;
    }
    size_t size = 0;
    if (c == Compression::deflate) {
        scratch.resize(compressBound(static_cast<uLong>(raw.size())));
        z_stream z{};
        if (deflateInit2(&z, kDeflateLevel, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) return false;
        z.next_in = const_cast<Bytef *>(raw.data());
        z.avail_in = static_cast<uInt>(raw.size());
        z.next_out = scratch.data();
        z.avail_out = static_cast<uInt>(scratch.size());
        const int r = deflate(&z, Z_FINISH);
        size = z.total_out;
        deflateEnd(&z);
        if (r != Z_STREAM_END) return false;
    }
#if NVCH_HOST_ZSTD
    if (c == Compression::zstd) {
        scratch.resize(ZSTD_compressBound(raw.size()));
        size = ZSTD_compress(scratch.data(), scratch.size(), raw.data(), raw.size(), kZstdLevel);
        if (ZSTD_isError(size)) return false;
    }
#endif
    if (size == 0) return false;
    out.assign(scratch.begin(), scratch.begin() + static_cast<long>(size));
    return true;
}

}  // namespace

namespace {

void set_directory_fields(TIFF *tif, const CogImage &image, int32_t width, int32_t height, bool overview,
                          const CogOptions &o, int32_t tile, const std::vector<uint16_t> (&colour_map)[3]) {
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, overview ? FILETYPE_REDUCEDIMAGE : 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, tiff_compression(o.compression));
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(tile));
    TIFFSetField(tif, TIFFTAG_TILELENGTH, static_cast<uint32_t>(tile));
    TIFFSetField(tif, TIFFTAG_COLORMAP, colour_map[0].data(), colour_map[1].data(), colour_map[2].data());
    // Every resolution says which pixels show nothing: readers take each
    // overview's from its own directory.
    if (image.no_data) TIFFSetField(tif, kNoDataTag, std::to_string(*image.no_data).c_str());
    if (overview) return;
    if (!image.document_name.empty()) TIFFSetField(tif, TIFFTAG_DOCUMENTNAME, image.document_name.c_str());
    if (!image.description.empty()) TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, image.description.c_str());
    const GeoKeys &g = image.geo;
    double scale[3] = {g.scale_x, g.scale_y, 0};
    double tie[6] = {0, 0, 0, g.origin_x, g.origin_y, 0};
    TIFFSetField(tif, 33550, 3, scale);
    TIFFSetField(tif, 33922, 6, tie);
    // The key directory: a header, then (key, location, count, value); a
    // key whose value is a double or a text points into the other tags.
    std::vector<uint16_t> directory = {1, 1, 0, 0};
    std::vector<double> doubles;
    std::string texts;
    struct Entry {
        uint16_t key, location, count, value;
    };
    std::vector<Entry> entries;
    for (const auto &[key, value] : g.shorts) entries.push_back({key, 0, 1, value});
    for (const auto &[key, value] : g.doubles) {
        entries.push_back({key, 34736, 1, static_cast<uint16_t>(doubles.size())});
        doubles.push_back(value);
    }
    for (const auto &[key, value] : g.texts) {
        entries.push_back({key, 34737, static_cast<uint16_t>(value.size() + 1), static_cast<uint16_t>(texts.size())});
        texts += value + "|";
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.key < b.key; });
    for (const Entry &e : entries) directory.insert(directory.end(), {e.key, e.location, e.count, e.value});
    directory[3] = static_cast<uint16_t>(entries.size());
    TIFFSetField(tif, 34735, static_cast<uint32_t>(directory.size()), directory.data());
    if (!doubles.empty()) TIFFSetField(tif, 34736, static_cast<uint32_t>(doubles.size()), doubles.data());
    if (!texts.empty()) TIFFSetField(tif, 34737, texts.c_str());
}

constexpr size_t kBlock = size_t{4} << 20;   // a tile's bytes never pass its raw size, 256 KB

}  // namespace

bool compression_named(const std::string &name, Compression *compression) {
    if (name == "deflate") *compression = Compression::deflate;
    else if (name == "lzw") *compression = Compression::lzw;
#if NVCH_HOST_ZSTD
    else if (name == "zstd") *compression = Compression::zstd;
#endif
    else return false;
    return true;
}

const char *compression_name(Compression compression) {
    switch (compression) {
        case Compression::zstd: return "zstd";
        case Compression::lzw: return "lzw";
        default: return "deflate";
    }
}

int32_t cog_tile_size(int32_t width) {
    int32_t tile = 512;
    while (tile > 128 && INT64_C(2) * tile * width > kBandBudget) tile /= 2;
    return tile;
}

bool CogWriter::write_tiles(TIFF *tif, Level &l) {
    for (size_t t = 0; t < l.offsets.size(); ++t)
        if (TIFFWriteRawTile(tif, static_cast<uint32_t>(t), l.blocks[l.blocks_of[t]].data() + l.offsets[t],
                             static_cast<tmsize_t>(l.sizes[t])) < 0)
            return false;
    return true;
}

CogWriter::CogWriter(const CogImage &image, const CogOptions &options)
    : image_(image), options_(options), tile_(cog_tile_size(image.width)) {
    // Each overview halves the one before, by nearest neighbour, until the
    // image fits a tile of the reader's screen.
    int32_t width = image.width, height = image.height;
    for (;;) {
        auto *level = new Level;
        level->width = width;
        level->height = height;
        const int32_t across = (width + tile_ - 1) / tile_, down = (height + tile_ - 1) / tile_;
        level->offsets.resize(static_cast<size_t>(across) * down);
        level->blocks_of.resize(level->offsets.size());
        level->sizes.resize(level->offsets.size());
        level->band.resize(static_cast<size_t>(width) * std::min(tile_, height));
        levels_.push_back(level);
        if (std::max(width, height) <= kLargestWithoutOverview) break;
        width = (width + 1) / 2;
        height = (height + 1) / 2;
    }
}

CogWriter::~CogWriter() {
    for (Level *l : levels_) delete l;
}

bool CogWriter::add_row(const uint8_t *row) { return add_to(0, row); }

bool CogWriter::add_to(size_t index, const uint8_t *row) {
    Level &l = *levels_[index];
    if (l.rows_in >= l.height) return true;
    const int32_t y = l.rows_in++;
    std::memcpy(l.band.data() + static_cast<size_t>(y - l.band_first) * l.width, row, static_cast<size_t>(l.width));
    // Every other row and column make the next overview's row.
    if (y % 2 == 0 && index + 1 < levels_.size()) {
        const Level &next = *levels_[index + 1];
        std::vector<uint8_t> half(static_cast<size_t>(next.width));
        for (int32_t x = 0; x < next.width; ++x) half[static_cast<size_t>(x)] = row[2 * x];
        if (!add_to(index + 1, half.data())) return false;
    }
    if (l.rows_in - l.band_first == tile_ || l.rows_in == l.height) return flush(l);
    return true;
}

// Compresses the band's tiles, on the writer's threads.
bool CogWriter::flush(Level &l) {
    const int32_t rows = l.rows_in - l.band_first;
    const int32_t across = (l.width + tile_ - 1) / tile_;
    const size_t first_tile = static_cast<size_t>(l.band_first / tile_) * across;
    std::vector<std::vector<uint8_t>> made(static_cast<size_t>(across));
    std::atomic<int32_t> next{0};
    std::atomic<bool> ok{true};
    auto work = [&] {
        std::vector<uint8_t> raw, scratch;
        for (int32_t tx; (tx = next.fetch_add(1)) < across;) {
            cut_tile(l.band.data(), l.width, rows, tile_, tx, raw);
            if (!compress(options_.compression, raw, scratch, made[static_cast<size_t>(tx)])) ok = false;
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::min(options_.threads, across); ++t) pool.emplace_back(work);
    work();
    for (std::thread &t : pool) t.join();
    for (int32_t tx = 0; tx < across; ++tx) {
        const std::vector<uint8_t> &tile = made[static_cast<size_t>(tx)];
        if (l.blocks.empty() || l.blocks.back().size() + tile.size() > kBlock) {
            l.blocks.emplace_back();
            l.blocks.back().reserve(std::max(kBlock, tile.size()));
        }
        const size_t t = first_tile + static_cast<size_t>(tx);
        l.blocks_of[t] = static_cast<uint32_t>(l.blocks.size() - 1);
        l.offsets[t] = static_cast<uint32_t>(l.blocks.back().size());
        l.sizes[t] = static_cast<uint32_t>(tile.size());
        l.blocks.back().insert(l.blocks.back().end(), tile.begin(), tile.end());
    }
    l.band_first = l.rows_in;
    return ok;
}

namespace {

// The first error libtiff meets while writing, and the system's reason.
struct WriteTrouble {
    int error = 0;
    bool met = false;
    std::string told(const std::string &path) const {
        return "cannot write " + path + (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
    }
};

extern "C" int note_trouble(TIFF *, void *user_data, const char *, const char *, va_list) {
    auto *t = static_cast<WriteTrouble *>(user_data);
    if (!t->met) {
        t->met = true;
        t->error = errno;
    }
    return 1;
}

extern "C" int ignore_warning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

}  // namespace

bool CogWriter::finish(const std::string &path, std::string *error) {
    for (const Level *l : levels_)
        if (l->rows_in != l->height) {
            *error = "cannot write " + path + ": rows are missing";
            return false;
        }
    std::vector<uint16_t> colour_map[3];
    for (auto &c : colour_map) c.assign(256, 0);
    for (size_t i = 0; i < image_.palette.size() && i < 256; ++i) {
        colour_map[0][i] = static_cast<uint16_t>(image_.palette[i].red * 257);
        colour_map[1][i] = static_cast<uint16_t>(image_.palette[i].green * 257);
        colour_map[2][i] = static_cast<uint16_t>(image_.palette[i].blue * 257);
    }
    // libtiff's errors and warnings come to this file alone, unprinted: the
    // one line that reports a failure says what the system said.
    WriteTrouble trouble;
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, note_trouble, &trouble);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignore_warning, nullptr);
    errno = 0;
    TIFF *tif = TIFFOpenExt(path.c_str(), "w", options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) {
        *error = trouble.told(path);
        return false;
    }
    bool ok = true;
    // The directories first, their tile tables written later in the room
    // kept for them...
    for (size_t k = 0; k < levels_.size() && ok; ++k) {
        // A new directory starts from libtiff's own tags: ours again.
        TIFFMergeFieldInfo(tif, kGeoFields, sizeof kGeoFields / sizeof kGeoFields[0]);
        set_directory_fields(tif, image_, levels_[k]->width, levels_[k]->height, k > 0, options_, tile_, colour_map);
        ok = TIFFDeferStrileArrayWriting(tif) && TIFFWriteCheck(tif, 1, "write_cog") && TIFFWriteDirectory(tif);
    }
    // ...then the tiles, the smallest overview first, the full image last.
    for (size_t k = levels_.size(); k-- > 0 && ok;)
        ok = TIFFSetDirectory(tif, static_cast<tdir_t>(k)) && write_tiles(tif, *levels_[k]) &&
             TIFFForceStrileArrayWriting(tif);
    ok = ok && TIFFFlush(tif) == 1;
    TIFFClose(tif);
    if (!ok) *error = trouble.told(path);
    return ok;
}
