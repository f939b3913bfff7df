// One thumbnail request through the same COM objects the shell uses: kwbthumb and the file
// manager plugins share it, so every front end gives the same picture for the same document.
#pragma once

#include "platform/Platform.h"

namespace kwb {

enum class DocumentFormat { Unknown, PageStore, LayeredArchive };

// The reader is chosen by the stream's first bytes, never by a file name (desktop sandboxes
// rename their input); the stream is left at its start.
DocumentFormat SniffDocument(IStream* stream);

// Asks the provider of `format` for the size x size thumbnail of `stream`. S_OK hands the
// caller a 32-bit bottom-up DIB section with straight alpha, which it deletes; any other
// result leaves *bitmap null. Unknown formats give E_FAIL without touching the stream.
HRESULT RequestThumbnail(IStream* stream, DocumentFormat format, UINT size, HBITMAP* bitmap);

}  // namespace kwb
