// Holds a critical section for one scope, exceptions included.
#pragma once

#include "platform/Platform.h"

namespace tarn {

class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~CriticalSectionGuard() { LeaveCriticalSection(&cs_); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

}  // namespace tarn
