#include "chart_listing.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The longest path the system opens. Longer ones are named, not tried.
#if defined(_WIN32)
constexpr size_t kLongestPath = 259;
#else
constexpr size_t kLongestPath = 4095;
#endif

void list_folder(const fs::path &folder, const fs::path &relative, std::set<fs::path> &ancestors,
                 std::vector<Listed> &out) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        out.push_back({Listed::Kind::failed, folder.string(), relative.string(), "cannot be read: " + ec.message()});
        return;
    }
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) {
            out.push_back({Listed::Kind::failed, folder.string(), relative.string(), "cannot be read: " + ec.message()});
            break;
        }
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry &a, const fs::directory_entry &b) { return a.path() < b.path(); });
    for (const fs::directory_entry &e : entries) {
        const fs::path path = e.path();
        const fs::path rel = relative / path.filename();
        const bool chart_name = is_chart_name(path.filename().string());
        if (path.string().size() > kLongestPath) {
            // Not even its kind can be asked: the folder's own listing says
            // whether it is a folder.
            if (chart_name || e.is_directory(ec) || e.is_symlink(ec))
                out.push_back({Listed::Kind::failed, path.string(), rel.string(),
                               "has a path longer than the system opens (" + std::to_string(kLongestPath) + ")"});
            continue;
        }
        const fs::file_status own = fs::symlink_status(path, ec);
        const bool link = fs::is_symlink(own);
        const fs::file_status target = link ? fs::status(path, ec) : own;
        if (link && (ec || !fs::exists(target))) {
            const bool loop = ec == std::errc::too_many_symbolic_link_levels;
            if (chart_name)
                out.push_back({Listed::Kind::skipped, path.string(), rel.string(),
                               loop ? "is a link in a loop" : "is a link to nothing"});
            continue;
        }
        if (fs::is_directory(target)) {
            const fs::path real = fs::canonical(path, ec);
            if (ec || ancestors.count(real) != 0) {
                out.push_back({Listed::Kind::skipped, path.string(), rel.string(),
                               "is a link back to a folder above it: not followed"});
                continue;
            }
            ancestors.insert(real);
            list_folder(path, rel, ancestors, out);
            ancestors.erase(real);
            continue;
        }
        if (!chart_name) continue;
        if (fs::is_regular_file(target))
            out.push_back({Listed::Kind::chart, path.string(), rel.string(), ""});
        else
            out.push_back({Listed::Kind::skipped, path.string(), rel.string(), "is not a regular file"});
    }
}

}  // namespace

bool is_chart_name(const std::string &name) {
    if (name.size() < 4) return false;
    std::string extension = name.substr(name.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return extension == ".kap";
}

std::vector<Listed> list_charts(const std::string &folder) {
    std::vector<Listed> out;
    std::set<fs::path> ancestors;
    std::error_code ec;
    ancestors.insert(fs::canonical(folder, ec));
    list_folder(folder, fs::path(), ancestors, out);
    return out;
}
