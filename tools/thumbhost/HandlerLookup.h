// How the shell finds the thumbnail handler of .kwb documents in the registry.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace thumbhost {

// The handler's CLSID: under the ProgID that HKCR\.kwb names, else under .kwb itself.
// keyFound names the key it came from.
bool FindThumbnailHandler(CLSID& clsid, std::wstring& keyFound);

}  // namespace thumbhost
