// Shared pieces of the whole-system tests: where the built files are, and a
// client of the service's pipe.
#pragma once

#include <windows.h>

#include <string>

#include "support/ServicePipeClient.h"

namespace quenvar::e2e {

using standin::ServiceClient;

// The build's output folder, as a Windows path, and a file in it.
std::wstring BinFolder();
std::wstring BuiltFile(const wchar_t* name);

// Installs and starts the stand-in driver, then installs and starts the service
// and waits for its pipe. False (with the reason on stderr) when any step fails.
bool InstallDriverAndService();

// Waits until the condition holds or the time is up.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

}  // namespace quenvar::e2e
