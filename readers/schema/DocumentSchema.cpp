#include "readers/schema/DocumentSchema.h"

namespace hzd {

flatbuffers::Verifier::Options DocumentVerifierOptions() {
    flatbuffers::Verifier::Options options;
    options.max_depth = 64;
    options.max_tables = 1000000;
    options.check_alignment = true;
    options.check_nested_flatbuffers = true;
    return options;
}

bool VerifyDocumentBytes(const uint8_t* data, size_t size) {
    if (!data || size > kMaxDocumentBytes) return false;
    flatbuffers::Verifier verifier(data, size, DocumentVerifierOptions());
    return VerifyDocumentBuffer(verifier);
}

}  // namespace hzd
