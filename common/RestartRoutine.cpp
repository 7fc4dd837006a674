#include "common/RestartRoutine.h"

#include <windows.h>

namespace quenvar {

void RestartWindows() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    if (token != nullptr) CloseHandle(token);
    ExitWindowsEx(EWX_REBOOT, 0);
}

void (*restartRoutine)() = RestartWindows;

}  // namespace quenvar
