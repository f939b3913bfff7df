// The pools' mutex: a slim lock, which holds no kernel object and needs no clean-up, so a pool
// structure can go away with the memory it lives in (at an unload) without leaving a handle.
// Meets BasicLockable, for std::lock_guard.
#pragma once

#include "platform/Platform.h"

namespace tarn {

class SlimMutex {
public:
    constexpr SlimMutex() = default;
    SlimMutex(const SlimMutex&) = delete;
    SlimMutex& operator=(const SlimMutex&) = delete;

    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace tarn
