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
