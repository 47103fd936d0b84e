// Writes the charts the GIS checks need, each with what it checks known by
// construction: an outline (a "PLY" polygon), a chart across the 180th
// meridian with an outline across it too, a skewed chart with an outline,
// a chart with a night palette besides its own, and a chart of four
// quadrants of one colour each (pixel values 1 to 4, left to right, top to
// bottom).
//
//   write-test-charts FOLDER
#include <cstdio>
#include <filesystem>
#include <string>

#include "chart_writer.h"

namespace {

void add_outline(kap::ChartWriter &w, const char *const (&points)[6]) {
    for (const char *p : points) w.header.push_back(p);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write-test-charts FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    // Reference points at the corners: 50.01 N 1.01 W to 49.99 N 0.99 W.
    // A pentagon with a notch, inside them.
    const char *const outline[6] = {"PLY/1,50.008,-1.008", "PLY/2,50.008,-0.992", "PLY/3,49.992,-0.992",
                                    "PLY/4,49.992,-1.000", "PLY/5,50.000,-1.003", "PLY/6,49.992,-1.008"};
    kap::ChartWriter plain = kap::simple_chart(600, 400);
    add_outline(plain, outline);
    plain.header.insert(plain.header.end(), {"NGT/1,10,0,0", "NGT/2,0,20,0", "NGT/5,1,2,3"});
    kap::write_file((folder / "outline.kap").string(), plain.build());

    kap::ChartWriter skewed = kap::simple_chart(600, 400);
    skewed.header[3] = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=30";
    add_outline(skewed, outline);
    kap::write_file((folder / "skewed_outline.kap").string(), skewed.build());

    kap::ChartWriter dateline = kap::simple_chart(600, 400);
    for (std::string &line : dateline.header) {
        if (line.rfind("REF/1", 0) == 0) line = "REF/1,0,0,50.0100000000,179.9900000000";
        if (line.rfind("REF/2", 0) == 0) line = "REF/2,599,0,50.0100000000,-179.9900000000";
        if (line.rfind("REF/3", 0) == 0) line = "REF/3,599,399,49.9900000000,-179.9900000000";
        if (line.rfind("REF/4", 0) == 0) line = "REF/4,0,399,49.9900000000,179.9900000000";
    }
    dateline.header.insert(dateline.header.end(), {"PLY/1,50.008,179.992", "PLY/2,50.008,-179.992",
                                                   "PLY/3,49.992,-179.992", "PLY/4,49.992,179.992"});
    kap::write_file((folder / "dateline.kap").string(), dateline.build());

    kap::write_file((folder / "no_outline.kap").string(), kap::simple_chart(120, 80).build());

    kap::ChartWriter quadrants = kap::simple_chart(600, 400);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 600; ++x)
            quadrants.pixels[static_cast<size_t>(y) * 600 + x] = static_cast<uint8_t>(1 + (x >= 300) + 2 * (y >= 200));
    kap::write_file((folder / "quadrants.kap").string(), quadrants.build());
    return 0;
}
