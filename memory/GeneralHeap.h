// The process allocator behind every non-pooled size, with a seam for tests to make it fail.
#pragma once

#include <cstddef>

namespace tarn {

using GeneralHeapAllocate = void* (*)(size_t bytes);

void* GeneralHeapAlloc(size_t bytes);
void GeneralHeapFree(void* address);

// Test seam: replaces the allocation function (null restores malloc).
void SetGeneralHeapAllocateForTesting(GeneralHeapAllocate fn);

}  // namespace tarn
