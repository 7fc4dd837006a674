#include "console/Uninstall.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "client/ServiceLink.h"
#include "common/PipeProtocol.h"
#include "common/RestartRoutine.h"
#include "common/UniqueResource.h"
#include "common/WideFormat.h"
#include "ui/MessageBoxCall.h"

namespace quenvar {

namespace {

constexpr const wchar_t* kNoRightsTitle = L"Administrative Rights Required";
constexpr const wchar_t* kNoRightsText =
    L"Quenvar Lockmere can only be uninstalled by a user with administrative rights.  Nothing has been changed.";
constexpr const wchar_t* kIncompleteTitle = L"Uninstall Incomplete";
constexpr const wchar_t* kIncompleteText =
    L"Quenvar Lockmere could not be removed completely.  These parts are still installed:\n\n";

constexpr DWORD kFolderCapacity = 1024;

// Marks the service for deletion; it keeps running until the restart. True
// when it is gone or marked (or was never there).
bool DeleteServiceNamed(SC_HANDLE manager, const wchar_t* name) {
    const UniqueServiceHandle service(OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
    if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    return DeleteService(service.get()) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

bool Removed(LONG result) { return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND; }

// The folder, or an empty text when it could not be found.
std::wstring SpecialFolder(int csidl) {
    wchar_t folder[kFolderCapacity] = {};
    if (!SHGetSpecialFolderPathW(nullptr, folder, csidl, TRUE)) return std::wstring();
    return folder;
}

}  // namespace

SC_HANDLE OpenServiceManager(DWORD access) { return OpenSCManagerW(nullptr, nullptr, access); }

ServiceManagerOpener serviceManagerOpener = OpenServiceManager;

std::vector<std::wstring> UninstallDeletions(const wchar_t* windowsFolder, const wchar_t* commonProgramsFolder,
                                             const wchar_t* systemFolder) {
    const struct {
        const wchar_t* folder;
        const wchar_t* pattern;
    } items[] = {
        {windowsFolder, L"%ls\\QuenvarUI.exe"},
        {windowsFolder, L"%ls\\QuenvarDll.dll"},
        {systemFolder, L"%ls\\QuenvarSvc.exe"},
        {systemFolder, L"%ls\\Drivers\\Quenvr.sys"},
        {commonProgramsFolder, L"%ls\\Quenvar Lockmere\\ReadMe.rtf"},
        {commonProgramsFolder, L"%ls\\Quenvar Lockmere\\License.rtf"},
        {commonProgramsFolder, L"%ls\\Quenvar Lockmere\\Lockmere Help.chm"},
        // Last: a folder can only go once the documents in it are gone.
        {commonProgramsFolder, L"%ls\\Quenvar Lockmere"},
    };
    std::vector<std::wstring> paths;
    for (const auto& item : items) {
        // Without its folder the path would start at the root of the current
        // drive, where other files of the same name may be.
        if (item.folder == nullptr || item.folder[0] == L'\0') continue;
        wchar_t path[1024];
        FormatInto(path, 1024, item.pattern, item.folder);
        paths.push_back(path);
    }
    return paths;
}

std::wstring UninstallFailureText(const std::vector<std::wstring>& remaining) {
    std::wstring text = kIncompleteText;
    for (size_t i = 0; i < remaining.size(); ++i) {
        if (i > 0) text += L"\n";
        text += remaining[i];
    }
    return text;
}

int RunUninstall() {
    if (showMessageBox(nullptr, L"You are about to uninstall Quenvar Lockmere.  Are you sure you want to do this?",
                    L"Are You Sure?", MB_ICONQUESTION | MB_YESNO) != IDYES)
        return 0;
    // The rights check comes first, as in setup: without them every step
    // below would fail, and the guard must not be switched off for nothing.
    const UniqueServiceHandle manager(serviceManagerOpener(SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        showMessageBox(nullptr, kNoRightsText, kNoRightsTitle, MB_ICONERROR);
        return 0;
    }
    // So that the service's registry guard leaves the deletions below alone.
    SendGuardCommand(DisableGuardCode);

    const std::wstring windowsFolder = SpecialFolder(CSIDL_WINDOWS);
    const std::wstring programsFolder = SpecialFolder(CSIDL_COMMON_PROGRAMS);
    const std::wstring systemFolder = SpecialFolder(CSIDL_SYSTEM);
    for (const std::wstring& path :
         UninstallDeletions(windowsFolder.c_str(), programsFolder.c_str(), systemFolder.c_str()))
        MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);

    // Neither service is stopped: both run until the restart.
    std::vector<std::wstring> remaining;
    for (const wchar_t* service : {L"Quenvar", L"QuenvarSvc"})
        if (!DeleteServiceNamed(manager.get(), service)) remaining.push_back(std::wstring(L"the service ") + service);

    for (const wchar_t* key : {L"System\\CurrentControlSet\\Services\\Quenvar",
                               L"System\\CurrentControlSet\\Services\\QuenvarSvc",
                               L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuenvarLockmere"})
        if (!Removed(SHDeleteKeyW(HKEY_LOCAL_MACHINE, key)))
            remaining.push_back(std::wstring(L"HKEY_LOCAL_MACHINE\\") + key);
    if (!Removed(SHDeleteValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                L"QuenvarUI")))
        remaining.push_back(L"the value QuenvarUI of HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");

    if (!remaining.empty()) {
        // The service and the driver go on protecting until the restart.
        SendGuardCommand(EnableGuardCode);
        showMessageBox(nullptr, UninstallFailureText(remaining).c_str(), kIncompleteTitle, MB_ICONERROR);
        return 0;
    }
    if (showMessageBox(nullptr,
                    L"Quenvar Lockmere has been uninstalled.  You must reboot your computer for the changes to take "
                    L"effect.\n\nWould you like to reboot now?",
                    L"Reboot?", MB_ICONQUESTION | MB_YESNO) == IDYES)
        restartRoutine();
    return 0;
}

}  // namespace quenvar
