// Stand-in for the hook library: the user-interface program links to
// fnInstallHook at load time and calls it once. This one only counts the calls,
// in the process (StandInHookCalls) and in HKCU\Software\QuenvarStandIn "HookCalls",
// so that tests can see the call from outside the process.
#include <windows.h>

namespace {
LONG hookCalls = 0;
}

extern "C" __declspec(dllexport) void fnInstallHook() {
    const DWORD count = static_cast<DWORD>(InterlockedIncrement(&hookCalls));
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QuenvarStandIn", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
        DWORD stored = 0;
        DWORD size = sizeof(stored);
        DWORD type = 0;
        if (RegQueryValueExW(key, L"HookCalls", nullptr, &type, reinterpret_cast<BYTE*>(&stored), &size) !=
                ERROR_SUCCESS ||
            type != REG_DWORD)
            stored = 0;
        stored += 1;
        RegSetValueExW(key, L"HookCalls", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored), sizeof(stored));
        RegCloseKey(key);
    }
    (void)count;
}

extern "C" __declspec(dllexport) LONG StandInHookCalls() { return hookCalls; }
