// Interface IDs that the SDK headers declare but mingw-w64's libuuid does not define.
// selectany: where an SDK's uuid library does define one, the copies merge at link time.
#include "platform/Platform.h"

extern "C" const IID DECLSPEC_SELECTANY IID_IThumbnailProvider = {
    0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};
