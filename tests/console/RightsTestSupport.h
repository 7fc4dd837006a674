// What the access list and main window tests share: stored rights values in
// the test prefix's registry, and program files in a private temp folder.
#pragma once

#include "KeyReadOnly.h"
#include "ui/UiTestSupport.h"
#include "common/UniqueResource.h"

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

// The Session Manager's key and its list of renames run at the next restart.
constexpr const wchar_t* kSessionManagerKey = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingRenames = L"PendingFileRenameOperations";
// The raw list; empty when there is none.
std::wstring PendingRenames();
void ForgetPendingDeletions();
// Whether `path` is listed for deletion (an empty target) at the next restart.
bool ListsPending(const std::wstring& path);

// Holds a file open the way a running program's file is in use: without
// FILE_SHARE_DELETE, so that it cannot be deleted.
class FileInUse {
public:
    explicit FileInUse(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr)) {}
    bool held() const { return static_cast<bool>(file_); }

private:
    UniqueHandle file_;
};

}  // namespace quenvar::testing
