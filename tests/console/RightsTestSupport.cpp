#include "RightsTestSupport.h"

#include "client/ProcessRightsCache.h"

namespace quenvar::testing {

namespace {

HKEY OpenRights() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kRightsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

}  // namespace

void ClearStoredRights() {
    HKEY key = OpenRights();
    for (;;) {
        wchar_t name[2048];
        DWORD length = 2048;
        if (RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (RegDeleteValueW(key, name) != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
}

void StoreRights(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    HKEY key = OpenRights();
    RegSetValueExW(key, path.c_str(), 0, REG_BINARY, bytes.empty() ? nullptr : bytes.data(),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

bool StoredRightsExist(const std::wstring& path) {
    HKEY key = OpenRights();
    const bool exists = RegQueryValueExW(key, path.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

TempFolder::TempFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    wchar_t unique[MAX_PATH] = {};
    GetTempFileNameW(temp, L"qac", 0, unique);  // reserves the name as a file
    DeleteFileW(unique);
    CreateDirectoryW(unique, nullptr);
    wchar_t longPath[MAX_PATH] = {};
    GetLongPathNameW(unique, longPath, MAX_PATH);
    path = longPath;
}

TempFolder::~TempFolder() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            SetFileAttributesW(PathOf(name).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(PathOf(name).c_str());
            else
                DeleteFileW(PathOf(name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring TempFolder::MakeFile(const std::wstring& name) {
    const std::wstring file = PathOf(name);
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(handle, "program", 7, &written, nullptr);
        CloseHandle(handle);
    }
    return file;
}

std::wstring PendingRenames() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
    std::vector<wchar_t> data(32768, L'\0');
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LONG result =
        RegQueryValueExW(key, kPendingRenames, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return L"";
    return std::wstring(data.data(), size / sizeof(wchar_t));
}

void ForgetPendingDeletions() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, kPendingRenames);
    RegCloseKey(key);
}

bool ListsPending(const std::wstring& path) {
    std::wstring entry = L"\\??\\" + path;
    entry.push_back(L'\0');
    entry.push_back(L'\0');
    return PendingRenames().find(entry) != std::wstring::npos;
}

}  // namespace quenvar::testing
