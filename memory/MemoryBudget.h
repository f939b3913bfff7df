// The resident-memory budget of handle-backed image memory.
#pragma once

#include <cstdint>

namespace tarn {

struct MemoryStatistics;
class Pager;

constexpr int64_t kDefaultHeapThreshold = 0x60000000;    // 1.5 GiB
constexpr int64_t kDefaultResidentLimit = 0x140000000;  // 5 GiB

// Sets the default heap threshold and resident limit unless they were set already.
void ApplyDefaults(MemoryStatistics& stats);

// When resident bytes (total - paged out) exceed the limit: release free-listed handles, and if
// that is not enough, page unlocked handles out, each allocator asked for what is still over
// 80 % of the limit.
void EnforceBudget(Pager& pager, MemoryStatistics& stats);

// Bytes an allocator is asked for now: resident - 0.8 x limit, or 0 within the limit.
uint64_t BytesOverBudget(const MemoryStatistics& stats);

}  // namespace tarn
