// Temporary: plain heap until the block pools land.
#include <cstdlib>

#include "memory/ImageMemory.h"

namespace tarn {
std::atomic<bool> PagedMemoryEnabled{false};
void* AllocateImageMemory(size_t bytes) { return std::malloc((bytes + 7) & ~size_t{7}); }
void FreeImageMemory(void* address, size_t) { std::free(address); }
}  // namespace tarn
