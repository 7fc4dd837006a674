// Shared pieces of the whole-system tests: where the built files are, and a
// client of the service's pipe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/ServicePipeClient.h"

namespace quenvar::e2e {

using standin::ServiceClient;

// The build's output folder, as a Windows path, and a file in it.
std::wstring BinFolder();
std::wstring BuiltFile(const wchar_t* name);

// Installs and starts the stand-in driver, then installs and starts the service
// and waits for its pipe. False (with the reason on stderr) when any step fails.
bool InstallDriverAndService();

// A registry value as stored; REG_EXPAND_SZ text stays unexpanded.
struct RegistryValue {
    bool exists = false;
    DWORD type = 0;
    std::vector<uint8_t> data;
};
RegistryValue ReadValue(HKEY root, const std::wstring& key, const wchar_t* name);
bool KeyExists(const std::wstring& key);  // under HKEY_LOCAL_MACHINE
// The file operations pending until the restart, as (source, target) pairs in
// their order; an empty target is a deletion.
std::vector<std::pair<std::wstring, std::wstring>> PendingRenames();

// A service that was deleted while running stays until it stops, marked for
// deletion; that counts as deleted.
bool ServiceEntryExists(const wchar_t* name);

// The installation's registry values under HKEY_LOCAL_MACHINE, written out here
// as the setup program and the registry guard must leave them.
struct InstalledValue {
    const wchar_t* key;
    const wchar_t* name;
    DWORD type;
    std::vector<uint8_t> data;
};
inline constexpr const wchar_t* kDriverKey = L"System\\CurrentControlSet\\Services\\Quenvar";
inline constexpr const wchar_t* kServiceKey = L"System\\CurrentControlSet\\Services\\QuenvarSvc";
inline constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const wchar_t* kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuenvarLockmere";
std::vector<InstalledValue> InstalledValues();

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
