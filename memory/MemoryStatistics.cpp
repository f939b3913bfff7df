#include "memory/MemoryStatistics.h"

namespace tarn {

namespace {
// Constant-initialised, so it is ready before any static constructor allocates, and never
// destroyed, so blocks freed during static destruction are still counted.
constinit MemoryStatistics processStatistics;
}  // namespace

MemoryStatistics& Statistics() { return processStatistics; }

}  // namespace tarn
