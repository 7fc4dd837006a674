#include "E2eSupport.h"

#include <cstdio>
#include <cstdlib>

#include "common/PipeProtocol.h"
#include "support/WineSystem.h"

namespace quenvar::e2e {

std::wstring BinFolder() {
    const char* bin = std::getenv("QUENVAR_BIN");
    return standin::WinePath(bin ? bin : ".");
}

std::wstring BuiltFile(const wchar_t* name) { return BinFolder() + L"\\" + name; }

RegistryValue ReadValue(HKEY root, const std::wstring& key, const wchar_t* name) {
    RegistryValue value;
    value.data.resize(65536);
    DWORD size = static_cast<DWORD>(value.data.size());
    value.exists = RegGetValueW(root, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, value.data.data(),
                                &size) == ERROR_SUCCESS;
    value.data.resize(value.exists ? size : 0);
    return value;
}

bool KeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

std::vector<std::pair<std::wstring, std::wstring>> PendingRenames() {
    const RegistryValue value = ReadValue(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                                          L"PendingFileRenameOperations");
    const auto* text = reinterpret_cast<const wchar_t*>(value.data.data());
    std::vector<std::wstring> strings;
    for (size_t start = 0, i = 0; i < value.data.size() / sizeof(wchar_t); ++i) {
        if (text[i] != L'\0') continue;
        strings.emplace_back(text + start, text + i);
        start = i + 1;
    }
    // The list ends with an empty string.
    if (strings.size() % 2 == 1 && strings.back().empty()) strings.pop_back();
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) pairs.emplace_back(strings[i], strings[i + 1]);
    return pairs;
}

bool ServiceEntryExists(const wchar_t* name) {
    SC_HANDLE manager = standin::OpenServiceManager(SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    bool exists = service != nullptr;
    if (exists && !ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        exists = GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE;
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return exists;
}

std::vector<InstalledValue> InstalledValues() {
    const auto number = [](uint8_t n) { return std::vector<uint8_t>{n, 0, 0, 0}; };
    const auto text = [](const std::wstring& t) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(t.c_str());
        return std::vector<uint8_t>(bytes, bytes + (t.size() + 1) * sizeof(wchar_t));
    };
    return {
        {kDriverKey, L"ErrorControl", REG_DWORD, number(1)},
        {kDriverKey, L"Start", REG_DWORD, number(0)},
        {kDriverKey, L"Type", REG_DWORD, number(1)},
        {kDriverKey, L"Group", REG_SZ, text(L"System Reserved")},
        {kDriverKey, L"ImagePath", REG_EXPAND_SZ, text(L"System32\\Drivers\\Quenvr.sys")},
        {kServiceKey, L"ErrorControl", REG_DWORD, number(1)},
        {kServiceKey, L"Start", REG_DWORD, number(2)},
        {kServiceKey, L"Type", REG_DWORD, number(0x10)},
        {kServiceKey, L"Group", REG_SZ, text(L"Quenvar")},
        {kServiceKey, L"ObjectName", REG_SZ, text(L"LocalSystem")},
        {kServiceKey, L"ImagePath", REG_EXPAND_SZ, text(L"System32\\QuenvarSvc.exe")},
        {kServiceKey, L"DisplayName", REG_SZ, text(L"Quenvar Service")},
        {kRunKey, L"QuenvarUI", REG_SZ, text(L"QuenvarUI.exe")},
        {kUninstallKey, L"DisplayName", REG_SZ, text(L"Quenvar Lockmere")},
        {kUninstallKey, L"UninstallString", REG_SZ, text(L"QuenvarUI.exe /U")},
    };
}

bool InstallDriverAndService() {
    if (!standin::InstallStandInDriver(BuiltFile(L"QuenvarStandInDriver.sys"))) {
        std::fprintf(stderr, "stand-in driver not installed, error %lu\n", GetLastError());
        return false;
    }
    if (!standin::InstallProtectionService(BuiltFile(L"QuenvarSvc.exe")) ||
        !standin::StartNamedService(L"QuenvarSvc")) {
        std::fprintf(stderr, "service not started, error %lu\n", GetLastError());
        return false;
    }
    if (!standin::WaitForPipe(kPipeName, 20000)) {
        std::fprintf(stderr, "the service's pipe did not appear\n");
        return false;
    }
    return true;
}

}  // namespace quenvar::e2e
