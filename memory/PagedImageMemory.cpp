// Placeholder until the handle-backed allocators land: the switched-on path uses plain blocks.
#include "memory/ImageMemory.h"

namespace tarn {
void* AllocatePagedImageMemory(size_t bytes) { return AllocateBlock(bytes); }
void FreePagedImageMemory(void* address, size_t bytes) { FreeBlock(address, bytes); }
}  // namespace tarn
