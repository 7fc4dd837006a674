#include "service/InstallationFootprint.h"

#include <cstring>
#include <cwchar>

namespace quenvar {

const wchar_t* const kGuardedKeys[kGuardedKeyCount] = {
    L"System\\CurrentControlSet\\Services\\Quenvar",
    L"System\\CurrentControlSet\\Services\\QuenvarSvc",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuenvarLockmere",
};

const FootprintValue InstallationFootprint[kFootprintValueCount] = {
    {0, L"ErrorControl", REG_DWORD, 1, nullptr},
    {0, L"Start", REG_DWORD, 0, nullptr},
    {0, L"Type", REG_DWORD, 1, nullptr},
    {0, L"Group", REG_SZ, 0, L"System Reserved"},
    {0, L"ImagePath", REG_EXPAND_SZ, 0, L"System32\\Drivers\\Quenvr.sys"},
    {1, L"ErrorControl", REG_DWORD, 1, nullptr},
    {1, L"Start", REG_DWORD, 2, nullptr},
    {1, L"Type", REG_DWORD, 0x10, nullptr},
    {1, L"Group", REG_SZ, 0, L"Quenvar"},
    {1, L"ObjectName", REG_SZ, 0, L"LocalSystem"},
    {1, L"ImagePath", REG_EXPAND_SZ, 0, L"System32\\QuenvarSvc.exe"},
    {1, L"DisplayName", REG_SZ, 0, L"Quenvar Service"},
    {2, L"QuenvarUI", REG_SZ, 0, L"QuenvarUI.exe"},
    {3, L"DisplayName", REG_SZ, 0, L"Quenvar Lockmere"},
    {3, L"UninstallString", REG_SZ, 0, L"QuenvarUI.exe /U"},
};

std::vector<uint8_t> FootprintData(const FootprintValue& value) {
    if (value.type == REG_DWORD) {
        std::vector<uint8_t> data(sizeof(DWORD));
        std::memcpy(data.data(), &value.number, sizeof(DWORD));
        return data;
    }
    const size_t bytes = (std::wcslen(value.text) + 1) * sizeof(wchar_t);
    const auto* first = reinterpret_cast<const uint8_t*>(value.text);
    return std::vector<uint8_t>(first, first + bytes);
}

void WriteFootprintValues(HKEY key, size_t keyIndex) {
    for (const FootprintValue& value : InstallationFootprint) {
        if (value.key != keyIndex) continue;
        const std::vector<uint8_t> data = FootprintData(value);
        RegSetValueExW(key, value.name, 0, value.type, data.data(), static_cast<DWORD>(data.size()));
    }
}

bool FootprintValuesInPlace(HKEY key, size_t keyIndex) {
    for (const FootprintValue& value : InstallationFootprint) {
        if (value.key != keyIndex) continue;
        const std::vector<uint8_t> expected = FootprintData(value);
        // One byte more than expected, so that longer data reads back as different.
        std::vector<uint8_t> found(expected.size() + 1);
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(found.size());
        if (RegQueryValueExW(key, value.name, nullptr, &type, found.data(), &size) != ERROR_SUCCESS ||
            type != value.type || size != expected.size() ||
            std::memcmp(found.data(), expected.data(), expected.size()) != 0)
            return false;
    }
    return true;
}

}  // namespace quenvar
