#include "console/Uninstall.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "client/ServiceLink.h"
#include "common/RestartRoutine.h"
#include "common/UniqueResource.h"
#include "common/WideFormat.h"

namespace quenvar {

namespace {

// Marks the service for deletion; it keeps running until the restart.
void DeleteServiceNamed(SC_HANDLE manager, const wchar_t* name) {
    const UniqueServiceHandle service(OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
    if (service) DeleteService(service.get());
}

}  // namespace

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
        wchar_t path[1024];
        FormatInto(path, 1024, item.pattern, item.folder);
        paths.push_back(path);
    }
    return paths;
}

int RunUninstall() {
    if (MessageBoxW(nullptr, L"You are about to uninstall Quenvar Lockmere.  Are you sure you want to do this?",
                    L"Are You Sure?", MB_ICONQUESTION | MB_YESNO) != IDYES)
        return 0;
    // So that the service's registry guard leaves the deletions below alone.
    SendDisableGuard();

    wchar_t windowsFolder[1024] = {}, programsFolder[1024] = {}, systemFolder[1024] = {};
    SHGetSpecialFolderPathW(nullptr, windowsFolder, CSIDL_WINDOWS, TRUE);
    SHGetSpecialFolderPathW(nullptr, programsFolder, CSIDL_COMMON_PROGRAMS, TRUE);
    SHGetSpecialFolderPathW(nullptr, systemFolder, CSIDL_SYSTEM, TRUE);
    for (const std::wstring& path : UninstallDeletions(windowsFolder, programsFolder, systemFolder))
        MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);

    // Neither service is stopped: both run until the restart.
    {
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        DeleteServiceNamed(manager.get(), L"Quenvar");
        DeleteServiceNamed(manager.get(), L"QuenvarSvc");
    }

    SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\Quenvar");
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\QuenvarSvc");
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuenvarLockmere");
    SHDeleteValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"QuenvarUI");

    if (MessageBoxW(nullptr,
                    L"Quenvar Lockmere has been uninstalled.  You must reboot your computer for the changes to take "
                    L"effect.\n\nWould you like to reboot now?",
                    L"Reboot?", MB_ICONQUESTION | MB_YESNO) == IDYES)
        restartRoutine();
    return 0;
}

}  // namespace quenvar
