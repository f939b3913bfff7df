// A thumbnail request made the way the provider made it before previews were streamed: the
// reader fills a whole image, which is resampled to the fitted size, copied centred onto a
// transparent cx x cx canvas and then into a bottom-up bitmap. The streamed provider must give
// the same outcome and the same bytes.
#pragma once

#include "platform/Platform.h"
#include "server/ZavelThumbnailProvider.h"

namespace testdoc {

// S_OK with *bitmap (the caller deletes it), S_FALSE as the provider would return it, or
// E_OUTOFMEMORY when the scaled image or the canvas cannot be allocated.
HRESULT WholePreviewThumbnail(const ImageReader& reader, IStream* stream, UINT cx, HBITMAP* bitmap);

}  // namespace testdoc
