#include "common/RestartRoutine.h"

#include <windows.h>

#include "common/UniqueResource.h"

namespace quenvar {

void RestartWindows() {
    UniqueHandle token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.receive());
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    token.reset();
    ExitWindowsEx(EWX_REBOOT, 0);
}

void (*restartRoutine)() = RestartWindows;

}  // namespace quenvar
