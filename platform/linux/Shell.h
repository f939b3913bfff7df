// The shell's change notification. Nothing listens here, so each call is recorded for
// tests to inspect.
#pragma once

#include <vector>

#include "Types.h"

#define SHCNE_ASSOCCHANGED 0x08000000L
#define SHCNF_IDLIST 0x0000u

void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2);

namespace platform::shell {

struct ChangeNotification {
    LONG eventId;
    UINT flags;
    LPCVOID item1;
    LPCVOID item2;
};
std::vector<ChangeNotification> ChangeNotifications();
void ClearChangeNotifications();

}  // namespace platform::shell
