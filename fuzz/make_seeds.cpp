// Writes seed inputs for the fuzz targets, made with the test chart writer:
// sound charts of every depth and projection, skewed ones, and a few kinds
// of damage. Each target gets them with the prefix its input starts with.
//
//   make-seeds FOLDER     (writes FOLDER/header, FOLDER/open, FOLDER/getrow)
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "chart_writer.h"

namespace {

using kap::Bytes;

std::vector<std::pair<std::string, Bytes>> seed_charts() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    for (int depth = 1; depth <= 7; ++depth)
        seeds.push_back({"depth" + std::to_string(depth), kap::simple_chart(40, 12, depth, 3).build()});
    const char *projections[] = {"PR=MERCATOR,PP=50.0", "PR=TRANSVERSE MERCATOR,PP=-1.0",
                                 "PR=UNIVERSAL TRANSVERSE MERCATOR,PP=-3.0", "PR=POLYCONIC,PP=-1.0",
                                 "PR=LAMBERT CONFORMAL CONIC,PP=-1.0", "PR=ALBERS,PP=-1.0,P1=45,P5=40,P6=55",
                                 "PR=ALBERS SPHERICAL,PP=-1.0,P1=45,P5=40,P6=55", "PR=UTM,PP=-1"};
    int n = 0;
    for (const char *p : projections) {
        auto w = kap::simple_chart(30, 10);
        w.header[3] = std::string("KNP/SC=20000,GD=NAD83,") + p + ",SK=0.0";
        seeds.push_back({"projection" + std::to_string(n++), w.build()});
    }
    for (double angle : {10.0, 45.0741597, 343.4711111, 90.0}) {
        auto w = kap::simple_chart(36, 20);
        w.header[3] = "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,SK=" + std::to_string(angle);
        seeds.push_back({"skew" + std::to_string(static_cast<int>(angle)), w.build()});
    }
    auto ost = kap::simple_chart(30, 9);
    ost.rows_per_entry = 3;
    ost.header[5] = "OST/3";
    seeds.push_back({"ost3", ost.build()});
    auto arc = kap::simple_chart(30, 9);
    arc.header.push_back("ARC/UX=1000,UY=2000,DX=2.5,DY=2.5, UN=Meters");
    seeds.push_back({"arc", arc.build()});
    auto no_ifm = kap::simple_chart(30, 9, 3);
    std::erase_if(no_ifm.header, [](const std::string &l) { return l.rfind("IFM", 0) == 0; });
    no_ifm.byte_before_index = 3;
    seeds.push_back({"no_ifm", no_ifm.build()});
    auto damaged = kap::simple_chart(30, 9);
    damaged.raw_rows[2] = kap::row_record(3, Bytes(3, 1), 4);
    damaged.raw_rows[4] = {0x85, 0x9f, 0xff, 0xff, 0x7f, 0x00};
    damaged.index_entries[6] = 1 << 28;
    seeds.push_back({"damaged", damaged.build()});
    return seeds;
}

void write(const std::filesystem::path &folder, const std::string &name, const Bytes &prefix, const Bytes &chart) {
    std::filesystem::create_directories(folder);
    Bytes bytes = prefix;
    bytes.insert(bytes.end(), chart.begin(), chart.end());
    kap::write_file((folder / name).string(), bytes);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: make-seeds FOLDER\n", stderr);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    // getrow: skew flag, then eight 32-bit row numbers.
    Bytes rows = {1};
    for (int32_t r : {0, 1, 5, 9, -1, 100, 3, 2})
        for (int k = 0; k < 4; ++k) rows.push_back(static_cast<uint8_t>(static_cast<uint32_t>(r) >> (8 * k)));
    for (const auto &[name, chart] : seed_charts()) {
        write(root / "header", name, {}, chart);
        write(root / "open", name + "_skew", {1}, chart);
        write(root / "open", name + "_stored", {0}, chart);
        write(root / "getrow", name, rows, chart);
    }
    return 0;
}
