// The size a preview takes inside the square the host asks for.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

// Fitted size of a w x h preview inside a cx x cx square, aspect ratio kept; sides may
// come out 0, which the resize then turns into 1.
struct FittedSize {
    int32_t width;
    int32_t height;
};
FittedSize FitIntoSquare(int32_t w, int32_t h, UINT cx);
