#include "service/RegistryGuard.h"

#include "service/InstallationFootprint.h"

namespace quenvar {
namespace {

constexpr DWORD kNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;  // 0x0F

void OpenGuardedKeys(HKEY keys[kGuardedKeyCount]) {
    for (size_t i = 0; i < kGuardedKeyCount; ++i) {
        keys[i] = nullptr;
        // A missing key is created; one that cannot be opened stays null.
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGuardedKeys[i], 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &keys[i], nullptr);
    }
}

void CloseGuardedKey(HKEY* key) {
    if (*key != nullptr) RegCloseKey(*key);
    *key = nullptr;
}

}  // namespace

void RunRegistryGuard(ServiceContext& service) {
    HANDLE changed[kGuardedKeyCount];
    for (HANDLE& event : changed) event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HKEY keys[kGuardedKeyCount];
    for (;;) {
        while (!service.guardEnabled) Sleep(1000);

        OpenGuardedKeys(keys);
        for (size_t i = 0; i < kGuardedKeyCount; ++i)
            if (keys[i] != nullptr) RegNotifyChangeKeyValue(keys[i], FALSE, kNotifyFilter, changed[i], TRUE);
        WaitForMultipleObjects(kGuardedKeyCount, changed, FALSE, INFINITE);

        // Changes within this second are covered by one rewrite, and a disable
        // command sent just before an uninstall's deletions prevents it.
        Sleep(1000);
        for (size_t i = 0; i < kGuardedKeyCount; ++i) {
            // Closing a key with an armed notification signals its event, so
            // the reset comes after the close.
            CloseGuardedKey(&keys[i]);
            ResetEvent(changed[i]);
        }
        if (!service.guardEnabled) continue;

        // Written while nothing is armed, so the guard's own writes do not wake it.
        OpenGuardedKeys(keys);
        for (size_t i = 0; i < kGuardedKeyCount; ++i)
            if (keys[i] != nullptr) WriteFootprintValues(keys[i], i);
        for (HKEY& key : keys) CloseGuardedKey(&key);
    }
}

DWORD WINAPI RegistryGuardThread(LPVOID) { RunRegistryGuard(TheService()); }

}  // namespace quenvar
