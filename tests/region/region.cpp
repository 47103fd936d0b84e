// A region of charts held open at once through the plug-in's exports, as a
// host that shows a coast holds them: the real charts beside the project
// and charts written here (upright, skewed, rows under shared index
// entries), each opened many times (several hundred handles), a row read
// from each, then every row of one handle of each. Every row must be the
// chart's own: the real charts' by their reference hashes, the written
// ones by their pixels and the turn's definition. In a 32-bit process it
// also prints the largest free block of address space.
//
//   nvch_region [COPIES]      (60 by default)
//
// Exits 1 on the first difference.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "address_space.h"
#include "chart_writer.h"
#include "nvch.h"
#include "sha256.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using kap::Bytes;

std::string sha256_hex(const Bytes &bytes) {
    Sha256 h;
    h.update(bytes.data(), bytes.size());
    return h.hex();
}

struct Reference {
    std::string path;
    int32_t width = 0, height = 0;
    Bytes image;               // the whole image, when it is known here
    std::string sha256;        // else its reference hash
};

// The upright image of a stored one turned by `degrees`, by the turn's
// definition: output pixel (i, r) shows stored pixel (trunc(a c - b s),
// trunc(b c + a s)) with a = min_x + i, b = min_y + r, each product a
// double of its own; min_x and min_y are the smallest rotated corner
// coordinates, (x, y) rotated to (trunc(x c' + y s'), trunc(y c' - x s'))
// with c', s' those of the opposite angle; 0 outside.
Bytes turned_upright(const kap::ChartWriter &w, double degrees, int32_t *width, int32_t *height) {
    const double t = degrees * 0.017453292519943295;
    const double s = std::sin(t), c = std::cos(t), fs = std::sin(-t), fc = std::cos(-t);
    int64_t min_x = 0, max_x = 0, min_y = 0, max_y = 0;
    const int64_t corners[3][2] = {{w.width, 0}, {w.width, w.height}, {0, w.height}};
    for (const auto &k : corners) {
        const double x = static_cast<double>(k[0]), y = static_cast<double>(k[1]);
        const auto rx = static_cast<int64_t>(x * fc - y * fs), ry = static_cast<int64_t>(y * fc + x * fs);
        min_x = std::min(min_x, rx), max_x = std::max(max_x, rx);
        min_y = std::min(min_y, ry), max_y = std::max(max_y, ry);
    }
    *width = static_cast<int32_t>(max_x - min_x);
    *height = static_cast<int32_t>(max_y - min_y);
    Bytes out(static_cast<size_t>(*width) * *height);
    for (int32_t r = 0; r < *height; ++r)
        for (int32_t i = 0; i < *width; ++i) {
            const double a = static_cast<double>(min_x + i), b = static_cast<double>(min_y + r);
            const auto x = static_cast<int64_t>(a * c - b * s), y = static_cast<int64_t>(b * c + a * s);
            const bool inside = x >= 0 && x < w.width && y >= 0 && y < w.height;
            out[static_cast<size_t>(r) * *width + i] = inside ? w.pixel(static_cast<int>(x), static_cast<int>(y)) : 0;
        }
    return out;
}

std::vector<Reference> written_charts(const std::filesystem::path &dir) {
    std::vector<Reference> refs;
    const auto add = [&](const std::string &name, const kap::ChartWriter &w, double degrees) {
        Reference r;
        r.path = (dir / name).string();
        kap::write_file(r.path, w.build());
        if (degrees == 0) {
            r.width = w.width, r.height = w.height, r.image = w.pixels;
        } else {
            r.image = turned_upright(w, degrees, &r.width, &r.height);
        }
        refs.push_back(r);
    };
    add("upright.kap", kap::simple_chart(400, 300), 0);
    kap::ChartWriter skewed = kap::simple_chart(420, 260, 4, 5);
    skewed.header[3] = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=30,TA=90";
    add("skewed.kap", skewed, 30);
    kap::ChartWriter shared = kap::simple_chart(300, 240, 7, 20);
    shared.rows_per_entry = 3;
    shared.header[5] = "OST/3";
    add("three_rows_an_entry.kap", shared, 0);
    kap::ChartWriter steep = kap::simple_chart(200, 500, 3, 6);
    steep.header[3] = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=-75.5,TA=90";
    add("steep.kap", steep, -75.5);
    return refs;
}

std::vector<Reference> real_charts() {
    const char *env = std::getenv("NVCH_CHARTS_DIR");
    const std::filesystem::path dir = env != nullptr && *env != '\0' ? env : NVCH_CHARTS_DIR;
    const struct {
        const char *name;
        const char *sha256;
    } known[] = {
        {"11361_2.KAP", "7b97bd4c862f614f03f0d69cda18a28b0ffade2cc53454def8f49cc54cf5f956"},
        {"12205_7.KAP", "58591d1d23d40b72d5b66199efab6c0c227de6c41b90948817dff38d84ba85e4"},
        {"12205_12.KAP", "c30313e225f40a4f95c95b95713ef1c20090077e0451cbe9c885a498659f0422"},
        {"14988_2.KAP", "cbe2e4d80193de58fb07b753269975960c60a09ac741572372aad3491e6325a3"},
        {"14771_1.KAP", "5b73abd9f12c1c5774a44be410e668937108ae0fc4fdb89132b002bed97f4abe"},
    };
    std::vector<Reference> refs;
    for (const auto &k : known) {
        const std::filesystem::path p = dir / k.name;
        if (!std::filesystem::exists(p)) continue;
        refs.push_back({p.string(), 0, 0, {}, k.sha256});
    }
    if (refs.empty()) std::printf("real charts not found in %s (set NVCH_CHARTS_DIR): written charts only\n",
                                  dir.string().c_str());
    return refs;
}

struct Handle {
    ChartFile *file = nullptr;
    LayerHandle *layer = nullptr;
    size_t chart = 0;
};

bool read_row(const Handle &h, int32_t width, int32_t row, Bytes &out) {
    out.assign(static_cast<size_t>(width), 0xEE);
    void *block = out.data();
    return nvchLayerRasterRead(h.layer, static_cast<uint32_t>(row), 0, &block) == 0;
}

int fail(const std::string &what) {
    std::printf("FAILED: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    const int copies = argc > 1 ? std::atoi(argv[1]) : 60;
#if defined(_WIN32)
    const auto process = static_cast<long>(GetCurrentProcessId());
#else
    const auto process = static_cast<long>(getpid());
#endif
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("nvch_region_" + std::to_string(process));
    std::filesystem::create_directories(dir);
    std::vector<Reference> charts = real_charts();
    for (Reference &r : written_charts(dir)) charts.push_back(std::move(r));

    std::vector<Handle> handles;
    for (int copy = 0; copy < copies; ++copy)
        for (size_t c = 0; c < charts.size(); ++c) {
            Handle h;
            h.chart = c;
            int32_t title = -1, z1, z2, bw, bh, width = 0, height = 0;
            h.file = nvchFileTitleIdentifyAndOpen(charts[c].path.c_str(), &title, 1);
            if (h.file == nullptr || nvchLayerOpen(h.file, "Band_1", &z1, &width, &height, &z2, &bw, &bh, &h.layer) != 0)
                return fail("opening " + charts[c].path + " the " + std::to_string(copy + 1) + ". time");
            if (charts[c].width == 0) charts[c].width = width, charts[c].height = height;
            if (width != charts[c].width || height != charts[c].height) return fail("the size of " + charts[c].path);
            handles.push_back(h);
        }
    std::printf("%zu handles open on %zu charts\n", handles.size(), charts.size());
    if (sizeof(void *) == 4) std::printf("largest free block: %.0f MB\n", largest_free_block() / 1e6);

    // Every row of the last handle of each chart: the image by its
    // reference hash, or the written image itself.
    for (size_t c = 0; c < charts.size(); ++c) {
        Reference &r = charts[c];
        const Handle &h = handles[handles.size() - charts.size() + c];
        Bytes image, row;
        for (int32_t y = 0; y < r.height; ++y) {
            if (!read_row(h, r.width, y, row)) return fail("row " + std::to_string(y) + " of " + r.path);
            image.insert(image.end(), row.begin(), row.end());
        }
        if (!r.sha256.empty() && sha256_hex(image) != r.sha256) return fail("the pixels of " + r.path);
        if (r.sha256.empty() && image != r.image) return fail("the pixels of " + r.path);
        r.image = std::move(image);
    }
    // A row from each handle: the middle row of the first copies, rows
    // spread over the chart for the others.
    Bytes row;
    for (size_t k = 0; k < handles.size(); ++k) {
        const Reference &r = charts[handles[k].chart];
        const int32_t y = static_cast<int32_t>((r.height / 2 + 37 * k) % static_cast<size_t>(r.height));
        if (!read_row(handles[k], r.width, y, row)) return fail("row " + std::to_string(y) + " of " + r.path);
        if (!std::equal(row.begin(), row.end(), r.image.begin() + static_cast<std::ptrdiff_t>(y) * r.width))
            return fail("row " + std::to_string(y) + " of handle " + std::to_string(k) + " on " + r.path);
    }
    std::printf("a row of each read right; every row of one handle of each chart right\n");
    if (sizeof(void *) == 4) std::printf("largest free block: %.0f MB\n", largest_free_block() / 1e6);
    for (const Handle &h : handles) {
        nvchLayerClose(h.layer);
        nvchFileClose(h.file);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
