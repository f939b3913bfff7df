#include "readers/pagestore/ReadRootTable.h"

#include "readers/pagestore/BlobReader.h"
#include "readers/pagestore/Errors.h"

namespace tarn {

namespace {
constexpr int64_t kRootBlob = 0;
}

RootTable ReadRootTable(HzdDocument& document) {
    pagestore::BlobReader reader(document.Store(), kRootBlob);
    uint64_t size = reader.BlobSize();
    // Sizes no Document buffer can have; refused before anything is allocated.
    if (size < hzd::kMinDocumentBytes || size > hzd::kMaxDocumentBytes) throw HZDError("Wrong binary format");
    RootTable root;
    root.buffer.reset(static_cast<uint8_t*>(std::malloc(size)));
    if (!root.buffer) throw HZDError("Fail to alloc");
    root.size = static_cast<size_t>(size);
    reader.Read(root.buffer.get(), static_cast<int>(size));
    if (!hzd::VerifyDocumentBytes(root.buffer.get(), root.size)) throw HZDError("Wrong binary format");
    root.document = hzd::GetDocument(root.buffer.get());
    return root;
}

}  // namespace tarn
