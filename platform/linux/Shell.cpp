#include "Shell.h"

#include <mutex>

namespace {
std::mutex notifyLock;
std::vector<platform::shell::ChangeNotification> recorded;
}  // namespace

void SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2) {
    std::lock_guard lock(notifyLock);
    recorded.push_back({wEventId, uFlags, dwItem1, dwItem2});
}

namespace platform::shell {

std::vector<ChangeNotification> ChangeNotifications() {
    std::lock_guard lock(notifyLock);
    return recorded;
}

void ClearChangeNotifications() {
    std::lock_guard lock(notifyLock);
    recorded.clear();
}

}  // namespace platform::shell
