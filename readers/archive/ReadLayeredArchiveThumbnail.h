// Reader function for layered-archive documents ("rvnpack").
#pragma once

#include "image/CImage32.h"
#include "platform/Platform.h"

// Returns true only after resizing `image` to the stored preview's size and writing every pixel.
bool ReadLayeredArchiveThumbnail(tarn::CImage32& image, IStream* stream);
