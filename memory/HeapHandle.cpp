#include "memory/HeapHandle.h"

#include "memory/GeneralHeap.h"

namespace tarn {

HeapHandle::~HeapHandle() { GeneralHeapFree(block_); }

}  // namespace tarn
