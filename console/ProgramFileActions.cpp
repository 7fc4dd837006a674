#include "console/ProgramFileActions.h"

#include <winternl.h>

#include <initializer_list>

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
constexpr const wchar_t* kRedirectedSecond =
    L"\" lies in a folder that leads to another place (a junction or a mount point).  Quenvar Lockmere will not "
    L"destroy it.";
constexpr const wchar_t* kUncheckedSecond =
    L"\" cannot be checked to be the file you chose: it may have been moved or replaced.  Quenvar Lockmere will not "
    L"destroy it.";

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

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
    const UniqueHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), info);
}

// The file the path names itself, even where that is a reparse point, opened
// with the first of `accesses` that is granted (in `granted`); other programs
// keep every use of it.
UniqueHandle OpenNamedFile(const std::wstring& path, std::initializer_list<DWORD> accesses, DWORD* granted) {
    for (const DWORD access : accesses) {
        UniqueHandle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        *granted = access;
        if (file) return file;
    }
    return UniqueHandle();
}

// SetFileInformationByHandle is newer than Windows XP; this call is in every
// version's ntdll.
using SetInformationFileFunction = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

bool SetFileInformation(HANDLE file, void* information, ULONG size, FILE_INFORMATION_CLASS kind) {
    static const auto set = reinterpret_cast<SetInformationFileFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile")));
    IO_STATUS_BLOCK status = {};
    return set != nullptr && NT_SUCCESS(set(file, &status, information, size, kind));
}

bool SetAttributesOf(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFORMATION basic = {};  // times of 0 stay as they are
    basic.FileAttributes = attributes;
    return SetFileInformation(file, &basic, sizeof(basic), FileBasicInformation);
}

// The file goes when its last handle is closed.
bool MarkForDeletion(HANDLE file) {
    FILE_DISPOSITION_INFORMATION disposition = {};
    disposition.DoDeleteFile = TRUE;
    return SetFileInformation(file, &disposition, sizeof(disposition), FileDispositionInformation);
}

// Why the folders on the path make it unsafe to act on the file by its name;
// null when none does. A folder that leads elsewhere can be turned by its
// owner to another file between any check and the act, even a boot later.
const wchar_t* FolderRefusalOf(const std::wstring& path) {
    const std::vector<std::wstring> folders = FoldersOnPath(path);
    if (folders.empty()) return kUncheckedSecond;
    for (const std::wstring& folder : folders) {
        const DWORD attributes = folderAttributes(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return kUncheckedSecond;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return kRedirectedSecond;
    }
    return nullptr;
}

// Why the file may not be destroyed; null when it may.
const wchar_t* RefusalOf(const std::wstring& path) {
    for (const std::wstring& own : OwnInstalledFiles())
        if (IsSameFile(path, own)) return kOwnSecond;
    // Anybody running as the user can add a rights value naming a system file.
    if (fileProtectionCheck(path.c_str())) return kProtectedSecond;
    return FolderRefusalOf(path);
}

void Refuse(HWND owner, const std::wstring& path, const wchar_t* refusal) {
    showMessageBox(owner, JoinedText(kRefusedFirst, path, refusal).c_str(), kRefusedTitle, kRefusedFlags);
}

// The file at `path` opened as OpenNamedFile does, with its information, when
// no folder on the path leads elsewhere and it is the file `confirmed`
// describes; otherwise the user is told why not, and nothing is returned.
UniqueHandle OpenConfirmedFile(HWND owner, const std::wstring& path, const BY_HANDLE_FILE_INFORMATION& confirmed,
                               std::initializer_list<DWORD> accesses, DWORD* granted,
                               BY_HANDLE_FILE_INFORMATION* info) {
    // Checked once the file is open: Windows renames no folder that holds an open file.
    UniqueHandle file = OpenNamedFile(path, accesses, granted);
    const wchar_t* refusal = FolderRefusalOf(path);
    const bool same = file && GetFileInformationByHandle(file.get(), info) && SameIdentity(*info, confirmed);
    if (refusal == nullptr && !same) refusal = kUncheckedSecond;
    if (refusal == nullptr) return file;
    Refuse(owner, path, refusal);
    return UniqueHandle();
}

}  // namespace

FolderAttributesReader folderAttributes = GetFileAttributesW;

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

std::vector<std::wstring> FoldersOnPath(const std::wstring& path) {
    constexpr size_t npos = std::wstring::npos;
    size_t rootEnd = 0;  // past the root, "X:\" or "\\server\share\"
    if (path.size() > 3 && path[1] == L':' && path[2] == L'\\') {
        rootEnd = 3;
    } else if (path.compare(0, 2, L"\\\\") == 0 && path.find_first_of(L"?.\\", 2) != 2) {
        const size_t share = path.find(L'\\', 3);
        const size_t end = share == npos ? npos : path.find(L'\\', share + 2);
        if (end != npos) rootEnd = end + 1;
    }
    std::vector<std::wstring> folders;
    if (rootEnd == 0) return folders;
    // The root ends in a backslash, which ends the walk.
    for (size_t slash = path.rfind(L'\\'); slash >= rootEnd; slash = path.rfind(L'\\', slash - 1))
        folders.push_back(path.substr(0, slash));
    folders.push_back(path.substr(0, rootEnd));
    return folders;
}

bool IsSameFile(const std::wstring& first, const std::wstring& second) {
    if (lstrcmpiW(Canonical(first).c_str(), Canonical(second).c_str()) == 0) return true;
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    return FileIdentity(first, &a) && FileIdentity(second, &b) && SameIdentity(a, b);
}

std::wstring JoinedText(const wchar_t* first, const std::wstring& path, const wchar_t* second) {
    return first + path + second;
}

bool ConfirmForget(HWND owner, const std::wstring& path) {
    return showMessageBox(owner, JoinedText(kForgetFirst, path, kForgetSecond).c_str(), kAreYouSure,
                          kQuestionFlags) == IDYES;
}

void ConfirmAndDestroyFile(HWND owner, const std::wstring& path) {
    // What the user is asked about is this very file, not whatever its name
    // leads to after the answer.
    const wchar_t* refusal = RefusalOf(path);
    BY_HANDLE_FILE_INFORMATION confirmed = {}, info = {};
    DWORD granted = 0;
    if (refusal == nullptr) {
        const UniqueHandle file = OpenNamedFile(path, {FILE_READ_ATTRIBUTES}, &granted);
        if (!file || !GetFileInformationByHandle(file.get(), &confirmed)) refusal = kUncheckedSecond;
    }
    if (refusal != nullptr) {
        Refuse(owner, path, refusal);
        return;
    }
    if (showMessageBox(owner, JoinedText(kEraseFirst, path, kEraseSecond).c_str(), kAreYouSure, kQuestionFlags) !=
        IDYES)
        return;
    constexpr DWORD kAttributeAccess = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    {
        // A file in use cannot be opened for deletion; it may still be scheduled.
        UniqueHandle file = OpenConfirmedFile(
            owner, path, confirmed, {DELETE | kAttributeAccess, DELETE | FILE_READ_ATTRIBUTES, FILE_READ_ATTRIBUTES},
            &granted, &info);
        if (!file) return;
        // Read-only files cannot be deleted as they are; what a failed delete
        // leaves must look as it did.
        if ((granted & DELETE) != 0) {
            SetAttributesOf(file.get(), FILE_ATTRIBUTE_NORMAL);
            if (MarkForDeletion(file.get())) {
                file.reset();
                showMessageBox(owner, JoinedText(kDeletedFirst, path, kDeletedSecond).c_str(), kDeletedTitle,
                               MB_TOPMOST);
                return;
            }
            SetAttributesOf(file.get(), info.dwFileAttributes);
        }
    }
    if (showMessageBox(owner, JoinedText(kScheduleFirst, path, kScheduleSecond).c_str(), kScheduleTitle,
                       kQuestionFlags) != IDYES)
        return;
    {
        // Held open meanwhile, so that its folders stay as they were checked.
        const UniqueHandle file =
            OpenConfirmedFile(owner, path, confirmed, {kAttributeAccess, FILE_READ_ATTRIBUTES}, &granted, &info);
        if (!file) return;
        SetAttributesOf(file.get(), FILE_ATTRIBUTE_NORMAL);
        if (!MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            SetAttributesOf(file.get(), info.dwFileAttributes);
            showMessageBox(owner, kDeniedText, kDeniedTitle, MB_ICONERROR);
            return;
        }
    }
    if (showMessageBox(owner, JoinedText(kRebootFirst, path, kRebootSecond).c_str(), kRebootTitle,
                       kQuestionFlags) == IDYES)
        restartRoutine();
}

}  // namespace quenvar
