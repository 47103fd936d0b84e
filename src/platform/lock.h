// The one lock around what is process-wide: the projection library keeps
// its parameters in process-wide variables between a set-up and the
// transforms that use it, so opens (the whole open sequence) take turns.
#pragma once

void process_lock();
void process_unlock();

// Holds the lock for its scope.
class ProcessLockGuard {
public:
    ProcessLockGuard() { process_lock(); }
    ~ProcessLockGuard() { process_unlock(); }
    ProcessLockGuard(const ProcessLockGuard &) = delete;
    ProcessLockGuard &operator=(const ProcessLockGuard &) = delete;
};

// A lock of its own for a process-wide table (the descriptor pool, the
// memory budget): held only for a few lookups at a time.
#if defined(_WIN32)
class Mutex {
public:
    void lock();
    void unlock();

private:
    void *srw_ = nullptr;   // an SRWLOCK, statically initialised to zero
};
#else
#include <mutex>
using Mutex = std::mutex;
#endif
