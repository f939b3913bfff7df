// Reading bytes of the host stream by absolute offset.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/Platform.h"

namespace pagestore {

// Fills `buffer` with `size` bytes of the stream at `offset` and returns the count read.
// Failures are thrown (ThumbError), never returned.
using PageReadFunction = std::function<int(uint64_t offset, uint8_t* buffer, int size)>;

// Binds to the caller's stream pointer, which must outlive the function: Seek to the offset,
// Read, and insist on every byte ("Seek fail", "Read fail", "Can't read enough").
PageReadFunction StreamReadFunction(IStream*& stream);

}  // namespace pagestore
