// UTF-16 <-> UTF-8 for the layer's own use (file names, module paths).
#pragma once

#include <string>

#include "Types.h"

namespace platform {
std::string ToUtf8(LPCWSTR text);
std::u16string ToUtf16(const std::string& text);
}  // namespace platform
