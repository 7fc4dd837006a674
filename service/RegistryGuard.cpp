#include "service/RegistryGuard.h"

#include <new>

#include "common/UniqueResource.h"
#include "service/InstallationFootprint.h"

namespace quenvar {
namespace {

constexpr DWORD kNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;  // 0x0F

void OpenGuardedKeys(UniqueRegKey (&keys)[kGuardedKeyCount]) {
    for (size_t i = 0; i < kGuardedKeyCount; ++i) {
        // A missing key is created; one that cannot be opened stays null.
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGuardedKeys[i], 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, keys[i].receive(), nullptr);
    }
}

}  // namespace

// Creates the guard's four events, trying again each second until all exist: a
// missing event would make every wait fail at once and the guard rewrite the
// footprint without any change.
void CreateChangeEvents(UniqueHandle (&changed)[kGuardedKeyCount], HANDLE (&waitable)[kGuardedKeyCount]) {
    for (size_t i = 0; i < kGuardedKeyCount; ++i) {
        while (!changed[i]) {
            changed[i].reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!changed[i]) Sleep(1000);
        }
        waitable[i] = changed[i].get();
    }
}

void RunRegistryGuard(ServiceContext& service) {
    UniqueHandle changed[kGuardedKeyCount];
    HANDLE waitable[kGuardedKeyCount];
    CreateChangeEvents(changed, waitable);
    UniqueRegKey keys[kGuardedKeyCount];
    bool justWritten = false;
    for (;;) {
        if (!service.guardEnabled) {
            // Switched on again, the guard writes nothing until the next change.
            justWritten = false;
            while (!service.guardEnabled) Sleep(1000);
        }

        OpenGuardedKeys(keys);
        for (size_t i = 0; i < kGuardedKeyCount; ++i)
            if (keys[i]) RegNotifyChangeKeyValue(keys[i].get(), FALSE, kNotifyFilter, changed[i].get(), TRUE);
        // A change made between the guard's own write and this arming raised
        // no notification: a program that deletes a value the moment it is
        // back would otherwise keep it deleted.
        bool missed = false;
        for (size_t i = 0; justWritten && i < kGuardedKeyCount; ++i)
            if (keys[i] && !FootprintValuesInPlace(keys[i].get(), i)) missed = true;
        justWritten = false;
        const DWORD woken = missed ? WAIT_OBJECT_0 : WaitForMultipleObjects(kGuardedKeyCount, waitable, FALSE, INFINITE);

        // Changes within this second are covered by one rewrite, and a disable
        // command sent just before an uninstall's deletions prevents it.
        Sleep(1000);
        // A wait that failed saw no change: nothing is written after it.
        const bool changeSeen = woken < WAIT_OBJECT_0 + kGuardedKeyCount;
        for (size_t i = 0; i < kGuardedKeyCount; ++i) {
            // Closing a key with an armed notification signals its event, so
            // the reset comes after the close.
            keys[i].reset();
            ResetEvent(changed[i].get());
        }
        if (!service.guardEnabled || !changeSeen) continue;

        // Written while nothing is armed, so the guard's own writes do not wake it.
        OpenGuardedKeys(keys);
        for (size_t i = 0; i < kGuardedKeyCount; ++i)
            if (keys[i]) WriteFootprintValues(keys[i].get(), i);
        for (UniqueRegKey& key : keys) key.reset();
        justWritten = true;
    }
}

DWORD WINAPI RegistryGuardThread(LPVOID) {
    for (;;) {
        try {
            RunRegistryGuard(TheService());
        } catch (const std::bad_alloc&) {
            // Only building a value's data allocates; start over after a pause.
            Sleep(1000);
        }
    }
}

}  // namespace quenvar
