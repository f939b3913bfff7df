// Handle-backed image memory: what allocate/free image memory do with the paged-memory switch
// on. Image buffers call these directly, so a buffer never mixes handles and addresses even if
// the switch changes while it lives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "memory/NMemHandle.h"

namespace tarn {

// A handle for `bytes` (rounded up to a multiple of 8), or null when the heap is exhausted.
// Pager failures (file creation, growth, mapping) throw std::runtime_error.
NMemHandle* AllocateImageHandle(size_t bytes);
// `bytes` must be the size given at allocation. The handle must not be locked.
void FreeImageHandle(NMemHandle* handle, size_t bytes);

// Bytes of the given rounded size currently allocated through AllocateImageHandle.
int64_t LiveBytesOfSize(uint64_t roundedSize);

// Requests whose size has at least this many live bytes (this request included) go to
// file-backed handles once the heap is over its threshold.
constexpr int64_t kFileBackedSizeBytes = 0xA00000;

}  // namespace tarn
