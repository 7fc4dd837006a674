// What the access list and main window tests share: stored rights values in
// the test prefix's registry, and program files in a private temp folder.
#pragma once

#include "ui/UiTestSupport.h"

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
// The console tests' message box helpers, under the names these tests use.
using BoxSeen = MessageBoxSeen;
using BoxAnswerer = MessageBoxAnswerer;

}  // namespace quenvar::testing
