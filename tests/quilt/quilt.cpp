// A quilt of skewed charts open at once, as a GIS shows neighbouring
// charts: every skewed chart at hand (the real ones beside the project and
// large charts written here, at least twelve and a gigabyte of stored
// pixels in all) read row by row, first one chart at a time, then all
// interleaved. Every chart must give the same pixels both ways (and the
// real ones their reference hashes), stay served from its tiles with each
// tile decoded about once, and hold memory that follows its file. Prints
// both times and their ratio.
//
//   nvch_quilt [CHARTS]      (10 written charts by default)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bsb.h"
#include "chart/chart_reader.h"
#include "chart_writer.h"
#include "raster/tiled.h"
#include "sha256.h"

namespace {

struct RealSkewed {
    const char *name;
    const char *sha256;
};

const RealSkewed kReal[] = {
    {"12205_7.KAP", "58591d1d23d40b72d5b66199efab6c0c227de6c41b90948817dff38d84ba85e4"},
    {"12205_12.KAP", "c30313e225f40a4f95c95b95713ef1c20090077e0451cbe9c885a498659f0422"},
    {"14771_1.KAP", "5b73abd9f12c1c5774a44be410e668937108ae0fc4fdb89132b002bed97f4abe"},
};

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// A large chart of broad areas and long runs, as charts are: 10000 x 11000
// stored pixels turned by `degrees`.
kap::ChartWriter large_chart(int n, double degrees) {
    const int width = 10000, height = 11000;
    kap::ChartWriter w = kap::simple_chart(width, height, 4, 12);
    char knp[160];
    std::snprintf(knp, sizeof knp, "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=%.7f,TA=90", degrees);
    w.header[3] = knp;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int area = (x / (97 + n) + y / (61 + n) + (x * 7 + y * 3) / 1201) % 11;
            w.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(1 + area);
        }
    return w;
}

// The pixels' fingerprint: SHA-256 where a reference hash is to be met,
// a fast 64-bit mix elsewhere (hashing two gigapixels with SHA-256 would
// take longer than reading them).
struct Fingerprint {
    std::unique_ptr<Sha256> sha;
    uint64_t mix = 0x9E3779B97F4A7C15u;
    void update(const std::vector<uint8_t> &row) {
        if (sha) sha->update(row.data(), row.size());
        for (size_t i = 0; i + 8 <= row.size(); i += 8) {
            uint64_t v;
            std::memcpy(&v, row.data() + i, 8);
            mix = (mix ^ v) * 0x100000001B3u + (mix >> 29);
        }
        for (size_t i = row.size() & ~size_t{7}; i < row.size(); ++i) mix = (mix ^ row[i]) * 0x100000001B3u;
    }
    std::string hex() const {
        if (sha) return sha->hex();
        char text[24];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(mix));
        return text;
    }
};

struct Chart {
    std::string path;
    std::string reference;   // a real chart's reference hash, or empty
    ChartFile file{};
    std::vector<uint8_t> row{};
    Fingerprint hash{};
    std::string alone{};     // the fingerprint read one at a time
};

bool open(Chart &c) {
    c.file = ChartFile{};
    if (BSB_open(c.path.c_str(), 0, 0, 0, 0, &c.file) != 0) return false;
    c.row.assign(static_cast<size_t>(c.file.width), 0);
    c.hash = Fingerprint{};
    if (!c.reference.empty()) c.hash.sha = std::make_unique<Sha256>();
    return true;
}

void read_row(Chart &c, int32_t r) {
    BSB_getrow(r, c.row.data(), &c.file);
    c.hash.update(c.row);
}

}  // namespace

int main(int argc, char **argv) {
    const int written = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("nvch_quilt_" + std::to_string(static_cast<long long>(now() * 1e6)));
    std::filesystem::create_directories(folder);
    std::vector<Chart> charts;
    const std::filesystem::path real = NVCH_CHARTS_DIR;
    for (const RealSkewed &r : kReal)
        if (std::filesystem::exists(real / r.name)) charts.push_back({(real / r.name).string(), r.sha256});
    for (int n = 0; n < written; ++n) {
        const std::string path = (folder / ("quilt_" + std::to_string(n) + ".kap")).string();
        kap::write_file(path, large_chart(n, 3.5 + 7.25 * n).build());
        charts.push_back({path, ""});
    }
    int failures = 0;
    double stored = 0, file_bytes = 0, out_pixels = 0;

    // One at a time.
    double start = now();
    for (Chart &c : charts) {
        if (!open(c)) {
            std::fprintf(stderr, "cannot open %s\n", c.path.c_str());
            return 1;
        }
        for (int32_t r = 0; r < c.file.height; ++r) read_row(c, r);
        c.alone = c.hash.hex();
        stored += static_cast<double>(c.file.reader->image.width) * c.file.reader->image.height;
        out_pixels += static_cast<double>(c.file.width) * c.file.height;
        file_bytes += static_cast<double>(std::filesystem::file_size(c.path));
        BSB_close(&c.file);
    }
    const double alone = now() - start;

    // All open at once, read interleaved, a row of each in turn.
    start = now();
    int32_t tallest = 0;
    for (Chart &c : charts) {
        open(c);
        tallest = std::max(tallest, c.file.height);
    }
    for (int32_t r = 0; r < tallest; ++r)
        for (Chart &c : charts)
            if (r < c.file.height) read_row(c, r);
    const double together = now() - start;

    double held = 0;
    for (Chart &c : charts) {
        const std::string name = std::filesystem::path(c.path).filename().string();
        const ChartReader &r = *c.file.reader;
        const std::string hash = c.hash.hex();
        if (hash != c.alone || (!c.reference.empty() && hash != c.reference)) {
            std::fprintf(stderr, "%s: pixels differ (%s interleaved, %s alone, %s expected)\n", name.c_str(),
                         hash.c_str(), c.alone.c_str(), c.reference.empty() ? "-" : c.reference.c_str());
            ++failures;
        }
        if (r.mode != RowMode::skewed_tiled) {
            std::fprintf(stderr, "%s: not served from tiles\n", name.c_str());
            ++failures;
            continue;
        }
        const TileCache &t = r.tiled->tiles;
        const int64_t tiles = static_cast<int64_t>(t.tiles_x) * t.tiles_y;
        if (t.decoded > tiles + tiles / 10) {
            std::fprintf(stderr, "%s: %lld tiles decoded for %lld in the image\n", name.c_str(),
                         static_cast<long long>(t.decoded), static_cast<long long>(tiles));
            ++failures;
        }
        const int64_t bytes = tiled_image_bytes(*r.tiled);
        const int64_t size = static_cast<int64_t>(std::filesystem::file_size(c.path));
        held += static_cast<double>(bytes + size);
        if (bytes > 3 * size + (INT64_C(16) << 20)) {
            std::fprintf(stderr, "%s: holds %lld bytes for a file of %lld\n", name.c_str(), static_cast<long long>(bytes),
                         static_cast<long long>(size));
            ++failures;
        }
    }
    for (Chart &c : charts) BSB_close(&c.file);
    std::filesystem::remove_all(folder);
    std::printf("%zu skewed charts, %.0f Mpixel stored (%.1f MB of files), %.0f Mpixel served; %.1f MB held while all "
                "were open\n",
                charts.size(), stored / 1e6, file_bytes / 1e6, out_pixels / 1e6, held / 1e6);
    std::printf("one at a time %.2f s, interleaved %.2f s: ratio %.2f; %d problems\n", alone, together,
                together / alone, failures);
    return failures == 0 ? 0 : 1;
}
