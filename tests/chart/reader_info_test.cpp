// What a chart knows, through the reader functions: its header records and
// fields, and every palette it carries, against the header text read here.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bsb.h"
#include "chart_writer.h"
#include "open_chart.h"
#include "test_files.h"

namespace {

std::string record(const ChartFile &c, const char *name, int32_t n, int32_t size = 512, int32_t *length = nullptr) {
    std::vector<char> text(static_cast<size_t>(size > 0 ? size : 1), 'x');
    const int32_t got = BSB_get_record(&c, name, n, text.data(), size);
    if (length) *length = got;
    return got < 0 ? "<none>" : std::string(text.data());
}

std::string field(const ChartFile &c, const char *name, const char *key) {
    char text[256];
    return BSB_get_field(&c, name, key, text, sizeof text) < 0 ? "<none>" : std::string(text);
}

struct Palette {
    int32_t count = -1;
    std::vector<uint8_t> red, green, blue;
};

Palette palette(const ChartFile &c, const char *name, int32_t size = 256) {
    Palette p;
    p.red.assign(static_cast<size_t>(size), 0xEE);
    p.green = p.blue = p.red;
    p.count = BSB_get_palette(&c, name, p.red.data(), p.green.data(), p.blue.data(), size);
    return p;
}

// The palette records of a chart file, read here from its header text:
// for each palette, index -> (red, green, blue), and how many records.
struct HeaderPalette {
    int records = 0;
    std::map<int, std::vector<int>> entries;
};

std::map<std::string, HeaderPalette> palettes_in(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::map<std::string, HeaderPalette> found;
    std::string line;
    while (std::getline(in, line) && line.rfind("\x1a", 0) != 0) {
        if (line.size() < 4 || line[3] != '/') continue;
        const std::string name = line.substr(0, 3);
        if (name != "RGB" && name != "DAY" && name != "DSK" && name != "NGT" && name != "NGR" && name != "GRY" &&
            name != "PRC" && name != "PRG")
            continue;
        int i, r, g, b;
        if (std::sscanf(line.c_str() + 4, "%d,%d,%d,%d", &i, &r, &g, &b) != 4) continue;
        ++found[name].records;
        found[name].entries[i] = {r, g, b};
    }
    return found;
}

}  // namespace

TEST(ChartPalettes, EveryPaletteOfEveryRealChartIsItsHeaderEntryByEntry) {
    REQUIRE_REAL_CHARTS();
    // Each chart's palettes have (1 << depth) + 1 entries (the depths of the
    // reference table).
    const std::pair<const char *, int> charts[] = {
        {"11361_2.KAP", 17}, {"12205_7.KAP", 9}, {"12205_12.KAP", 9}, {"14988_2.KAP", 9}, {"14771_1.KAP", 17}};
    for (const auto &[file, entries] : charts) {
        const std::string path = real_chart(file);
        auto o = open_chart(path);
        ASSERT_EQ(o->result, 0);
        const auto in_header = palettes_in(path);
        EXPECT_EQ(in_header.size(), 8u) << file;   // every NOAA chart carries all eight
        for (const auto &[name, expected] : in_header) {
            const Palette p = palette(o->chart, name.c_str());
            EXPECT_EQ(p.count, expected.records + 1) << file << " " << name;
            for (int i = 0; i < 256; ++i) {
                const auto at = static_cast<size_t>(i);
                if (i >= entries) {   // past the chart's entries nothing is written
                    EXPECT_EQ(p.red[at], 0xEE) << file << " " << name << " " << i;
                    continue;
                }
                std::vector<int> want = {0, 0, 0};
                if (const auto it = expected.entries.find(i); it != expected.entries.end())
                    want = it->second;
                else if (name == "RGB" && i == 0)
                    want = {255, 255, 255};   // the chart's own palette starts white
                EXPECT_EQ(p.red[at], want[0]) << file << " " << name << " " << i;
                EXPECT_EQ(p.green[at], want[1]) << file << " " << name << " " << i;
                EXPECT_EQ(p.blue[at], want[2]) << file << " " << name << " " << i;
            }
        }
        // "RGB" is exactly the palette the host interface reports.
        const Palette rgb = palette(o->chart, "RGB");
        EXPECT_EQ(rgb.count, o->chart.color_count) << file;
        for (int i = 0; i < entries; ++i) {
            EXPECT_EQ(rgb.red[static_cast<size_t>(i)], o->chart.palette_red[i]) << file;
            EXPECT_EQ(rgb.blue[static_cast<size_t>(i)], o->chart.palette_blue[i]) << file;
        }
    }
}

TEST(ChartPalettes, AChartWithoutAPaletteSaysSoAndOneWithItGivesItsOwn) {
    TempDir dir;
    kap::ChartWriter w = kap::simple_chart(40, 20, 3, 4);   // depth 3: 9 entries
    w.header.insert(w.header.end(), {"NGT/1,10,0,0", "NGT/3,0,20,0", "NGT/8,1,2,3", "NGT/40,9,9,9"});
    auto o = open_chart(dir.write("n.kap", w.build()));
    ASSERT_EQ(o->result, 0);
    for (const char *absent : {"DAY", "DSK", "NGR", "GRY", "PRC", "PRG", "XYZ", "NG", "NGTX", ""})
        EXPECT_EQ(palette(o->chart, absent).count, -1) << absent;
    const Palette night = palette(o->chart, "NGT", 12);
    EXPECT_EQ(night.count, 5);   // four records and one, as the colour count counts them
    const std::vector<uint8_t> red = {0, 10, 0, 0, 0, 0, 0, 0, 1, 0xEE, 0xEE, 0xEE};
    const std::vector<uint8_t> green = {0, 0, 0, 20, 0, 0, 0, 0, 2, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(night.red, red);
    EXPECT_EQ(night.green, green);
    // Fewer entries asked for: only those are written; none at all gives
    // the count alone.
    const Palette first_two = palette(o->chart, "NGT", 2);
    EXPECT_EQ(first_two.red, (std::vector<uint8_t>{0, 10}));
    EXPECT_EQ(BSB_get_palette(&o->chart, "NGT", nullptr, nullptr, nullptr, 0), 5);
    uint8_t one = 0;
    EXPECT_EQ(BSB_get_palette(&o->chart, "NGT", &one, nullptr, &one, 1), -1);
    EXPECT_EQ(BSB_get_palette(&o->chart, "NGT", &one, &one, &one, -1), -1);
    EXPECT_EQ(BSB_get_palette(nullptr, "NGT", &one, &one, &one, 1), -1);
    EXPECT_EQ(BSB_get_palette(&o->chart, nullptr, &one, &one, &one, 1), -1);
    const Palette rgb = palette(o->chart, "RGB", 9);
    EXPECT_EQ(rgb.count, 5);
    EXPECT_EQ(rgb.red[0], 255);
}

TEST(ChartRecords, HandsOutRecordsAndFieldsAsTheReaderKeepsThem) {
    TempDir dir;
    kap::ChartWriter w = kap::simple_chart(40, 20);
    w.header.push_back("PLY/1,50.01,-1.01");
    w.header.push_back("PLY/2,50.01,-0.99");
    w.header.push_back("PLY/3,49.99,-0.99\n");   // a record ending in a bare LF
    auto o = open_chart(dir.write("r.kap", w.build()));
    ASSERT_EQ(o->result, 0);
    const ChartFile &c = o->chart;
    // Continuation lines joined onto their record, no line end.
    EXPECT_EQ(record(c, "KNP", 0),
              "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,PI=UNKNOWN,SP=UNKNOWN,SK=0.0,TA=90.0,UN=METERS,SD=MEAN "
              "LOWER LOW WATER,DX=2.0,DY=2.0");
    EXPECT_EQ(record(c, "PLY", 0), "PLY/1,50.01,-1.01");
    EXPECT_EQ(record(c, "PLY", 2), "PLY/3,49.99,-0.99");
    EXPECT_EQ(record(c, "PLY", 3), "<none>");
    EXPECT_EQ(record(c, "REF", 3), "REF/4,0,19,49.9900000000,-1.0100000000");
    EXPECT_EQ(record(c, "CHT", 0), "<none>");
    EXPECT_EQ(record(c, "PLY", -1), "<none>");
    // Cut to the buffer, the full length told.
    int32_t length = 0;
    EXPECT_EQ(record(c, "PLY", 0, 6, &length), "PLY/1");
    EXPECT_EQ(length, 17);
    EXPECT_EQ(record(c, "PLY", 0, 1, &length), "");
    EXPECT_EQ(length, 17);
    EXPECT_EQ(record(c, "PLY", 0, 0, &length), "<none>");
    EXPECT_EQ(record(c, "PL", 0), "<none>");

    EXPECT_EQ(field(c, "KNP", "SC"), "20000");
    EXPECT_EQ(field(c, "KNP", "PR"), "MERCATOR");
    EXPECT_EQ(field(c, "KNP", "UN"), "METERS");                   // from the continuation line
    EXPECT_EQ(field(c, "KNP", "DY"), "2.0");                      // the record's last: no line end
    EXPECT_EQ(field(c, "BSB", "NA"), "TEST HARBOUR");
    EXPECT_EQ(field(c, "KNP", "XX"), "<none>");
    EXPECT_EQ(field(c, "NTM", "ND"), "<none>");
    char text[8];
    EXPECT_EQ(BSB_get_field(&c, "KNP", nullptr, text, 8), -1);
    EXPECT_EQ(BSB_get_field(&c, "KNP", "SC", nullptr, 8), -1);
    EXPECT_EQ(BSB_get_field(nullptr, "KNP", "SC", text, 8), -1);

    ChartFile closed = c;
    BSB_close(&o->chart);
    closed.reader = nullptr;
    EXPECT_EQ(record(closed, "KNP", 0), "<none>");
    EXPECT_EQ(field(closed, "KNP", "SC"), "<none>");
}

TEST(ReaderInfo, TheRowExtentIsWhereADeliveredRowShowsTheChart) {
    // Charts whose every stored pixel is 1 to 15: served upright, a row
    // shows the chart exactly where its pixels are not 0, at any angle,
    // square and long, and whole when the chart is served as stored.
    TempDir dir;
    for (const char *skew : {"0.0", "7.5", "33.5", "-60.0", "90.0", "135.0", "180.0", "271.3", "359.9"})
        for (const auto &[width, height] : {std::pair{37, 23}, {120, 9}, {4, 61}}) {
            kap::ChartWriter w = kap::simple_chart(width, height);
            w.header[3] = std::string("KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=") + skew;
            for (size_t k = 0; k < w.pixels.size(); ++k) w.pixels[k] = static_cast<uint8_t>(1 + k % 15);
            const std::string path = dir.write("skewed.kap", w.build());
            for (int32_t served_upright : {1, 0}) {
                SkewSwitch state(served_upright);
                auto o = open_chart(path);
                ASSERT_EQ(o->result, 0) << skew;
                const std::vector<uint8_t> rows = o->all_rows();
                const int32_t delivered_width = o->chart.width;
                int cut = 0;
                for (int32_t row = 0; row < o->chart.height; ++row) {
                    int32_t begin = -7, end = -7;
                    ASSERT_EQ(BSB_get_row_extent(&o->chart, row, &begin, &end), 0);
                    const uint8_t *pixels = rows.data() + static_cast<size_t>(row) * delivered_width;
                    int32_t first = 0, last = delivered_width;
                    while (first < delivered_width && pixels[first] == 0) ++first;
                    while (last > first && pixels[last - 1] == 0) --last;
                    if (first == delivered_width) first = last = begin;   // an empty row: only begin == end counts
                    EXPECT_EQ(begin, first) << "SK=" << skew << " " << width << "x" << height << " row " << row;
                    EXPECT_EQ(end, last) << "SK=" << skew << " " << width << "x" << height << " row " << row;
                    if (!served_upright) {
                        EXPECT_EQ(end - begin, delivered_width);
                    }
                    cut += end - begin < delivered_width ? 1 : 0;
                }
                // A turn other than a quarter's leaves corners in most rows.
                if (served_upright && std::string(skew) == "33.5") {
                    EXPECT_GT(cut, o->chart.height / 2);
                }
                int32_t begin = 0, end = 0;
                EXPECT_EQ(BSB_get_row_extent(&o->chart, -1, &begin, &end), -1);
                EXPECT_EQ(BSB_get_row_extent(&o->chart, o->chart.height, &begin, &end), -1);
                EXPECT_EQ(BSB_get_row_extent(&o->chart, 0, nullptr, &end), -1);
                EXPECT_EQ(BSB_get_row_extent(nullptr, 0, &begin, &end), -1);
            }
        }
}
