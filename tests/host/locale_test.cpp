// The host's locale does not reach what the library writes or compares: a
// host under a German locale (decimal comma) or a Turkish one (where 'i'
// upper-cases to a dotted capital) gets the same texts, byte for byte, as
// one under the C locale.
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "chart_writer.h"
#include "host/coordsys.h"
#include "nvch.h"
#include "open_chart.h"
#include "platform/heap.h"
#include "test_files.h"

namespace {

// What a host sees of a few charts: messages, map information and the
// coordinate system, as one text.
std::string everything_the_host_sees(const TempDir &dir) {
    std::string seen;
    auto mercator = kap::simple_chart(30, 20);
    auto polyconic = kap::simple_chart(30, 20);
    polyconic.header[3] = "KNP/SC=20000,GD=NAD83,PR=Polyconic,PP=-75.5,SK=12.5";
    auto broken = kap::simple_chart(30, 20);
    broken.header.push_back("REF/9,1.5,2.5,40.25,-70.125");
    const std::string charts[] = {dir.write("m.kap", mercator.build()), dir.write("p.kap", polyconic.build()),
                                  dir.write("b.kap", broken.build()), dir.path("missing")};
    for (const std::string &path : charts) {
        ChartFile *file = nullptr;
        int32_t title = 0;
        const Captured c = capture_output([&] { file = nvchFileTitleIdentifyAndOpen(path.c_str(), &title, 1); });
        seen += c.out + c.err;
        if (file == nullptr) continue;
        BSB_set_LTS(12.5f);   // printed as the Mercator standard parallel
        LayerHandle *layer = nullptr;
        int32_t z1, width, height, z2, bw, bh;
        nvchLayerOpen(file, "Band_1", &z1, &width, &height, &z2, &bw, &bh, &layer);
        char *name = nullptr, *units = nullptr;
        double values[4];
        nvchLayerMapInfoRead(layer, &name, &values[0], &values[1], &values[2], &values[3], &units);
        // The test's own numbers, exact and free of any locale.
        for (double v : values) {
            char digits[64];
            seen.append(digits, std::to_chars(digits, digits + sizeof digits, v, std::chars_format::hex).ptr);
            seen += ' ';
        }
        seen += std::to_string(width) + " " + std::to_string(height) + " " + units;
        host_release(name);
        host_release(units);
        FieldText wkt = coordsys_wkt_build(file);
        seen += wkt ? wkt.get() : "(no coordinate system)";
        seen += "\n";
        nvchLayerClose(layer);
        nvchFileClose(file);
    }
    BSB_set_LTS(0.0f);
    return seen;
}

// Sets a locale for the test's life, making it with localedef into a
// private folder when the machine lacks it; puts the C locale back after.
class HostLocale {
public:
    explicit HostLocale(const std::vector<std::string> &names, const char *source, const char *charmap,
                        const TempDir &dir) {
        for (const std::string &name : names)
            if (std::setlocale(LC_ALL, name.c_str()) != nullptr) {
                active_ = name;
                return;
            }
#if !defined(_WIN32)
        const std::string folder = dir.path("locales");
        std::filesystem::create_directories(folder);
        const std::string made = folder + "/" + names.front();
        const std::string command = "localedef -i " + std::string(source) + " -f " + charmap + " " + made +
                                    " >/dev/null 2>&1";
        if (std::system(command.c_str()) > 1) return;   // 1: made, with warnings
        setenv("LOCPATH", folder.c_str(), 1);
        if (std::setlocale(LC_ALL, names.front().c_str()) != nullptr) active_ = names.front();
#else
        (void)source;
        (void)charmap;
        (void)dir;
#endif
    }
    ~HostLocale() { std::setlocale(LC_ALL, "C"); }
    const std::string &active() const { return active_; }

private:
    std::string active_;
};

}  // namespace

TEST(HostLocale, GermanAndTurkishLocalesChangeNoTextTheLibraryWrites) {
    TempDir dir;
    std::setlocale(LC_ALL, "C");
    const std::string plain = everything_the_host_sees(dir);
    ASSERT_NE(plain.find("PROJCS[\"WGS84_MERCATOR\""), std::string::npos);
    ASSERT_NE(plain.find("PARAMETER[\"Standard_Parallel_1\",12.5]"), std::string::npos);
    ASSERT_NE(plain.find("PROJCS[\"WGS84_Polyconic\""), std::string::npos);
    ASSERT_NE(plain.find("Bad REF record"), std::string::npos);
    ASSERT_NE(plain.find("Unable to open the file"), std::string::npos);

    const struct {
        std::vector<std::string> names;
        const char *source, *charmap;
    } locales[] = {
        {{"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "German"}, "de_DE", "UTF-8"},
        {{"tr_TR.ISO-8859-9", "tr_TR.iso88599", "Turkish_Turkey.1254", "Turkish"}, "tr_TR", "ISO-8859-9"},
    };
    int tried = 0;
    for (const auto &l : locales) {
        HostLocale locale(l.names, l.source, l.charmap, dir);
        if (locale.active().empty()) continue;
        ++tried;
        // The locale is really in force: it writes numbers its own way.
        char probe[16];
        std::snprintf(probe, sizeof probe, "%g", 12.5);
        if (l.source == std::string("de_DE")) {
            EXPECT_STREQ(probe, "12,5");
        }
        EXPECT_EQ(everything_the_host_sees(dir), plain) << locale.active();
    }
    if (tried == 0) GTEST_SKIP() << "no German or Turkish locale could be set or made with localedef";
}
