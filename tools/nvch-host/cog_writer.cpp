#include "cog_writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include <tiffio.h>
#include <zlib.h>
#if NVCH_HOST_ZSTD
#include <zstd.h>
#endif

namespace {

constexpr int32_t kLargestWithoutOverview = 512;
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
};

// One resolution: the full image or an overview.
struct Level {
    int32_t width, height;
    std::vector<uint8_t> own;     // overview pixels (the full image is the caller's)
    const uint8_t *pixels;
    std::vector<std::vector<uint8_t>> tiles;   // compressed, row-major
};

// Each overview halves the one before, by nearest neighbour, until the
// image fits a tile of the reader's screen.
std::vector<Level> levels_of(const CogImage &image) {
    std::vector<Level> levels;
    levels.push_back({image.width, image.height, {}, image.pixels, {}});
    while (std::max(levels.back().width, levels.back().height) > kLargestWithoutOverview) {
        const Level &from = levels.back();
        Level half{(from.width + 1) / 2, (from.height + 1) / 2, {}, nullptr, {}};
        half.own.resize(static_cast<size_t>(half.width) * half.height);
        for (int32_t y = 0; y < half.height; ++y) {
            const uint8_t *src = from.pixels + static_cast<size_t>(2 * y) * from.width;
            uint8_t *dst = half.own.data() + static_cast<size_t>(y) * half.width;
            for (int32_t x = 0; x < half.width; ++x) dst[x] = src[2 * x];
        }
        half.pixels = half.own.data();
        levels.push_back(std::move(half));
    }
    return levels;
}

uint16_t tiff_compression(Compression c) {
    switch (c) {
        case Compression::zstd: return COMPRESSION_ZSTD;
        case Compression::lzw: return COMPRESSION_LZW;
        default: return COMPRESSION_ADOBE_DEFLATE;
    }
}

// One tile's pixels, padded with zeros past the image's edge.
void cut_tile(const Level &level, int32_t tile, int32_t tx, int32_t ty, std::vector<uint8_t> &raw) {
    raw.assign(static_cast<size_t>(tile) * tile, 0);
    const int32_t x0 = tx * tile, y0 = ty * tile;
    const int32_t w = std::min(tile, level.width - x0), h = std::min(tile, level.height - y0);
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(raw.data() + static_cast<size_t>(y) * tile,
                    level.pixels + static_cast<size_t>(y0 + y) * level.width + x0, static_cast<size_t>(w));
}

// Compresses into `scratch` and keeps just the bytes made: a tile's bound
// is its raw size, its compressed size a few per cent of it.
bool compress(Compression c, const std::vector<uint8_t> &raw, std::vector<uint8_t> &scratch, std::vector<uint8_t> &out) {
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

// Compresses every tile of every level, on `threads` threads (LZW, which
// only libtiff writes, is left for the writing itself).
bool compress_levels(std::vector<Level> &levels, const CogOptions &o) {
    struct Job {
        Level *level;
        int32_t tx, ty, index;
    };
    std::vector<Job> jobs;
    for (Level &l : levels) {
        const int32_t across = (l.width + o.tile - 1) / o.tile, down = (l.height + o.tile - 1) / o.tile;
        l.tiles.resize(static_cast<size_t>(across) * down);
        for (int32_t ty = 0; ty < down; ++ty)
            for (int32_t tx = 0; tx < across; ++tx) jobs.push_back({&l, tx, ty, ty * across + tx});
    }
    if (o.compression == Compression::lzw) return true;
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    auto work = [&] {
        std::vector<uint8_t> raw, scratch;
        for (size_t j; (j = next.fetch_add(1)) < jobs.size();) {
            const Job &job = jobs[j];
            cut_tile(*job.level, o.tile, job.tx, job.ty, raw);
            if (!compress(o.compression, raw, scratch, job.level->tiles[static_cast<size_t>(job.index)])) ok = false;
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < o.threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread &t : pool) t.join();
    return ok;
}

void set_directory_fields(TIFF *tif, const CogImage &image, const Level &level, bool overview, const CogOptions &o,
                          const std::vector<uint16_t> (&colour_map)[3]) {
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, overview ? FILETYPE_REDUCEDIMAGE : 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(level.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(level.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, tiff_compression(o.compression));
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(o.tile));
    TIFFSetField(tif, TIFFTAG_TILELENGTH, static_cast<uint32_t>(o.tile));
    TIFFSetField(tif, TIFFTAG_COLORMAP, colour_map[0].data(), colour_map[1].data(), colour_map[2].data());
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

// Tiles written as compressed above, or encoded by libtiff (LZW).
bool write_tiles(TIFF *tif, const Level &level, const CogOptions &o) {
    if (o.compression == Compression::lzw) {
        const int32_t across = (level.width + o.tile - 1) / o.tile;
        std::vector<uint8_t> raw;
        for (size_t t = 0; t < level.tiles.size(); ++t) {
            cut_tile(level, o.tile, static_cast<int32_t>(t) % across, static_cast<int32_t>(t) / across, raw);
            if (TIFFWriteEncodedTile(tif, static_cast<uint32_t>(t), raw.data(), static_cast<tmsize_t>(raw.size())) < 0)
                return false;
        }
        return true;
    }
    for (size_t t = 0; t < level.tiles.size(); ++t) {
        std::vector<uint8_t> &bytes = const_cast<std::vector<uint8_t> &>(level.tiles[t]);
        if (TIFFWriteRawTile(tif, static_cast<uint32_t>(t), bytes.data(), static_cast<tmsize_t>(bytes.size())) < 0)
            return false;
    }
    return true;
}

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

bool write_cog(const std::string &path, const CogImage &image, const CogOptions &options, std::string *error) {
    std::vector<Level> levels = levels_of(image);
    if (!compress_levels(levels, options)) {
        *error = "tiles could not be compressed";
        return false;
    }
    std::vector<uint16_t> colour_map[3];
    for (auto &c : colour_map) c.assign(256, 0);
    for (size_t i = 0; i < image.palette.size() && i < 256; ++i) {
        colour_map[0][i] = static_cast<uint16_t>(image.palette[i].red * 257);
        colour_map[1][i] = static_cast<uint16_t>(image.palette[i].green * 257);
        colour_map[2][i] = static_cast<uint16_t>(image.palette[i].blue * 257);
    }
    TIFFSetWarningHandler(nullptr);
    TIFF *tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        *error = "cannot be written";
        return false;
    }
    TIFFMergeFieldInfo(tif, kGeoFields, sizeof kGeoFields / sizeof kGeoFields[0]);
    bool ok = true;
    // The directories first, their tile tables written later in the room
    // kept for them...
    for (size_t k = 0; k < levels.size() && ok; ++k) {
        set_directory_fields(tif, image, levels[k], k > 0, options, colour_map);
        ok = TIFFDeferStrileArrayWriting(tif) && TIFFWriteCheck(tif, 1, "write_cog") && TIFFWriteDirectory(tif);
    }
    // ...then the tiles, the smallest overview first, the full image last.
    for (size_t k = levels.size(); k-- > 0 && ok;)
        ok = TIFFSetDirectory(tif, static_cast<tdir_t>(k)) && write_tiles(tif, levels[k], options) &&
             TIFFForceStrileArrayWriting(tif);
    TIFFClose(tif);
    if (!ok) *error = "could not be written in full";
    return ok;
}
