// The layered-archive reader behind a kind-0 class factory, as a host would reach it.
// Input: u16 thumbnail edge (taken modulo 513), then the file's bytes as they are.
#include <cstddef>
#include <cstdint>

#include "fuzz/ProviderRequest.h"
#include "server/ClassFactory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputCursor cursor(data, size);
    const UINT cx = cursor.U16() % (fuzz::kMaxFuzzEdge + 1);
    const std::vector<uint8_t> file(cursor.Rest(), cursor.Rest() + cursor.Remaining());

    IClassFactory* factory = nullptr;
    fuzz::Require(CreateClassFactory(kLayeredArchiveReader, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK,
                  "no kind-0 class factory");
    // This reader lets a non-numeric width or height through as an exception; the provider
    // turns any exception into E_FAIL.
    fuzz::RunThumbnailRequest(factory, cx, file, E_FAIL);
    return 0;
}
