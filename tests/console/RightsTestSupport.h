// What the access list and main window tests share: stored rights values in
// the test prefix's registry, and program files in a private temp folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quenvar::testing {

// Deletes every value of HKEY_CURRENT_USER "Software\Quenvar\Lockmere\Rights\".
void ClearStoredRights();
// Stores `bytes` as the REG_BINARY rights value of `path`.
void StoreRights(const std::wstring& path, const std::vector<uint8_t>& bytes);
bool StoredRightsExist(const std::wstring& path);

// A fresh folder under the temp folder; its files and the folder are removed
// by the destructor (as far as nothing holds them).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Creates (or overwrites) a small file in the folder; returns its full path.
    std::wstring MakeFile(const std::wstring& name);
    std::wstring PathOf(const std::wstring& name) const { return path + L"\\" + name; }

    std::wstring path;
};

// What a message box showed: enough to tell its flags apart. Wine does not
// honour MB_TOPMOST, so topmost is not among them.
struct BoxSeen {
    bool found = false;
    std::wstring text;
    HWND owner = nullptr;
    bool hasOk = false;
    bool hasYes = false;
    bool hasNo = false;
    // The icon shown, null for none.
    HICON icon = nullptr;
};

// Waits on its own thread for a visible dialog box with this caption, records
// it and answers it with `answer` (IDYES, IDNO, IDOK).
class BoxAnswerer {
public:
    BoxAnswerer(const wchar_t* caption, int answer, DWORD limitMs = 10000);
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;
    // Joins the helper thread.
    BoxSeen Result();

private:
    std::wstring caption_;
    int answer_;
    DWORD limitMs_;
    BoxSeen seen_;
    std::thread thread_;
};

}  // namespace quenvar::testing
