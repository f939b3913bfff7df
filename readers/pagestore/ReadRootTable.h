// A page-store document's metadata: blob 0, read whole and verified as a Document buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "readers/pagestore/HzdDocument.h"
#include "readers/schema/DocumentSchema.h"

namespace tarn {

struct FreeBlock {
    void operator()(uint8_t* p) const { std::free(p); }
};

struct RootTable {
    std::unique_ptr<uint8_t, FreeBlock> buffer;
    size_t size = 0;
    const hzd::Document* document = nullptr;
};

// Raises tarn::HZDError ("Invalid nextVidx: 0x"..., "Fail to alloc", "Wrong binary format").
RootTable ReadRootTable(HzdDocument& document);

}  // namespace tarn
