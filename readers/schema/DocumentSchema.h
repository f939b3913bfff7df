// Verification and access for the page-store metadata buffer (root table hzd::Document).
#pragma once

#include <cstddef>
#include <cstdint>

#include "Document_generated.h"

namespace hzd {

// Sizes a Document buffer can have: the smallest well-formed buffer, and the largest the
// verifier accepts.
constexpr size_t kMinDocumentBytes = 12;
constexpr size_t kMaxDocumentBytes = FLATBUFFERS_MAX_BUFFER_SIZE - 1;

// The limits every metadata buffer is verified under.
flatbuffers::Verifier::Options DocumentVerifierOptions();

// True when [data, data + size) is a well-formed Document buffer under those limits. Sizes the
// verifier cannot represent (2^31 - 1 bytes and more) are refused before it is built: its
// constructor asserts on them.
bool VerifyDocumentBytes(const uint8_t* data, size_t size);

// Document slot 12 in place, or null when the root's vtable does not reach it or it is absent.
// Valid only after VerifyDocumentBytes and while the buffer lives.
inline const ThumbnailRef* DocumentThumbnail(const uint8_t* verifiedBuffer) {
    return GetDocument(verifiedBuffer)->thumbnail();
}

}  // namespace hzd
