#include "console/ProgramFileActions.h"

#include "client/ProcessRightsCache.h"
#include "common/RestartRoutine.h"
#include "common/UniqueResource.h"
#include "ui/MessageBoxCall.h"

namespace quenvar {

namespace {

constexpr const wchar_t* kAreYouSure = L"Are you sure?";
constexpr UINT kQuestionFlags = MB_TOPMOST | MB_ICONQUESTION | MB_YESNO;

constexpr const wchar_t* kForgetFirst =
    L"You are about to have Quenvar Lockmere forget everything it knows about the file \"";
constexpr const wchar_t* kForgetSecond = L"\".\n\nAre you sure that you want to do this?";

constexpr const wchar_t* kEraseFirst = L"You are about to permanently erase the file \"";
constexpr const wchar_t* kEraseSecond =
    L"\".  You should only do this if you are sure that you do not want this file on your drive any "
    L"longer.\n\nAre you sure that you want to do this?";

constexpr const wchar_t* kDeletedTitle = L"Operation Complete";
constexpr const wchar_t* kDeletedFirst = L"The file \"";
constexpr const wchar_t* kDeletedSecond = L"\" has been deleted.";

constexpr const wchar_t* kScheduleTitle = L"Schedule Delete on Reboot?";
constexpr const wchar_t* kScheduleFirst = L"The file \"";
constexpr const wchar_t* kScheduleSecond =
    L"\" is currently in use and cannot be deleted right now.  We can schedule the file to be deleted when "
    L"you reboot your computer.\n\n Do you want to schedule this file for deletion when you reboot?";

constexpr const wchar_t* kRebootTitle = L"Reboot Now?";
constexpr const wchar_t* kRebootFirst = L"The file \"";
constexpr const wchar_t* kRebootSecond =
    L"\" has been scheduled for deletion when you reboot the computer.\n\nDo you want to reboot the computer "
    L"now?";

constexpr const wchar_t* kDeniedTitle = L"Access Denied";
constexpr const wchar_t* kDeniedText =
    L"The file cannot be scheduled for deletion when the computer reboots.  You do not have permission to do "
    L"this.  Only unrestricted users may schedule file deletion on reboot.\n\nContact your system "
    L"administrator to take care of this problem.";

constexpr const wchar_t* kRefusedTitle = L"File Protected";
constexpr UINT kRefusedFlags = MB_TOPMOST | MB_ICONWARNING;
constexpr const wchar_t* kRefusedFirst = L"The file \"";
constexpr const wchar_t* kProtectedSecond =
    L"\" is protected by Windows File Protection.  Quenvar Lockmere will not destroy it.";
constexpr const wchar_t* kOwnSecond = L"\" belongs to Quenvar Lockmere itself.  Quenvar Lockmere will not destroy it.";

constexpr DWORD kPathCapacity = 1024;

// The full long form of a path; the path itself where that cannot be had.
std::wstring Canonical(const std::wstring& path) {
    wchar_t full[kPathCapacity];
    const DWORD length = GetFullPathNameW(path.c_str(), kPathCapacity, full, nullptr);
    if (length == 0 || length >= kPathCapacity) return path;
    wchar_t longForm[kPathCapacity];
    const DWORD longLength = GetLongPathNameW(full, longForm, kPathCapacity);
    if (longLength == 0 || longLength >= kPathCapacity) return full;
    return longForm;
}

bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
    const UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), info);
}

// Why the file may not be destroyed; null when it may.
const wchar_t* RefusalOf(const std::wstring& path) {
    for (const std::wstring& own : OwnInstalledFiles())
        if (IsSameFile(path, own)) return kOwnSecond;
    // Anybody running as the user can add a rights value naming a system file.
    if (fileProtectionCheck(path.c_str())) return kProtectedSecond;
    return nullptr;
}

}  // namespace

std::vector<std::wstring> OwnInstalledFiles() {
    std::vector<std::wstring> files;
    wchar_t folder[kPathCapacity];
    UINT length = GetWindowsDirectoryW(folder, kPathCapacity);
    if (length > 0 && length < kPathCapacity) {
        files.push_back(std::wstring(folder) + L"\\QuenvarUI.exe");
        files.push_back(std::wstring(folder) + L"\\QuenvarDll.dll");
    }
    length = GetSystemDirectoryW(folder, kPathCapacity);
    if (length > 0 && length < kPathCapacity) {
        files.push_back(std::wstring(folder) + L"\\QuenvarSvc.exe");
        files.push_back(std::wstring(folder) + L"\\Drivers\\Quenvr.sys");
    }
    length = GetModuleFileNameW(nullptr, folder, kPathCapacity);
    if (length > 0 && length < kPathCapacity) files.push_back(folder);
    return files;
}

bool IsSameFile(const std::wstring& first, const std::wstring& second) {
    if (lstrcmpiW(Canonical(first).c_str(), Canonical(second).c_str()) == 0) return true;
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    if (!FileIdentity(first, &a) || !FileIdentity(second, &b)) return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

std::wstring JoinedText(const wchar_t* first, const std::wstring& path, const wchar_t* second) {
    return first + path + second;
}

bool ConfirmForget(HWND owner, const std::wstring& path) {
    return showMessageBox(owner, JoinedText(kForgetFirst, path, kForgetSecond).c_str(), kAreYouSure,
                          kQuestionFlags) == IDYES;
}

void ConfirmAndDestroyFile(HWND owner, const std::wstring& path) {
    if (const wchar_t* refusal = RefusalOf(path)) {
        showMessageBox(owner, JoinedText(kRefusedFirst, path, refusal).c_str(), kRefusedTitle, kRefusedFlags);
        return;
    }
    if (showMessageBox(owner, JoinedText(kEraseFirst, path, kEraseSecond).c_str(), kAreYouSure, kQuestionFlags) !=
        IDYES)
        return;
    // Read-only, hidden and system files cannot be deleted as they are; what a
    // failed delete leaves must look as it did.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path.c_str())) {
        showMessageBox(owner, JoinedText(kDeletedFirst, path, kDeletedSecond).c_str(), kDeletedTitle, MB_TOPMOST);
        return;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path.c_str(), attributes);
    if (showMessageBox(owner, JoinedText(kScheduleFirst, path, kScheduleSecond).c_str(), kScheduleTitle,
                    kQuestionFlags) != IDYES)
        return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path.c_str(), attributes);
        showMessageBox(owner, kDeniedText, kDeniedTitle, MB_ICONERROR);
        return;
    }
    if (showMessageBox(owner, JoinedText(kRebootFirst, path, kRebootSecond).c_str(), kRebootTitle,
                       kQuestionFlags) == IDYES)
        restartRoutine();
}

}  // namespace quenvar
