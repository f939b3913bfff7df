// The two calls every pixel buffer takes its memory through.
#pragma once

#include <atomic>
#include <cstddef>

namespace tarn {

// Process-wide switch for handle-backed (pageable) pixel memory. Off for the whole life of
// the thumbnail server; only programs that hold many large images turn it on.
extern std::atomic<bool> PagedMemoryEnabled;

// Returns null when memory is exhausted. The size is rounded up to a multiple of 8.
void* AllocateImageMemory(size_t bytes);
// `bytes` must be the size given at allocation: it chooses the pool the block returns to.
void FreeImageMemory(void* address, size_t bytes);

// The block allocator: exact sizes of 16, 64 and 128 KiB (after rounding to 8) come from the
// calling thread's pools, every other size from the general heap. Counts in Statistics().
// Null when memory is exhausted or the size is too large to round; throws std::runtime_error
// when a new pool region cannot be made. Any thread may free a block; null is ignored.
void* AllocateBlock(size_t bytes);
void FreeBlock(void* address, size_t bytes);

// For a module that is unloaded while the process goes on: when no pool block is live, returns
// every pool region to the system and frees every record the pools keep (per-thread records,
// the thread-exit slot, the region directory), so a later load starts clean, and returns true.
// With a block still live it changes nothing and returns false. No thread may use the pools
// during the call, nor afterwards through the thread-local state it had before (an unload
// takes that with it). Not for process exit: other threads may have died holding pool locks.
bool ReleaseImageMemoryOnUnload();

// What the paged-memory switch selects (handle-backed memory that can page out to a file).
void* AllocatePagedImageMemory(size_t bytes);
void FreePagedImageMemory(void* address, size_t bytes);

}  // namespace tarn
