#include "memory/MemoryStatistics.h"

#include "memory/ThreadBlockCache.h"

namespace tarn {

namespace {
// Constant-initialised, so it is ready before any static constructor allocates, and never
// destroyed, so blocks freed during static destruction are still counted.
constinit MemoryStatistics processStatistics;
}  // namespace

MemoryStatistics& Statistics() {
    ThreadBlockCache::CountCallingThread();
    return processStatistics;
}

MemoryStatistics& StatisticsRecord() { return processStatistics; }

}  // namespace tarn
