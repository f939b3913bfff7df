// The page-store reader behind the exported class object, as the shell reaches it.
// Input: u16 thumbnail edge (taken modulo 513), then the file as page records (FuzzSupport.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/ProviderRequest.h"
#include "server/Exports.h"
#include "server/Module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputCursor cursor(data, size);
    const UINT cx = cursor.U16() % (fuzz::kMaxFuzzEdge + 1);
    const std::vector<uint8_t> file = fuzz::ExpandPageRecords(cursor);

    IClassFactory* factory = nullptr;
    fuzz::Require(DllGetClassObject(CLSID_KwbThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)) ==
                      S_OK,
                  "DllGetClassObject failed");
    fuzz::RunThumbnailRequest(factory, cx, file);
    return 0;
}
