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

namespace {

bool ButtonShown(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    return button != nullptr && IsWindowVisible(button);
}

BOOL CALLBACK FindShownIcon(HWND child, LPARAM found) {
    wchar_t className[32] = {};
    GetClassNameW(child, className, 32);
    if (lstrcmpiW(className, L"Static") == 0 && IsWindowVisible(child) &&
        (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HICON*>(found) = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BoxAnswerer::BoxAnswerer(const wchar_t* caption, int answer, DWORD limitMs)
    : caption_(caption), answer_(answer), limitMs_(limitMs) {
    thread_ = std::thread([this] {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < limitMs_) {
            HWND box = FindWindowW(L"#32770", caption_.c_str());
            if (box != nullptr && IsWindowVisible(box)) {
                seen_.found = true;
                wchar_t text[2048] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 2048);
                seen_.text = text;
                seen_.owner = GetWindow(box, GW_OWNER);
                seen_.hasOk = ButtonShown(box, IDOK);
                seen_.hasYes = ButtonShown(box, IDYES);
                seen_.hasNo = ButtonShown(box, IDNO);
                EnumChildWindows(box, FindShownIcon, reinterpret_cast<LPARAM>(&seen_.icon));
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer_, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box, answer_)));
                return;
            }
            Sleep(20);
        }
    });
}

BoxAnswerer::~BoxAnswerer() {
    if (thread_.joinable()) thread_.join();
}

BoxSeen BoxAnswerer::Result() {
    if (thread_.joinable()) thread_.join();
    return seen_;
}

}  // namespace quenvar::testing
