// Reader functions for page-store (.kwb) documents.
#pragma once

#include "image/CImage32.h"
#include "image/PreviewSink.h"
#include "platform/Platform.h"

// Returns true only after resizing `image` to the stored preview's size and writing every
// pixel, or with `image` untouched when the pixel blob cannot be decoded. Failures of the
// runtime-error family are reported in a message box and give false with a 64 x 64
// placeholder in `image`.
bool ReadPageStoreThumbnail(tarn::CImage32& image, IStream* stream);

// The same read pushed into `sink` band by band, never holding the preview whole: false = no
// preview (the message box included; the sink then has nothing); true without Begin, or after
// Discard = the pixel blob cannot be decoded ("image untouched"); true after every row = the
// preview. A sink refusing Begin gives false.
bool ReadPageStorePreview(tarn::PreviewSink& sink, IStream* stream);
