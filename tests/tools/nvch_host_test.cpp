// The command-line host, run as a separate process: it loads the built
// library by file name and reaches it through its exports only.
#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "bsb.h"
#include "chart_writer.h"
#include "host_runner.h"
#include "nvch_version.h"
#include "raster/kernels.h"
#include "sha256.h"
#include "test_files.h"

#ifndef NVCH_MAKE_SAMPLES
#define NVCH_MAKE_SAMPLES ""
#endif

namespace {

// A number field of `info --json`.
double json_number(const std::string &json, const std::string &key) {
    std::smatch m;
    const std::regex pattern("\"" + key + "\":(-?[0-9.eE+-]+)");
    if (!std::regex_search(json, m, pattern)) return NAN;
    return std::stod(m[1]);
}

// Reads the rows of an opened PNG into `out`; false on a libpng error. No
// C++ object lives in the frame that setjmp returns to.
bool read_png_rows(png_structp png, png_infop info, std::FILE *f, uint8_t *out, png_uint_32 width,
                   png_uint_32 height) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_init_io(png, f);
    png_read_info(png, info);
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, out + static_cast<size_t>(y) * width, nullptr);
    return true;
}

// The pixels of a paletted PNG, read back with libpng.
std::vector<uint8_t> png_pixels(const std::string &path, int *width, int *height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    // Read the palette indices themselves, not the colours they stand for.
    std::FILE *f = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> pixels(static_cast<size_t>(image.width) * image.height);
    if (!read_png_rows(png, info, f, pixels.data(), image.width, image.height)) pixels.clear();
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    png_image_free(&image);
    return pixels;
}

std::string sha256_file(const std::string &path) {
    const std::string bytes = slurp(path);
    Sha256 h;
    h.update(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    return h.hex();
}

struct RealChart {
    const char *file;
    int width, height;
    double x, y, pixel_width, pixel_height;
    const char *sha256;
    int colours;
};

// The tables of the real charts' README: upright size and pixels (skew
// correction on), map information, and the "RGB" count plus entry 0.
const RealChart kCharts[] = {
    {"11361_2.KAP", 1493, 2344, -9959235.031, 3346996.492, 4.576367, -4.575701,
     "7b97bd4c862f614f03f0d69cda18a28b0ffade2cc53454def8f49cc54cf5f956", 10},
    {"12205_7.KAP", 2940, 1866, -8504165.640, 4265152.093, 6.298314, -6.225474,
     "58591d1d23d40b72d5b66199efab6c0c227de6c41b90948817dff38d84ba85e4", 8},
    {"12205_12.KAP", 2550, 1832, -8498079.176, 4306262.714, 6.285271, -6.280748,
     "c30313e225f40a4f95c95b95713ef1c20090077e0451cbe9c885a498659f0422", 8},
    {"14988_2.KAP", 637, 665, -1003.942, 5921542.833, 2.683277, -2.684420,
     "cbe2e4d80193de58fb07b753269975960c60a09ac741572372aad3491e6325a3", 5},
    {"14771_1.KAP", 12269, 12272, -8264.393, 4933086.373, 1.499963, -1.500410,
     "5b73abd9f12c1c5774a44be410e668937108ae0fc4fdb89132b002bed97f4abe", 11},
};

}  // namespace

TEST(CommandLineHost, ListsTheFormat) {
    const Outcome r = host("formats");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "title: BSB Format\ndescription: BSB Format DLL, version 1.0\ntemplate: *.kap\nextension: .kap\n"
              "short name: kap\npixel type: u8\nlayer type: thematic\n");
    EXPECT_EQ(r.err, "");
}

TEST(CommandLineHost, NamesItsVersionAndTheKernelsTheLibraryRuns) {
    const Outcome r = host("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("nvch-host ") + NVCH_VERSION + "\nkernels: " +
                         skew_kernel_info(skew_kernel_best()).name + " (skewed serving), " +
                         run_kernel_info(run_kernel_best()).name + " (run decoding)\n");
    EXPECT_EQ(r.err, "");
}

TEST(ReaderTexts, AreCutToTheCallersBufferAndTellTheirFullLength) {
    char whole[128];
    const int32_t length = BSB_get_kernels(whole, sizeof whole);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::strlen(whole), static_cast<size_t>(length));
    char cut[6] = "xxxxx";
    EXPECT_EQ(BSB_get_kernels(cut, 4), length);
    EXPECT_EQ(std::string(cut, 5), std::string(whole, 3) + '\0' + 'x');
    char one = 'x';
    EXPECT_EQ(BSB_get_kernels(&one, 1), length);
    EXPECT_EQ(one, '\0');
    EXPECT_EQ(BSB_get_kernels(nullptr, 10), -1);
    EXPECT_EQ(BSB_get_kernels(cut, 0), -1);
    EXPECT_EQ(BSB_get_kernels(cut, -5), -1);
}

TEST(CommandLineHost, DescribesTheSampleAsJson) {
    const Outcome r = host("info " + quoted(sample("harbour.kap")) + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"title_index\":0,\"layers\":[\"Band_1\"],\"width\":480,\"height\":360,"
                         "\"block_width\":480,\"block_height\":1"),
              std::string::npos)
        << r.out;
    EXPECT_NEAR(json_number(r.out, "pixel_width"), 4.0, 1e-6);
    EXPECT_NEAR(json_number(r.out, "pixel_height"), -4.0, 1e-6);
    EXPECT_NE(r.out.find("\"units\":\"meter\""), std::string::npos);
    EXPECT_NE(r.out.find("\"count\":8,\"modification_time\":0,\"entries\":[[255,255,255],[0,0,0],"),
              std::string::npos);
    EXPECT_NE(r.out.find("\"coordinate_system\":\"PROJCS[\\\"WGS84_MERCATOR\\\""), std::string::npos);
    const Outcome lts = host("info " + quoted(sample("harbour.kap")) + " --lts 50.8");
    EXPECT_NE(lts.out.find("PARAMETER[\"Standard_Parallel_1\",50.8]"), std::string::npos) << lts.out;
}

TEST(CommandLineHost, DescribesEachRealChartAsItsReferenceTablesSay) {
    REQUIRE_REAL_CHARTS();
    for (const RealChart &c : kCharts) {
        const Outcome r = host("info " + quoted(real_chart(c.file)) + " --json");
        ASSERT_EQ(r.status, 0) << c.file << r.err;
        EXPECT_EQ(json_number(r.out, "width"), c.width) << c.file;
        EXPECT_EQ(json_number(r.out, "height"), c.height) << c.file;
        EXPECT_NEAR(json_number(r.out, "upper_left_x"), c.x, 0.01) << c.file;
        EXPECT_NEAR(json_number(r.out, "upper_left_y"), c.y, 0.01) << c.file;
        EXPECT_NEAR(json_number(r.out, "pixel_width"), c.pixel_width, 1e-5) << c.file;
        EXPECT_NEAR(json_number(r.out, "pixel_height"), c.pixel_height, 1e-5) << c.file;
        EXPECT_EQ(json_number(r.out, "count"), c.colours) << c.file;
        EXPECT_NE(r.out.find("\"units\":\"meter\""), std::string::npos);
        EXPECT_NE(r.out.find("\"coordinate_system\":\"PROJCS["), std::string::npos);
    }
}

TEST(CommandLineHost, SaysWhatEachRealChartKnowsOfItself) {
    // The header's own words, the eight palettes, the outline as its "PLY"
    // records give it, and corners that the projection puts where the
    // reference map information says.
    REQUIRE_REAL_CHARTS();
    const Outcome r = host("info " + quoted(real_chart("11361_2.KAP")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nchart: SOUTHWEST PASS (number 58), scale 1:40000\n"
                         "edition: 02/01/2006; notice: 09/15/2007\n"
                         "datum: NAD83; projection: MERCATOR; units: FEET; sounding datum: MEAN LOWER LOW WATER\n"
                         "palettes: RGB DAY DSK NGT NGR GRY PRC PRG\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\noutline (latitude, longitude): 28.87394722, -89.46102500; 28.93355833, -89.46102500; "
                         "28.93355833, -89.40819167; 28.87394722, -89.40819167\n"),
              std::string::npos)
        << r.out;
    // Mercator x is a lambda on the equator's radius: the upper-left
    // corner's longitude against the reference corner.
    const Outcome j = host("info " + quoted(real_chart("11361_2.KAP")) + " --json");
    ASSERT_EQ(j.status, 0);
    const auto corners = j.out.find("\"corners\":[[");
    ASSERT_NE(corners, std::string::npos) << j.out;
    const double lat = std::strtod(j.out.c_str() + corners + 12, nullptr);
    const double lon = std::strtod(j.out.c_str() + j.out.find(',', corners + 12) + 1, nullptr);
    EXPECT_NEAR(6378137.0 * lon * 0.017453292519943295, -9959235.031, 0.01);
    EXPECT_NEAR(lat, 28.937288, 1e-5);
    EXPECT_NE(j.out.find("\"scale\":40000,"), std::string::npos);
    EXPECT_NE(j.out.find("\"palettes\":[\"RGB\",\"DAY\",\"DSK\",\"NGT\",\"NGR\",\"GRY\",\"PRC\",\"PRG\"]"),
              std::string::npos);
}

TEST(CommandLineHost, DumpsTheReferencePixelsOfEachRealChart) {
    REQUIRE_REAL_CHARTS();
    TempDir dir;
    for (const RealChart &c : kCharts) {
        const std::string raw = dir.path("chart.raw");
        const Outcome r = host("dump " + quoted(real_chart(c.file)) + " " + quoted(raw));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");   // no progress bar when standard error is not a terminal
        EXPECT_EQ(sha256_file(raw), c.sha256) << c.file;
    }
    const Outcome stored = host("dump " + quoted(real_chart("12205_7.KAP")) + " " + quoted(dir.path("s.raw")) + " --no-skew");
    EXPECT_EQ(sha256_file(dir.path("s.raw")), "d35aec61daee7e60740467cdbf3af4dea3b5a21b16349b01a071695739475177");
}

TEST(CommandLineHost, RendersThePixelsItDumpsAndHidesWhatLiesOutside) {
    // The same pixels, but those a skewed chart gains outside its stored
    // image when it is turned upright: 0 in the dump, hidden (255) in the
    // PNG; none in an upright chart.
    TempDir dir;
    std::vector<std::string> charts = {sample("harbour.kap"), sample("harbour_skewed.kap")};
    if (!real_charts_dir().empty()) charts.push_back(real_chart("12205_7.KAP"));
    for (const std::string &chart : charts) {
        const std::string png = dir.path("chart.png"), raw = dir.path("chart.raw");
        ASSERT_EQ(host("render " + quoted(chart) + " " + quoted(png)).status, 0);
        ASSERT_EQ(host("dump " + quoted(chart) + " " + quoted(raw)).status, 0);
        int width = 0, height = 0;
        const std::vector<uint8_t> pixels = png_pixels(png, &width, &height);
        const std::string dumped = slurp(raw);
        ASSERT_EQ(pixels.size(), dumped.size()) << chart;
        size_t hidden = 0, differ = 0;
        for (size_t k = 0; k < pixels.size(); ++k) {
            const auto d = static_cast<uint8_t>(dumped[k]);
            if (pixels[k] == 255) {
                ++hidden;
                if (d != 0) ++differ;
            } else if (pixels[k] != d) {
                ++differ;
            }
        }
        EXPECT_EQ(differ, 0u) << chart;
        EXPECT_EQ(hidden > 0, chart.find("harbour.kap") == std::string::npos) << chart;
    }
}

TEST(CommandLineHost, ReportsEachErrorInOneLineWithAStatus) {
    TempDir dir;
    const std::string text = dir.path("notes.txt");
    std::ofstream(text) << "not a chart\n";
    const std::string broken = dir.path("broken.kap");
    std::ofstream(broken, std::ios::binary) << "VER/3.0\r\nKNP/PR=MERCATOR\r\nBSB/RA=5,5\r\n\x1a";
    const struct {
        std::string arguments;
        int status;
        std::string err_ends_with;
    } cases[] = {
        {"info " + quoted(dir.path("missing.kap")), 1, "nvch-host: " + dir.path("missing.kap") + ": no such file\n"},
        {"info " + quoted(text), 1, "nvch-host: " + text + " is not a BSB chart (KAP file)\n"},
        {"info " + quoted(broken), 1, "nvch-host: " + broken + " could not be opened\n"},
        {"render " + quoted(sample("harbour.kap")) + " " + quoted(dir.path("no/such/dir/x.png")), 1,
         "nvch-host: cannot write " + dir.path("no/such/dir/x.png") + ": No such file or directory\n"},
        {"dump " + quoted(sample("harbour.kap")) + " " + quoted(dir.path("no/such/dir/x.raw")), 1,
         "nvch-host: cannot write " + dir.path("no/such/dir/x.raw") + ": No such file or directory\n"},
        {"--library " + quoted(dir.path("libnone.so")) + " formats", 2,
         "nvch-host: cannot load the library " + dir.path("libnone.so")},
    };
    for (const auto &c : cases) {
        const Outcome r = host(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments;
        EXPECT_NE(r.err.find(c.err_ends_with), std::string::npos) << c.arguments << "\n" << r.err;
    }
    // The library's own diagnostics come first.
    const Outcome opened = host("info " + quoted(broken));
    EXPECT_EQ(opened.err, "failed to get color mode\nCan't get color mode for BSB file\n"
                          "nvch-host: " + broken + " could not be opened\n");
    for (const char *usage : {"", "info", "frobnicate x", "render a.kap", "info a.kap --lts north", "info a.kap --bogus"}) {
        const Outcome r = host(usage);
        EXPECT_EQ(r.status, 2) << usage;
        EXPECT_NE(r.err.find("usage: nvch-host"), std::string::npos) << usage;
    }
}

TEST(CommandLineHost, NamesAMissingExport) {
#if defined(__linux__)
    // A library that has all but one of the exports.
    TempDir dir;
    const std::string source = dir.path("partial.c"), library = dir.path("libpartial.so");
    std::ofstream(source) << "int nvchInstanceTitleListGet(void) { return 0; }\n";
    if (run("cc", "-shared -fPIC -o " + quoted(library) + " " + quoted(source)).status != 0)
        GTEST_SKIP() << "no C compiler to build a partial library";
    const Outcome r = host("--library " + quoted(library) + " formats");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "nvch-host: the library " + library + " has no export nvchInstanceDescriptionGet\n");
#else
    GTEST_SKIP() << "builds a shared library with the system's C compiler";
#endif
}

TEST(Samples, AreRegeneratedByteForByte) {
    TempDir dir;
    ASSERT_EQ(run(NVCH_MAKE_SAMPLES, quoted(dir.path("."))).status, 0);
    for (const char *name : {"harbour.kap", "harbour_skewed.kap"}) {
        const std::string made = slurp(dir.path(name)), committed = slurp(sample(name));
        EXPECT_FALSE(committed.empty()) << name;
        EXPECT_LT(committed.size(), 100000u);
        EXPECT_TRUE(made == committed) << name << " differs from the committed sample";
    }
}

TEST(CommandLineHost, LeavesNoLeakOrErrorUnderValgrind) {
#if defined(NVCH_SANITIZED)
    GTEST_SKIP() << "a sanitized build cannot run under valgrind";
#endif
    if (run("valgrind", "--version").status != 0) GTEST_SKIP() << "valgrind is not installed";
    REQUIRE_REAL_CHARTS();
    TempDir dir;
    const std::string chart = quoted(real_chart("12205_12.KAP"));
    for (const std::string &arguments : {"info " + chart, "render " + chart + " " + quoted(dir.path("v.png")),
                                         "convert " + chart + " " + quoted(dir.path("v.tif"))}) {
        const Outcome r = run("valgrind", "--error-exitcode=9 --leak-check=full --errors-for-leak-kinds=all " +
                                          quoted(NVCH_HOST) + " " + arguments);
        EXPECT_EQ(r.status, 0) << arguments << "\n" << r.err;
        EXPECT_NE(r.err.find("All heap blocks were freed"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("ERROR SUMMARY: 0 errors"), std::string::npos) << r.err;
    }
}

TEST(CommandLineHost, ConvertsAFolderOfChartsSkippingWhatItCannotAndOverwritingNothing) {
    // Good charts at two depths of the folder (one named .KAP), a chart that
    // opens but whose rows cannot be read, a text file and garbage named
    // like charts, and a file that is no chart by its name.
    TempDir dir;
    namespace fs = std::filesystem;
    const fs::path in = dir.path("charts"), out = dir.path("converted");
    fs::create_directories(in / "harbours" / "south");
    fs::copy_file(sample("harbour.kap"), in / "harbour.kap");
    fs::copy_file(sample("harbour_skewed.kap"), in / "harbours" / "south" / "SKEWED.KAP");
    auto unreadable = kap::simple_chart(30, 10);
    unreadable.index_pointer = 1 << 30;   // every row lies past the end of the file
    kap::write_file((in / "harbours" / "unreadable.kap").string(), unreadable.build());
    kap::write_file((in / "notes.kap").string(), {'h', 'e', 'l', 'l', 'o', '\n'});
    kap::write_file((in / "garbage.KAP").string(), kap::Bytes(3000, 0xA7));
    kap::write_file((in / "readme.txt").string(), {'x'});

    const Outcome first = host("convert " + quoted(in.string()) + " " + quoted(out.string()));
    EXPECT_EQ(first.status, 1) << first.err;   // one chart failed
    EXPECT_TRUE(std::regex_match(
        first.out, std::regex("converted 2, not charts 2, already there 0, skipped 0, failed 1 in [0-9]+\\.[0-9] s\n")))
        << first.out;
    const std::string in_text = in.string();
    EXPECT_NE(first.err.find("nvch-host: " + (in / "notes.kap").string() + " is not a BSB chart (KAP file)\n"),
              std::string::npos) << first.err;
    EXPECT_NE(first.err.find("nvch-host: " + (in / "garbage.KAP").string() + " is not a BSB chart (KAP file)\n"),
              std::string::npos) << first.err;
    EXPECT_NE(first.err.find("nvch-host: " + (in / "harbours" / "unreadable.kap").string() +
                             ": row 0 could not be read\n"),
              std::string::npos) << first.err;
    EXPECT_TRUE(fs::exists(out / "harbour.tif"));
    EXPECT_TRUE(fs::exists(out / "harbours" / "south" / "SKEWED.tif"));
    // Nothing else is left in the output folder: no partial files.
    int files = 0;
    for (const auto &e : fs::recursive_directory_iterator(out)) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 2);

    // Run again: what is there stays, unless --force.
    const auto written = fs::last_write_time(out / "harbour.tif");
    const Outcome again = host("convert " + quoted(in.string()) + " " + quoted(out.string()));
    EXPECT_TRUE(std::regex_match(
        again.out, std::regex("converted 0, not charts 2, already there 2, skipped 0, failed 1 in [0-9]+\\.[0-9] s\n")))
        << again.out;
    EXPECT_NE(again.err.find("nvch-host: " + (out / "harbour.tif").string() +
                             " is already there (--force replaces it)\n"),
              std::string::npos) << again.err;
    EXPECT_EQ(fs::last_write_time(out / "harbour.tif"), written);
    const Outcome forced = host("convert " + quoted(in.string()) + " " + quoted(out.string()) + " --force");
    EXPECT_TRUE(std::regex_match(
        forced.out, std::regex("converted 2, not charts 2, already there 0, skipped 0, failed 1 in [0-9]+\\.[0-9] s\n")))
        << forced.out;

    // A folder of good charts alone converts with status 0, to PNGs with
    // world files when asked.
    fs::remove(in / "harbours" / "unreadable.kap");
    const Outcome png = host("convert " + quoted(in.string()) + " " + quoted(dir.path("png")) + " -of png --world");
    EXPECT_EQ(png.status, 0) << png.err;
    EXPECT_TRUE(fs::exists(fs::path(dir.path("png")) / "harbours" / "south" / "SKEWED.pgw"));
    EXPECT_TRUE(fs::exists(fs::path(dir.path("png")) / "harbour.prj"));
}
