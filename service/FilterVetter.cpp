#include "service/FilterVetter.h"

#include <memory>
#include <new>

#include "common/ListDigest.h"
#include "common/RestartRoutine.h"
#include "service/FilterList.h"

namespace quenvar {

const wchar_t* const kKeyboardClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
const wchar_t* const kProductKey = L"Software\\Quenvar\\Lockmere";

namespace {

const wchar_t* const kClassParentKey = L"SYSTEM\\CurrentControlSet\\Control\\Class";
const wchar_t* const kIdentityKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\";
constexpr DWORD kNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;  // 0x0F
// Without a keyboard class key there is nothing to wait on for sure; look again
// now and then even if no change was reported.
constexpr DWORD kRetryMs = 60000;

constexpr const wchar_t* kPromptCaption = L"Quenvar Lockmere: Filter Driver Detected";
constexpr UINT kPromptStyle = MB_SERVICE_NOTIFICATION | MB_ICONINFORMATION | MB_YESNO;  // 0x200044
constexpr const wchar_t* kRestartText =
    L"Quenvar Lockmere has unloaded the denied keyboard filter drivers. You must reboot your computer for the "
    L"changes to take effect.\n\nWould you like to reboot now?";
constexpr UINT kRestartStyle = MB_SERVICE_NOTIFICATION | MB_ICONQUESTION | MB_YESNO;  // 0x200024

// Reads a value by asking its size first; missing, empty or unreadable is absent.
bool ReadValue(HKEY key, const wchar_t* name, std::vector<uint8_t>* data) {
    data->clear();
    DWORD size = 0;
    if (key == nullptr || RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size == 0)
        return false;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer) return false;
    DWORD read = size;
    if (RegQueryValueExW(key, name, nullptr, nullptr, buffer.get(), &read) != ERROR_SUCCESS || read == 0)
        return false;
    data->assign(buffer.get(), buffer.get() + read);
    return true;
}

void WaitForKeyChange(HKEY key) {
    UniqueHandle changed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!changed || RegNotifyChangeKeyValue(key, FALSE, kNotifyFilter, changed.get(), TRUE) != ERROR_SUCCESS) {
        Sleep(kRetryMs);
        return;
    }
    WaitForSingleObject(changed.get(), kRetryMs);
}

}  // namespace

int AskOnInteractiveDesktop(const wchar_t* text, const wchar_t* caption, UINT style) {
    return MessageBoxW(nullptr, text, caption, style);
}

FilterVetter::FilterVetter(AskUser ask) : ask(ask) {}

bool FilterVetter::ReadMachineIdentity() {
    machineIdBytes.clear();
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIdentityKey, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS)
        return true;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), L"DigitalProductId", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size == 0)
        return true;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer) return false;
    DWORD read = size;
    if (RegQueryValueExW(key.get(), L"DigitalProductId", nullptr, nullptr, buffer.get(), &read) == ERROR_SUCCESS)
        machineIdBytes.assign(buffer.get(), buffer.get() + read);
    return true;
}

FilterVetter::PassOutcome FilterVetter::RunPass() {
    // Only the pass at service start may offer the restart, however it ends.
    const bool startPass = firstPass;
    firstPass = false;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyboardClassKey, 0, KEY_ALL_ACCESS, classKey.receive()) !=
        ERROR_SUCCESS) {
        classKey.release();
        return PassOutcome::kNoClassKey;
    }
    std::vector<uint8_t> upperFilters;
    if (!ReadValue(classKey.get(), L"UpperFilters", &upperFilters)) return PassOutcome::kNoFilters;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                    productKey.receive(), nullptr);

    std::vector<uint8_t> knownList, knownDigest;
    const bool knownPresent = ReadValue(productKey.get(), L"KnownFilterDrivers", &knownList);
    ReadValue(productKey.get(), L"KnownFilterDriversBin", &knownDigest);
    // A list changed, truncated or copied from another machine counts as absent.
    const bool knownValid =
        knownPresent &&
        ListDigestMatches(knownDigest.data(), knownDigest.size(),
                          ListDigest(machineIdBytes.data(), machineIdBytes.size(), knownList.data(), knownList.size()));

    FilterList currentFilters = ParseFilterList(upperFilters.data(), upperFilters.size());
    FilterList knownFilters;
    if (knownValid) knownFilters = ParseFilterList(knownList.data(), knownList.size());
    knownFilters.push_back(L"kbdclass");
    const FilterList unvettedFilters = UnvettedFilters(currentFilters, knownFilters);

    bool anyDenied = false;
    for (const std::wstring& name : unvettedFilters) {
        if (ask(FilterPromptText(name).c_str(), kPromptCaption, kPromptStyle) == IDNO) {
            anyDenied = true;
            RemoveFirst(&currentFilters, name);
        }
    }

    const std::vector<uint8_t> written = BuildFilterList(currentFilters);
    const DWORD size = static_cast<DWORD>(written.size());
    RegSetValueExW(classKey.get(), L"UpperFilters", 0, REG_MULTI_SZ, written.data(), size);
    RegSetValueExW(productKey.get(), L"KnownFilterDrivers", 0, REG_MULTI_SZ, written.data(), size);
    const Sha1Digest digest = ListDigest(machineIdBytes.data(), machineIdBytes.size(), written.data(), written.size());
    RegSetValueExW(productKey.get(), L"KnownFilterDriversBin", 0, REG_BINARY, digest.data(),
                   static_cast<DWORD>(digest.size()));

    if (startPass && anyDenied && ask(kRestartText, L"Reboot?", kRestartStyle) == IDYES) restartRoutine();
    return PassOutcome::kVetted;
}

void FilterVetter::WaitForNextChange(PassOutcome outcome) {
    switch (outcome) {
    case PassOutcome::kVetted:
        // The pass's own writes came before this and do not wake it.
        if (RegNotifyChangeKeyValue(classKey.get(), FALSE, kNotifyFilter, nullptr, FALSE) != ERROR_SUCCESS)
            Sleep(kRetryMs);
        break;
    case PassOutcome::kNoFilters:
        WaitForKeyChange(classKey.get());
        break;
    case PassOutcome::kNoClassKey: {
        UniqueRegKey parent;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassParentKey, 0, KEY_NOTIFY, parent.receive()) == ERROR_SUCCESS)
            WaitForKeyChange(parent.get());
        else
            Sleep(kRetryMs);
        break;
    }
    }
    EndPass();
}

void FilterVetter::EndPass() {
    classKey.reset();
    productKey.reset();
}

void FilterVetter::Run() {
    for (;;) {
        try {
            WaitForNextChange(RunPass());
        } catch (const std::bad_alloc&) {
            // The lists of a pass could not be built: wait for the next change.
            WaitForNextChange(PassOutcome::kNoFilters);
        }
    }
}

DWORD WINAPI FilterVetterThread(LPVOID) {
    FilterVetter vetter(AskOnInteractiveDesktop);
    if (!vetter.ReadMachineIdentity()) return 0;
    vetter.Run();
}

}  // namespace quenvar
