// The one header product code includes for the Win32/COM names it uses.
// Windows builds get the real SDK headers; everything else gets the portable layer,
// which implements the same names with the behaviour Windows documents.
#pragma once

#if defined(_WIN32)
#include "windows/Win32.h"
#else
#include "linux/Win32.h"
#endif
