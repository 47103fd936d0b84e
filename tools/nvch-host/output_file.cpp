#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The temporary files being written, where a signal handler can reach
// them: fixed slots of fixed room, taken and given back atomically.
constexpr int kSlots = 256;
constexpr size_t kRoom = 4096;
char slot_paths[kSlots][kRoom];
std::atomic<bool> slot_taken[kSlots];
std::atomic<bool> slot_live[kSlots];

int take_slot(const std::string &path) {
    if (path.size() >= kRoom) return -1;
    for (int k = 0; k < kSlots; ++k) {
        bool expected = false;
        if (!slot_taken[k].compare_exchange_strong(expected, true)) continue;
        std::memcpy(slot_paths[k], path.c_str(), path.size() + 1);
        slot_live[k].store(true);
        return k;
    }
    return -1;
}

void give_slot(int k) {
    if (k < 0) return;
    slot_live[k].store(false);
    slot_taken[k].store(false);
}

extern "C" void remove_and_end(int signal) {
    for (int k = 0; k < kSlots; ++k)
        if (slot_live[k].load()) std::remove(slot_paths[k]);   // unlink: safe in a signal handler
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// ".nvch-PID-N.part": the pid of the run writing it.
bool temporary_of(const std::string &name, long *pid) {
    if (name.rfind(".nvch-", 0) != 0 || name.size() < 12 || name.compare(name.size() - 5, 5, ".part") != 0) return false;
    char *end = nullptr;
    *pid = std::strtol(name.c_str() + 6, &end, 10);
    return end != nullptr && *end == '-' && *pid > 0;
}

bool process_runs(long pid) {
    if (pid == static_cast<long>(getpid())) return true;
#if defined(_WIN32)
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) return false;
    const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running;
#else
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

}  // namespace

OutputFile::OutputFile(const std::string &final_path) : final_(final_path) {
    static std::atomic<int> serial{0};
    const fs::path folder = fs::path(final_path).parent_path();
    const std::string name = ".nvch-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".part";
    temporary_ = (folder / name).string();
    slot_ = take_slot(temporary_);
}

OutputFile::~OutputFile() {
    if (!placed_) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
    }
    give_slot(slot_);
}

bool OutputFile::put_in_place(std::string *problem) {
    std::error_code ec;
    // A link standing where the output goes is replaced, never written
    // through.
    if (fs::is_symlink(fs::symlink_status(final_, ec))) fs::remove(final_, ec);
    fs::rename(temporary_, final_, ec);
    if (ec) {
        *problem = final_ + " cannot be written: " + ec.message();
        return false;
    }
    placed_ = true;
    return true;
}

std::string OutputFile::told(std::string problem) const {
    for (size_t at; (at = problem.find(temporary_)) != std::string::npos;) problem.replace(at, temporary_.size(), final_);
    return problem;
}

void remove_stale_temporaries(const std::string &folder) {
    static std::mutex lock;
    static std::set<std::string> looked_at;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!looked_at.insert(folder.empty() ? "." : folder).second) return;
    }
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; it != end && !ec; it.increment(ec)) {
        long pid = 0;
        const std::string name = it->path().filename().string();
        if (!temporary_of(name, &pid) || process_runs(pid)) continue;
        std::error_code removed;
        if (fs::remove(it->path(), removed))
            std::fprintf(stderr, "nvch-host: removed %s, left by a run that ended before it was done\n",
                         it->path().string().c_str());
    }
}

void remove_temporaries_on_signals() {
    std::signal(SIGINT, remove_and_end);
    std::signal(SIGTERM, remove_and_end);
#if !defined(_WIN32)
    std::signal(SIGHUP, remove_and_end);
#endif
}
