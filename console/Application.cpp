#include "console/Application.h"

#include <commctrl.h>

#include "client/EventJudge.h"
#include "client/LogSink.h"
#include "client/ServiceLink.h"
#include "common/ProductInfo.h"
#include "common/UniqueResource.h"
#include "console/LogPage.h"
#include "console/MainWindow.h"
#include "console/Uninstall.h"
#include "ui/AppInstance.h"
#include "ui/MainLoop.h"

// The hook library's one export, linked at load time.
extern "C" __declspec(dllimport) void fnInstallHook();

namespace quenvar {
namespace {

constexpr SIZE_T kServiceLinkStack = 0x7FFF;
constexpr SIZE_T kAnnouncementStack = 0x8000;
constexpr int kKindStringIds[3] = {300, 301, 302};

void StartThread(SIZE_T stack, LPTHREAD_START_ROUTINE entry) {
    // Never waited for: the threads end on their own or with the process.
    const UniqueHandle thread(CreateThread(nullptr, stack, entry, nullptr, 0, nullptr));
}

void LogForeignQuit() { AddLogEntry(kForeignQuitLine); }

int RunConsole() {
    // Deliberately never freed: the service link thread may report to it, and
    // through it to the pages, until the process ends.
    MainWindow* const window = new MainWindow;
    AddLogEntry(L"Quenvar Lockmere 1.0.7 loaded.");
    AddLogEntry(L"Please report bugs, suggestions and comments to %ls!", kSupportEmail);
    AddLogEntry(L"NEED HELP?  Click Start -> All Programs -> Quenvar Lockmere -> Lockmere Help");
    StartThread(kServiceLinkStack, ServiceLinkThread);
    StartThread(kAnnouncementStack, AnnouncementThread);
    // Ends only at the end of the session (MainWindow), never on another
    // program's quit message.
    RunMainLoop(LogForeignQuit);
    window->RemoveTrayIcon();
    return 0;
}

}  // namespace

bool IsUninstallCommand(const char* commandTail) {
    return commandTail != nullptr && commandTail[0] == '/' && commandTail[1] == 'U' && commandTail[2] == '\0';
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
    // Registers RichEdit20A. Deliberately never freed: a prompt of the link
    // thread may use the class until the process ends.
    LoadLibraryW(L"RICHED20.DLL");
    logSink = AddLogEntryV;
    for (int kind = 0; kind < 3; ++kind)
        LoadStringW(appInstance, kKindStringIds[kind], breachLogPrefix[kind], kBreachLogPrefixLength);
    if (IsUninstallCommand(commandTail)) return RunUninstall();
    return RunConsole();
}

}  // namespace quenvar
