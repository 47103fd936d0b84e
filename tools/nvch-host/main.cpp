// nvch-host: a command-line host for the nvch plug-in. It loads the library
// by file name, finds its exports by name and drives the chart through them
// alone, as a mapping application does.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "exports.h"
#include "nvch_version.h"
#include "output_file.h"

namespace {

const char *kUsage =
    "usage: nvch-host [--library PATH] COMMAND ...\n"
    "       nvch-host --version | --help\n"
    "  formats                              what the plug-in reads\n"
    "  info CHART [--json] [--no-skew] [--lts DEGREES]\n"
    "                                       identification, size, map information,\n"
    "                                       colour table and coordinate system\n"
    "  render CHART OUT.png [--clip] [--palette NAME] [--no-skew] [--lts DEGREES]\n"
    "                                       the chart as a paletted PNG\n"
    "  render CHART OUT.png --world         the same, with a world file (.pgw) and\n"
    "                                       a .prj beside it\n"
    "  dump CHART OUT.raw [--no-skew]       the delivered pixels, one byte each,\n"
    "                                       rows top to bottom\n"
    "  convert CHART OUT.tif [--compress deflate|zstd|lzw] [-of png [--world]]\n"
    "          [--clip] [--palette NAME] [--no-skew] [--lts DEGREES] [--force]\n"
    "          [--threads N]\n"
    "                                       the chart upright as a Cloud Optimized\n"
    "                                       GeoTIFF (or PNG) a GIS shows in place\n"
    "  convert FOLDER OUTFOLDER [...]       every .kap chart in the folder and\n"
    "                                       below, in parallel, into OUTFOLDER\n"
    "  catalog FOLDER [OUT.geojson|-]       every chart in the folder and below as\n"
    "                                       a GeoJSON feature (to standard output\n"
    "                                       without OUT, or for -)\n"
    "  tiles FOLDER OUT.mbtiles [--zoom MIN-MAX] [--bbox W,S,E,N] [--palette NAME]\n"
    "        [--threads N] [--force]\n"
    "                                       every chart in the folder and below as\n"
    "                                       one web map: Web Mercator tiles, the\n"
    "                                       larger scale on top, collars clipped\n"
    "--library PATH loads that library instead of the one built beside nvch-host.\n"
    "--no-skew serves a skewed chart as stored; --lts sets the latitude of true\n"
    "scale reported for Mercator charts. Pixels outside a skewed chart's stored\n"
    "image show nothing; --clip hides what lies outside the chart's outline too.\n"
    "--palette takes the chart's palette of that name (RGB, DAY, DSK, NGT, NGR,\n"
    "GRY, PRC, PRG). convert replaces no file without --force.\n";

#if NVCH_HOST_ZSTD
const char *kCompressions = "deflate, zstd or lzw";
#else
const char *kCompressions = "deflate or lzw";
#endif

int usage(const std::string &problem) {
    if (!problem.empty()) std::fprintf(stderr, "nvch-host: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

// "MIN-MAX" or one level "N".
bool zoom_range(const char *text, Options *o) {
    int low = -1, high = -1, used = 0;
    const int fields = std::sscanf(text, "%d%n-%d%n", &low, &used, &high, &used);
    if (fields == 1) high = low;
    if (fields < 1 || text[used] != '\0' || low < 0 || high > 24 || low > high) return false;
    o->zoom_min = low;
    o->zoom_max = high;
    return true;
}

// "W,S,E,N" in degrees; west beyond east crosses the 180th meridian.
bool bounding_box(const char *text, Options *o) {
    double v[4];
    int used = 0;
    if (std::sscanf(text, "%lf,%lf,%lf,%lf%n", &v[0], &v[1], &v[2], &v[3], &used) != 4 || text[used] != '\0')
        return false;
    if (!(v[1] < v[3]) || v[1] < -90 || v[3] > 90 || v[0] < -180 || v[0] > 180 || v[2] < -180 || v[2] > 180)
        return false;
    std::copy(v, v + 4, o->bbox);
    o->has_bbox = true;
    return true;
}

struct Command {
    std::string name;
    Options options;
    std::string library;
};

// Parses the command line; false with a problem for the usage message.
bool parse(int argc, char **argv, Command *c, std::string *problem) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char *what) -> const char * {
            if (i + 1 >= argc) {
                *problem = a + " needs " + what;
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "--library") {
            const char *v = value("a path");
            if (!v) return false;
            c->library = v;
        } else if (a == "--json") {
            c->options.json = true;
        } else if (a == "--world") {
            c->options.world = true;
        } else if (a == "--force") {
            c->options.force = true;
        } else if (a == "-of") {
            const char *v = value("tif or png");
            if (!v) return false;
            c->options.format = v;
            if (c->options.format != "tif" && c->options.format != "png") {
                *problem = std::string("-of takes tif or png, not ") + v;
                return false;
            }
        } else if (a == "--compress") {
            const char *v = value("a compression");
            if (!v) return false;
            if (!compression_named(v, &c->options.compression)) {
                *problem = std::string("--compress takes ") + kCompressions + ", not " + v;
                return false;
            }
        } else if (a == "--threads") {
            const char *v = value("a number");
            if (!v) return false;
            c->options.threads = std::atoi(v);
            if (c->options.threads < 1) {
                *problem = std::string("--threads needs a number above 0, not ") + v;
                return false;
            }
        } else if (a == "--zoom") {
            const char *v = value("levels MIN-MAX");
            if (!v) return false;
            if (!zoom_range(v, &c->options)) {
                *problem = std::string("--zoom takes levels MIN-MAX from 0 to 24, not ") + v;
                return false;
            }
        } else if (a == "--bbox") {
            const char *v = value("degrees W,S,E,N");
            if (!v) return false;
            if (!bounding_box(v, &c->options)) {
                *problem = std::string("--bbox takes degrees W,S,E,N (south below north), not ") + v;
                return false;
            }
        } else if (a == "--clip") {
            c->options.clip = true;
        } else if (a == "--palette") {
            const char *v = value("a palette's name");
            if (!v) return false;
            c->options.palette = v;
        } else if (a == "--no-skew") {
            c->options.skew = false;
        } else if (a == "--lts") {
            const char *v = value("a number of degrees");
            if (!v) return false;
            char *end = nullptr;
            c->options.lts = std::strtof(v, &end);
            if (end == v || *end != '\0') {
                *problem = std::string("--lts needs a number of degrees, not ") + v;
                return false;
            }
            c->options.set_lts = true;
        } else if (a.size() > 1 && a[0] == '-') {
            *problem = "unknown option " + a;
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) return false;
    c->name = positional[0];
    const size_t wanted = c->name == "formats" ? 1 : c->name == "info" ? 2 : 3;
    if (c->name != "formats" && c->name != "info" && c->name != "render" && c->name != "dump" &&
        c->name != "convert" && c->name != "catalog" && c->name != "tiles") {
        *problem = "unknown command " + c->name;
        return false;
    }
    if (c->name == "catalog" && (positional.size() == 2 || positional.size() == 3)) {
        c->options.chart = positional[1];
        if (positional.size() == 3) c->options.output = positional[2];
        return true;
    }
    if (positional.size() != wanted) {
        *problem = c->name + " takes " + std::to_string(wanted - 1) + " argument" + (wanted == 2 ? "" : "s");
        return false;
    }
    if (wanted > 1) c->options.chart = positional[1];
    if (wanted > 2) c->options.output = positional[2];
    return true;
}

// The version, and the kernels the library beside it (or the one given
// with --library) runs on this processor.
int print_version(int argc, char **argv) {
    std::printf("nvch-host %s\n", NVCH_VERSION);
    std::string library = default_library_path(argv[0]);
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--library") library = argv[i + 1];
    LoadedLibrary loaded;
    NvchExports nvch{};
    std::string problem;
    char kernels[256];
    if (load_exports(library, &loaded, &nvch, &problem) && nvch.get_kernels != nullptr &&
        nvch.get_kernels(kernels, sizeof kernels) >= 0)
        std::printf("kernels: %s\n", kernels);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--version") return print_version(argc, argv);
        if (a == "--help" || a == "-h") {
            std::printf("nvch-host %s: a command-line host for the nvch plug-in, which reads BSB raster\n"
                        "nautical charts (KAP files).\n\n%s", NVCH_VERSION, kUsage);
            return 0;
        }
    }
    remove_temporaries_on_signals();
    Command command;
    std::string problem;
    if (!parse(argc, argv, &command, &problem)) return usage(problem);
    if (command.library.empty()) command.library = default_library_path(argv[0]);
    LoadedLibrary library;
    NvchExports nvch{};
    if (!load_exports(command.library, &library, &nvch, &problem)) {
        std::fprintf(stderr, "nvch-host: %s\n", problem.c_str());
        return 2;
    }
    if (command.name == "formats") return command_formats(nvch);
    if (command.name == "info") return command_info(nvch, command.options);
    if (command.name == "render") return command_render(nvch, command.options);
    if (command.name == "convert") return command_convert(nvch, command.options);
    if (command.name == "catalog") return command_catalog(nvch, command.options);
    if (command.name == "tiles") return command_tiles(nvch, command.options);
    return command_dump(nvch, command.options);
}
