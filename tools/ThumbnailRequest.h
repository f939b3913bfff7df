// One thumbnail request through the same COM objects the shell uses: kwbthumb and the file
// manager plugins share it, so every front end gives the same picture for the same document.
#pragma once

#include <cstdint>
#include <vector>

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

// The preview fitted into a size x size square with its aspect ratio kept (the longer side is
// `size`): the picture the provider centres on its square canvas, without the canvas, as
// desktop thumbnails are. Pixels are 0xAARRGGBB words, straight alpha, rows top to bottom.
struct FittedImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

enum class FitOutcome {
    Fitted,        // `image` holds the fitted preview
    NotRead,       // the reader found no preview (damaged, or none stored)
    Undecodable,   // the preview is there but its pixels cannot be decoded
    NoMemory,
    UnknownFormat,
};

// Runs the reader of `format` into the provider's own fitting sink, so the fitted image has
// exactly the pixels that RequestThumbnail places on its square.
FitOutcome RequestFittedImage(IStream* stream, DocumentFormat format, UINT size, FittedImage& image);

}  // namespace kwb
