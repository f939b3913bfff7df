// The page-store reader for callers that want the preview as a whole image: the same source
// as ReadPageStorePreview, collected in an image.
#pragma once

#include "image/CImage32.h"
#include "platform/Platform.h"
#include "readers/pagestore/HzdDocument.h"
#include "readers/pagestore/ReadPageStorePreview.h"

// Returns true only after resizing `image` to the stored preview's size and writing every
// pixel, or with `image` untouched when the pixel blob cannot be decoded. Failures of the
// runtime-error family are reported in a message box and give false with a 64 x 64
// placeholder in `image`; every other false leaves `image` as it was.
bool ReadPageStoreThumbnail(tarn::CImage32& image, IStream* stream);

namespace tarn {

// LoadPreview into `image`, with the outcomes of ReadPageStoreThumbnail (no message box here:
// a malformed pixel blob raises tarn::FException).
bool LoadThumbnail(CImage32& image, HzdDocument& document, int& width, int& height);

}  // namespace tarn
