// Batches over folders as users keep them, tried as a hostile user would:
// links in and out of the folder, folders and charts that cannot be read,
// names that differ only in case, very long names and very deep paths, a
// chart that claims to be huge, interrupted runs and full disks. Every
// status, message and summary line is asserted.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "chart_writer.h"
#include "host_runner.h"
#include "test_files.h"

#ifndef NVCH_HOST
#define NVCH_HOST ""
#endif

namespace fs = std::filesystem;

namespace {

// The line the host prints for a problem.
std::string said(const std::string &message) { return "nvch-host: " + message + "\n"; }

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// Runs the host without root's bypass of file permissions: as root, with
// the capabilities that bypass them dropped; as anyone else, as is. Empty
// when the machine cannot drop them.
std::optional<std::string> without_bypass() {
    if (geteuid() != 0) return "";
    const std::string setpriv = "setpriv --bounding-set=-dac_override,-dac_read_search";
    if (std::system((setpriv + " true 2>/dev/null").c_str()) != 0) return std::nullopt;
    return setpriv;
}

// Files under `folder`, relative, as generic strings.
std::set<std::string> files_under(const fs::path &folder) {
    std::set<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (!it->is_directory()) files.insert(fs::relative(it->path(), folder).generic_string());
    return files;
}

// A chain of `depth` folders named `name` under `base`, made and removed
// through descriptors, as its full path is longer than the system opens.
class DeepFolders {
public:
    DeepFolders(const fs::path &base, std::string name, int depth) : base_(base), name_(std::move(name)), depth_(depth) {
        int fd = open(base.c_str(), O_DIRECTORY | O_RDONLY);
        for (int k = 0; k < depth && fd >= 0; ++k) {
            mkdirat(fd, name_.c_str(), 0755);
            const int inner = openat(fd, name_.c_str(), O_DIRECTORY | O_RDONLY);
            close(fd);
            fd = inner;
        }
        bottom_ = fd;
    }
    ~DeepFolders() {
        if (bottom_ >= 0) close(bottom_);
        const int fd = open(base_.c_str(), O_DIRECTORY | O_RDONLY);
        remove_below(fd, depth_);
        close(fd);
    }
    // Writes `bytes` as `file` in the deepest folder.
    void write(const std::string &file, const kap::Bytes &bytes) const {
        const int fd = openat(bottom_, file.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }
    // The path of the folder `level` deep (1 is the first).
    std::string path(int level) const {
        std::string p = base_.string();
        for (int k = 0; k < level; ++k) p += "/" + name_;
        return p;
    }

private:
    void remove_below(int fd, int levels) const {
        if (fd < 0 || levels == 0) return;
        const int inner = openat(fd, name_.c_str(), O_DIRECTORY | O_RDONLY);
        if (inner >= 0) {
            remove_below(inner, levels - 1);
            // The files of the deepest folder.
            if (levels == 1)
                if (DIR *d = fdopendir(dup(inner)); d != nullptr) {
                    for (dirent *e; (e = readdir(d)) != nullptr;)
                        if (e->d_name[0] != '.') unlinkat(inner, e->d_name, 0);
                    closedir(d);
                }
            close(inner);
        }
        unlinkat(fd, name_.c_str(), AT_REMOVEDIR);
    }

    fs::path base_;
    std::string name_;
    int depth_;
    int bottom_ = -1;
};

// Makes a FIFO; false where the system has none.
bool make_fifo(const fs::path &path) { return mkfifo(path.c_str(), 0644) == 0; }

// A chart small on disk that claims `side` x `side` pixels: one index
// entry for all its rows, so every row past its own few is read as the
// last one it has.
kap::Bytes huge_claim(int side) {
    auto w = kap::simple_chart(40, 40);
    w.header[2] = "BSB/NA=HUGE,NU=1,RA=" + std::to_string(side) + "," + std::to_string(side) + ",DU=254";
    w.rows_per_entry = 1 << 30;
    w.header[5] = "OST/1073741824";
    return w.build();
}

const std::regex kSummary("converted ([0-9]+), not charts ([0-9]+), already there ([0-9]+), skipped ([0-9]+), "
                          "failed ([0-9]+) in [0-9]+\\.[0-9] s\n");

// The counts of a convert summary line, or empty when it is no summary.
std::vector<int> counts_of(const std::string &out) {
    std::smatch m;
    if (!std::regex_match(out, m, kSummary)) return {};
    return {std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5])};
}

// A run of the host with its largest resident size, in bytes.
struct Measured {
    int status = -1;
    int64_t peak = -1;
    std::string out;
};

// Runs the host with `arguments` in a child of its own, so that no earlier
// run counts in its peak.
Measured measured_host(const std::string &arguments) {
    TempDir dir;
    const std::string out = dir.path("out");
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        const int raw = std::system((quoted(NVCH_HOST) + " " + arguments + " >" + quoted(out) + " 2>/dev/null").c_str());
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        const int64_t figures[2] = {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, static_cast<int64_t>(usage.ru_maxrss) * 1024};
        if (write(pipe_ends[1], figures, sizeof figures) != sizeof figures) _exit(1);
        _exit(0);
    }
    close(pipe_ends[1]);
    int64_t figures[2] = {-1, -1};
    if (read(pipe_ends[0], figures, sizeof figures) != sizeof figures) figures[0] = -1;
    close(pipe_ends[0]);
    waitpid(child, nullptr, 0);
    return {static_cast<int>(figures[0]), figures[1], slurp(out)};
}

// Starts the host with `arguments` as its own process.
pid_t start_host(const std::vector<std::string> &arguments) {
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char *> argv{const_cast<char *>(NVCH_HOST)};
        for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execv(NVCH_HOST, argv.data());
        _exit(127);
    }
    return child;
}

// Waits until a temporary file shows in `folder` (or `seconds` pass).
bool temporary_shows(const fs::path &folder, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        for (const std::string &f : files_under(folder))
            if (f.ends_with(".part")) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

#if defined(NVCH_SANITIZED)
constexpr int kHugeSide = 20000;   // sanitized builds are several times slower
#else
constexpr int kHugeSide = 100000;
#endif

}  // namespace

TEST(Batch, SaysWhatBecameOfEveryFileInAFolderAsUsersKeepThem) {
    const auto prefix = without_bypass();
    if (!prefix) GTEST_SKIP() << "cannot run without root's bypass of file permissions (setpriv failed)";
    TempDir dir;
    const fs::path in = dir.path("charts"), out = dir.path("converted"), elsewhere = dir.path("elsewhere");
    fs::create_directories(elsewhere / "folder");
    const kap::Bytes chart = kap::simple_chart(30, 12).build();

    // The first sub-folder read cannot be read; the listing goes on past it.
    fs::create_directories(in / "aa_locked");
    kap::write_file((in / "aa_locked" / "hidden.kap").string(), chart);
    for (const char *sub : {"b1", "b2", "b3"}) {
        fs::create_directories(in / sub);
        kap::write_file((in / sub / "harbour.kap").string(), chart);
    }
    kap::write_file((in / "plain.kap").string(), chart);
    kap::write_file((in / "locked.kap").string(), chart);
    // Links: to a chart and to a folder outside, back up the tree, to
    // nothing, to themselves. An unrelated file lies where the old convert
    // wrote beside the link's target.
    kap::write_file((elsewhere / "target.kap").string(), chart);
    kap::write_file((elsewhere / "folder" / "inner.kap").string(), chart);
    kap::write_file((elsewhere / "target.tif").string(), {'m', 'i', 'n', 'e'});
    fs::create_symlink(elsewhere / "target.kap", in / "linked.kap");
    fs::create_directory_symlink(elsewhere / "folder", in / "linkdir");
    fs::create_directory_symlink("..", in / "b1" / "up");
    fs::create_symlink(in / "nothing.kap", in / "gone.kap");
    fs::create_symlink("self.kap", in / "self.kap");
    ASSERT_TRUE(make_fifo(in / "pipe.kap"));
    // Names that differ only in case, a name of 250 bytes and a chart below
    // folders deeper than the system opens.
    kap::write_file((in / "twin.kap").string(), chart);
    kap::write_file((in / "twin.KAP").string(), chart);
    const std::string long_name = std::string(246, 'n') + ".kap";
    kap::write_file((in / long_name).string(), chart);
    fs::create_directory(in / "deep");
    DeepFolders deep(in / "deep", std::string(200, 'd'), 21);
    deep.write("deep.kap", chart);
    // The first folder whose path is longer than the system opens.
    int too_deep = 1;
    while (deep.path(too_deep).size() <= 4095) ++too_deep;
    fs::permissions(in / "locked.kap", fs::perms::none);
    fs::permissions(in / "aa_locked", fs::perms::none);

    const std::string arguments = "convert " + quoted(in.string()) + " " + quoted(out.string());
    const Outcome first = host(arguments, *prefix);
    EXPECT_EQ(first.status, 1);
    EXPECT_EQ(counts_of(first.out), (std::vector<int>{7, 0, 0, 4, 5})) << first.out;
    for (const std::string &line :
         {said((in / "aa_locked").string() + " cannot be read: Permission denied"),
          said((in / "locked.kap").string() + " cannot be read: Permission denied"),
          said((in / "pipe.kap").string() + " is not a regular file"),
          said((in / "gone.kap").string() + " is a link to nothing"),
          said((in / "self.kap").string() + " is a link in a loop"),
          said((in / "b1" / "up").string() + " is a link back to a folder above it: not followed"),
          said((in / "twin.KAP").string() + " and " + (in / "twin.kap").string() + " would both be written to " +
               (out / "twin.tif").string() + ": neither is converted"),
          said(deep.path(too_deep) + " has a path longer than the system opens (4095)")})
        EXPECT_TRUE(contains(first.err, line)) << "missing: " << line << "in:\n" << first.err;
    // Every output under the output folder at the place of the name listed,
    // none beside a link's target, no temporary file left.
    EXPECT_EQ(files_under(out), (std::set<std::string>{"plain.tif", "b1/harbour.tif", "b2/harbour.tif",
                                                        "b3/harbour.tif", "linked.tif", "linkdir/inner.tif",
                                                        std::string(246, 'n') + ".tif"}));
    EXPECT_EQ(files_under(elsewhere), (std::set<std::string>{"target.kap", "target.tif", "folder/inner.kap"}));

    // Again with --force, an output replaced by a link to an unrelated file
    // and a temporary file a dead run left: the link is replaced, not
    // written through; the leftover is removed and named.
    fs::remove(out / "plain.tif");
    fs::create_symlink(elsewhere / "target.tif", out / "plain.tif");
    const std::string leftover = (out / "b2" / ".nvch-999999999-3.part").string();
    kap::write_file(leftover, {'x'});
    const Outcome forced = host(arguments + " --force", *prefix);
    EXPECT_EQ(forced.status, 1);
    EXPECT_EQ(counts_of(forced.out), (std::vector<int>{7, 0, 0, 4, 5})) << forced.out;
    EXPECT_TRUE(contains(forced.err, said("removed " + leftover + ", left by a run that ended before it was done")))
        << forced.err;
    EXPECT_FALSE(fs::is_symlink(out / "plain.tif"));
    EXPECT_EQ(slurp((elsewhere / "target.tif").string()), "mine");
    EXPECT_EQ(files_under(out).size(), 7u);

    // The catalog of the same folder counts the same way; the twins are
    // two charts there.
    const Outcome catalog = host("catalog " + quoted(in.string()) + " " + quoted(dir.path("all.geojson")), *prefix);
    EXPECT_EQ(catalog.status, 1);
    EXPECT_TRUE(std::regex_match(catalog.out,
                                 std::regex("catalogued 9, not charts 0, skipped 4, failed 3 in [0-9]+\\.[0-9] s\n")))
        << catalog.out;
    EXPECT_TRUE(contains(catalog.err, said((in / "locked.kap").string() + " cannot be read: Permission denied")));

    fs::permissions(in / "aa_locked", fs::perms::owner_all);
}

TEST(Batch, ConvertsAChartClaimingAHugeSizeInBoundedMemoryAndGoesOn) {
    TempDir dir;
    const fs::path in = dir.path("charts"), out = dir.path("out");
    fs::create_directories(in);
    kap::write_file((in / "huge.kap").string(), huge_claim(kHugeSide));
    kap::write_file((in / "small.kap").string(), kap::simple_chart(30, 12).build());
    const Measured r = measured_host("convert " + quoted(in.string()) + " " + quoted(out.string()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(counts_of(r.out), (std::vector<int>{2, 0, 0, 0, 0})) << r.out;
    EXPECT_EQ(files_under(out), (std::set<std::string>{"huge.tif", "small.tif"}));
#if defined(NVCH_SANITIZED)
    GTEST_SKIP() << "memory is not measured in a sanitized build";
#else
    // What is held beside the compressed output stays under 64 MB, whatever
    // the claim (the library and the program themselves take a few more).
    const int64_t output = static_cast<int64_t>(fs::file_size(out / "huge.tif"));
    EXPECT_LT(r.peak - output, 64 * 1024 * 1024 + 24 * 1024 * 1024) << "peak " << r.peak << ", output " << output;
    std::printf("peak memory converting a chart claiming %d x %d: %.1f MB (output %.1f MB)\n", kHugeSide, kHugeSide,
                r.peak / 1048576.0, output / 1048576.0);
    if (!real_charts_dir().empty()) {
        const Measured real = measured_host("convert " + quoted(real_chart("14771_1.KAP")) + " " +
                                            quoted((out / "14771_1.tif").string()));
        EXPECT_EQ(real.status, 0);
        std::printf("peak memory converting 14771_1.KAP: %.1f MB\n", real.peak / 1048576.0);
        EXPECT_LT(real.peak, 96 * 1024 * 1024);
    }
#endif
}

TEST(Batch, InterruptedRunsLeaveNoFileAndAReRunRemovesWhatADeadOneLeft) {
    TempDir dir;
    const fs::path out = dir.path("out");
    fs::create_directories(out);
    const std::string huge = dir.write("huge.kap", huge_claim(kHugeSide));

    // Interrupted while writing a PNG (its temporary file grows as rows
    // come) and while compressing a GeoTIFF: nothing stays behind, and the
    // process ends as the signal ends it.
    struct Case {
        std::vector<std::string> arguments;
        int signal;
    };
    for (const Case &c : {Case{{"convert", huge, (out / "huge.png").string(), "-of", "png"}, SIGINT},
                          Case{{"convert", huge, (out / "huge.tif").string(), "--compress", "lzw"}, SIGTERM},
                          Case{{"render", huge, (out / "render.png").string()}, SIGINT}}) {
        const pid_t child = start_host(c.arguments);
        const bool png = c.arguments[2].ends_with(".png");
        if (png) {
            EXPECT_TRUE(temporary_shows(out, 30)) << c.arguments[2];
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        kill(child, c.signal);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << c.arguments[2] << " status " << status;
        EXPECT_TRUE(files_under(out).empty()) << c.arguments[2];
    }

    // Killed outright, a run leaves its temporary file; the next run into
    // that folder removes it and says so.
    const pid_t child = start_host({"convert", huge, (out / "huge.png").string(), "-of", "png"});
    ASSERT_TRUE(temporary_shows(out, 30));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    const std::set<std::string> left = files_under(out);
    ASSERT_EQ(left.size(), 1u);
    const std::string leftover = (out / *left.begin()).string();
    EXPECT_TRUE(std::regex_match(*left.begin(), std::regex("\\.nvch-[0-9]+-0\\.part")));
    const Outcome again = host("convert " + quoted(sample("harbour.kap")) + " " + quoted((out / "harbour.tif").string()));
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, said("removed " + leftover + ", left by a run that ended before it was done"));
    EXPECT_EQ(files_under(out), (std::set<std::string>{"harbour.tif"}));
}

TEST(Batch, AFullDiskLeavesNoTruncatedFileUnderTheFinalName) {
    // A file size limit stands for a full disk: writes past it fail.
    TempDir dir;
    const fs::path out = dir.path("out");
    fs::create_directories(out);
    const std::string limited = "ulimit -f 4; trap '' XFSZ;";
    for (const auto &[command, name] : {std::pair<std::string, std::string>{"render", "chart.png"},
                                        {"dump", "chart.raw"},
                                        {"convert", "chart.tif"}}) {
        const std::string target = (out / name).string();
        const Outcome r = run("sh", "-c " + quoted(limited + " exec " + std::string(NVCH_HOST) + " " + command + " " +
                                                   sample("harbour.kap") + " " + target));
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_TRUE(std::regex_match(r.err, std::regex("nvch-host: .*" + name + ".*File too large\n"))) << r.err;
        EXPECT_TRUE(files_under(out).empty()) << command;
    }
    // Without the limit, each is written whole under its final name.
    EXPECT_EQ(host("render " + quoted(sample("harbour.kap")) + " " + quoted((out / "chart.png").string())).status, 0);
    EXPECT_EQ(files_under(out), (std::set<std::string>{"chart.png"}));
}

TEST(Batch, ALongChartNameStaysWithinTheSystemsLimitWhileWritten) {
    TempDir dir;
    const std::string name = std::string(246, 'c');
    const std::string chart = dir.write(name + ".kap", kap::simple_chart(30, 12).build());
    for (const char *command : {"convert", "render"}) {
        const std::string target = dir.path(name + (command == std::string("convert") ? ".tif" : ".png"));
        const Outcome r = host(std::string(command) + " " + quoted(chart) + " " + quoted(target));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fs::exists(target)) << command;
    }
}
