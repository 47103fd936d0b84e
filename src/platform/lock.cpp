#include "platform/lock.h"

#if defined(_WIN32)
#include <windows.h>

namespace {
// Statically initialised: usable before any constructor runs, and needs no
// teardown when the library is unloaded.
SRWLOCK lock = SRWLOCK_INIT;
}  // namespace

void process_lock() { AcquireSRWLockExclusive(&lock); }
void process_unlock() { ReleaseSRWLockExclusive(&lock); }

void Mutex::lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&srw_)); }
void Mutex::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&srw_)); }
#else
#include <mutex>

namespace {
std::mutex lock;
}  // namespace

void process_lock() { lock.lock(); }
void process_unlock() { lock.unlock(); }
#endif
