// Reader function for page-store (.kwb) documents.
#pragma once

#include "image/CImage32.h"
#include "platform/Platform.h"

// Returns true only after resizing `image` to the stored preview's size and writing every
// pixel. Failures of the runtime-error family are reported in a message box and give false.
bool ReadPageStoreThumbnail(tarn::CImage32& image, IStream* stream);
