#include "console/Application.h"
#include "common/WideFormat.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "client/ServiceLink.h"
#include "common/ProductInfo.h"
#include "common/RestartRoutine.h"
#include "console/AppInstance.h"
#include "console/LogPage.h"
#include "console/MainWindow.h"

// The hook library's one export, linked at load time.
extern "C" __declspec(dllimport) void fnInstallHook();

namespace quenvar {
namespace {

constexpr SIZE_T kServiceLinkStack = 0x7FFF;
constexpr SIZE_T kAnnouncementStack = 0x8000;
constexpr int kKindStringIds[3] = {300, 301, 302};

void StartThread(SIZE_T stack, LPTHREAD_START_ROUTINE entry) {
    HANDLE thread = CreateThread(nullptr, stack, entry, nullptr, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}

int RunConsole() {
    MainWindow mainWindow;
    AddLogEntry(L"Quenvar Lockmere 1.0.7 loaded.");
    AddLogEntry(L"Please report bugs, suggestions and comments to %ls!", kSupportEmail);
    AddLogEntry(L"NEED HELP?  Click Start -> All Programs -> Quenvar Lockmere -> Lockmere Help");
    StartThread(kServiceLinkStack, ServiceLinkThread);
    StartThread(kAnnouncementStack, AnnouncementThread);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;  // the main window goes with this frame, and its tray icon with it
}

void DeleteService(SC_HANDLE manager, const wchar_t* name, SC_HANDLE* service) {
    *service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    if (*service != nullptr) ::DeleteService(*service);
}

}  // namespace

bool IsUninstallCommand(const char* commandTail) {
    return commandTail != nullptr && commandTail[0] == '/' && commandTail[1] == 'U' && commandTail[2] == '\0';
}

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
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE driver = nullptr, service = nullptr;
    DeleteService(manager, L"Quenvar", &driver);
    DeleteService(manager, L"QuenvarSvc", &service);
    if (driver != nullptr) CloseServiceHandle(driver);
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);

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

DWORD WINAPI AnnouncementThread(LPVOID) {
    AddLogEntry(L"This software is free!  (If you like it, please donate...)");
    AddLogEntry(L"Please visit %ls to get the latest version.", kWebSite);
    return 0;
}

int RunQuenvarUI(HINSTANCE instance, const char* commandTail) {
    fnInstallHook();
    // Asked last of the applications at shutdown.
    SetProcessShutdownParameters(0x100, 0);
    appInstance = instance;
    InitCommonControls();
    LoadLibraryW(L"RICHED20.DLL");  // registers RichEdit20A; kept for the life of the process
    for (int kind = 0; kind < 3; ++kind)
        LoadStringW(appInstance, kKindStringIds[kind], breachLogPrefix[kind], kBreachLogPrefixLength);
    if (IsUninstallCommand(commandTail)) return RunUninstall();
    return RunConsole();
}

}  // namespace quenvar
