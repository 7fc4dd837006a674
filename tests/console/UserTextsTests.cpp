// Every message box of the program and the log lines that go with them, each
// compared whole, once, with the flags (topmost, icon, buttons) and the owner
// the box is given.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ServiceOwnedPipe.h"
#include "RightsTestSupport.h"
#include "SeamOverride.h"
#include "client/LogSink.h"
#include "client/ProcessRightsCache.h"
#include "client/ServiceLink.h"
#include "common/PipeProtocol.h"
#include "common/RestartRoutine.h"
#include "common/UniqueResource.h"
#include "common/WideFormat.h"
#include "console/Application.h"
#include "console/LogPage.h"
#include "console/ProgramFileActions.h"
#include "console/Uninstall.h"
#include "resources/ResourceIds.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

// One box as the program asks for it: caption, text, the whole MB_ flags,
// and whether its owner is the dialog the test gave.
struct Box {
    std::wstring caption;
    std::wstring text;
    UINT flags;
    bool owned;
    int answer;  // what the user clicks; not compared
};

bool operator==(const Box& a, const Box& b) {
    return a.caption == b.caption && a.text == b.text && a.flags == b.flags && a.owned == b.owned;
}

void PrintTo(const Box& box, std::ostream* out) {
    *out << "\n  caption \"" << std::string(box.caption.begin(), box.caption.end()) << "\" flags 0x" << std::hex
         << box.flags << std::dec << (box.owned ? " owned" : " no owner") << "\n  text \""
         << std::string(box.text.begin(), box.text.end()) << "\"";
}

// The lines the client passed to its log sink.
std::vector<std::wstring> sunkLines;
void SinkLine(const wchar_t* format, va_list args) {
    wchar_t text[1024];
    FormatIntoV(text, 1024, format, args);
    sunkLines.push_back(text);
}

// Runs the link thread against a service that answers the hello with `status`
// and then cuts the program off; no service at all when `status` is null. The
// link keeps trying, so it is stopped once its one box has been shown.
void LinkWithStatus(const uint32_t* status, const MessageBoxRecorder& boxes) {
    SeamOverride<ServiceLinkTiming> timing{serviceLinkTiming, {20, 20, 10000, status ? 60000u : 0u, 200, 200}};
    UniqueHandle pipe;
    if (status)
        pipe.reset(CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                    1, 1024, 1024, 0, ServiceOwner().attributes()));
    const UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle thread(CreateThread(nullptr, 0x7FFF, ServiceLinkThread, stop.get(), 0, nullptr));
    if (status) {
        uint32_t hello = 0;
        DWORD moved = 0;
        if (ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            ReadFile(pipe.get(), &hello, sizeof(hello), &moved, nullptr);
            WriteFile(pipe.get(), status, sizeof(*status), &moved, nullptr);
        }
        pipe.reset();
    }
    const DWORD start = GetTickCount();
    while (boxes.shown == 0 && GetTickCount() - start < 20000) Sleep(10);
    EXPECT_GT(boxes.shown.load(), 0u);
    Sleep(300);  // time for anything more it might say
    SetEvent(stop.get());
    EXPECT_EQ(WaitForSingleObject(thread.get(), 20000), WAIT_OBJECT_0);
}

void NoRestart() {}
SC_HANDLE NoAdministrativeRights(DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}
bool ProtectEverything(const wchar_t*) { return true; }
DWORD WINAPI EveryFolderAJunction(LPCWSTR) { return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT; }

constexpr UINT kQuestion = MB_TOPMOST | MB_ICONQUESTION | MB_YESNO;
constexpr UINT kBareQuestion = MB_ICONQUESTION | MB_YESNO;
constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct Scenario {
    const char* name;
    // The window that owns the boxes marked owned.
    HWND owner;
    // Shows the boxes; returns the log lines it saw.
    std::function<std::vector<std::wstring>()> run;
    std::vector<Box> boxes;
    std::vector<std::wstring> lines;
};

}  // namespace

TEST(UserTexts, EveryBoxAndLineIsShownWholeWithItsStyle) {
    PrepareWindows();
    ClearStoredRights();
    ForgetPendingDeletions();
    SeamOverride<void (*)()> restart{restartRoutine, NoRestart};
    // By hand: a pointer type with va_list in it loses its attributes as a
    // template argument.
    const LogSink savedSink = logSink;
    logSink = SinkLine;
    HostWindow host;
    LogPage logPage(host.tab());
    const HWND owner = host.dialog.window;
    TempFolder folder;
    const std::wstring file = folder.MakeFile(L"spy.exe");
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring own = self;
    const std::wstring initError =
        L"Quenvar Lockmere could not initialize properly.  Please report the following error code to "
        L"support@quenvar.example!\n\nError code = ";
    const wchar_t* kErrorTitle = L"Initialization Error, Protection Disabled";
    const uint32_t failedStatus = 0xC000000D;
    const auto sunk = [] {
        std::vector<std::wstring> lines;
        lines.swap(sunkLines);
        return lines;
    };
    const auto logRows = [&] {
        std::vector<std::wstring> rows;
        const HWND list = logPage.GetItem(IDC_LIST);
        for (int row = 0; row < ListRowCount(list); ++row) rows.push_back(ListCellText(list, row, 1));
        return rows;
    };
    const auto destroy = [&](const std::wstring& path) {
        ConfirmAndDestroyFile(owner, path);
        return sunk();
    };

    const MessageBoxRecorder* recorder = nullptr;  // the scenario's own
    const Scenario scenarios[] = {
        {"no service",
         nullptr,
         [&] { return LinkWithStatus(nullptr, *recorder), sunk(); },
         {{kErrorTitle, initError + L"NO SERVICE", 0, false, IDOK}},
         {L"Initialization error, protection disabled.  Error code = NO SERVICE."}},
        {"driver status with hex letters",
         nullptr,
         [&] { return LinkWithStatus(&failedStatus, *recorder), sunk(); },
         {{kErrorTitle, initError + L"0xc000000d", 0, false, IDOK}},
         {L"Initialization error, protection disabled.  Error code = 0xc000000d.",
          L"Protection suspended: the link to the protection service was lost.  Reconnecting..."}},
        {"announcement and clear log",
         logPage.window,
         [&] {
             AnnouncementThread(nullptr);
             const std::vector<std::wstring> rows = logRows();
             SendMessageW(logPage.window, WM_COMMAND, MAKEWPARAM(IDC_CLEAR_LOG, BN_CLICKED),
                          reinterpret_cast<LPARAM>(logPage.clearButton));
             return rows;
         },
         {{L"Are you sure?", L"You are about to erase all of the log entries.  Are you sure you want to do this?",
           kQuestion, true, IDNO}},
         {L"This software is free!  (If you like it, please donate...)",
          L"Please visit www.quenvar.example to get the latest version."}},
        {"forget",
         owner,
         [&] { return ConfirmForget(owner, file), sunk(); },
         {{L"Are you sure?",
           L"You are about to have Quenvar Lockmere forget everything it knows about the file \"" + file +
               L"\".\n\nAre you sure that you want to do this?",
           kQuestion, true, IDNO}},
         {}},
        {"destroy, deleted",
         owner,
         [&] { return destroy(folder.MakeFile(L"doomed.exe")); },
         {{L"Are you sure?",
           L"You are about to permanently erase the file \"" + folder.PathOf(L"doomed.exe") +
               L"\".  You should only do this if you are sure that you do not want this file on your drive any "
               L"longer.\n\nAre you sure that you want to do this?",
           kQuestion, true, IDYES},
          {L"Operation Complete", L"The file \"" + folder.PathOf(L"doomed.exe") + L"\" has been deleted.",
           MB_TOPMOST | MB_OK, true, IDOK}},
         {}},
        {"destroy, in use",
         owner,
         [&] {
             FileInUse busy(file);
             return destroy(file);
         },
         {{L"Are you sure?", L"", kQuestion, true, IDYES},
          {L"Schedule Delete on Reboot?",
           L"The file \"" + file +
               L"\" is currently in use and cannot be deleted right now.  We can schedule the file to be deleted "
               L"when you reboot your computer.\n\n Do you want to schedule this file for deletion when you reboot?",
           kQuestion, true, IDYES},
          {L"Reboot Now?",
           L"The file \"" + file +
               L"\" has been scheduled for deletion when you reboot the computer.\n\nDo you want to reboot the "
               L"computer now?",
           kQuestion, true, IDNO}},
         {}},
        {"destroy, cannot be scheduled",
         owner,
         [&] {
             ForgetPendingDeletions();
             FileInUse busy(file);
             KeyReadOnly locked(kSessionManagerKey);
             return destroy(file);
         },
         {{L"Are you sure?", L"", kQuestion, true, IDYES},
          {L"Schedule Delete on Reboot?", L"", kQuestion, true, IDYES},
          {L"Access Denied",
           L"The file cannot be scheduled for deletion when the computer reboots.  You do not have permission to do "
           L"this.  Only unrestricted users may schedule file deletion on reboot.\n\nContact your system "
           L"administrator to take care of this problem.",
           MB_ICONERROR | MB_OK, true, IDOK}},
         {}},
        {"destroy, protected by Windows",
         owner,
         [&] {
             SeamOverride<FileProtectionCheck> protection{fileProtectionCheck, ProtectEverything};
             return destroy(file);
         },
         {{L"File Protected",
           L"The file \"" + file +
               L"\" is protected by Windows File Protection.  Quenvar Lockmere will not destroy it.",
           MB_TOPMOST | MB_ICONWARNING | MB_OK, true, IDOK}},
         {}},
        {"destroy, own file",
         owner,
         [&] { return destroy(own); },
         {{L"File Protected",
           L"The file \"" + own + L"\" belongs to Quenvar Lockmere itself.  Quenvar Lockmere will not destroy it.",
           MB_TOPMOST | MB_ICONWARNING | MB_OK, true, IDOK}},
         {}},
        {"destroy, in a folder that is a junction",
         owner,
         [&] {
             SeamOverride<FolderAttributesReader> junctions{folderAttributes, EveryFolderAJunction};
             return destroy(file);
         },
         {{L"File Protected",
           L"The file \"" + file +
               L"\" lies in a folder that leads to another place (a junction or a mount point).  Quenvar Lockmere "
               L"will not destroy it.",
           MB_TOPMOST | MB_ICONWARNING | MB_OK, true, IDOK}},
         {}},
        {"destroy, cannot be checked",
         owner,
         [&] { return destroy(L"spy.exe"); },  // no folder to check
         {{L"File Protected",
           L"The file \"spy.exe\" cannot be checked to be the file you chose: it may have been moved or replaced.  "
           L"Quenvar Lockmere will not destroy it.",
           MB_TOPMOST | MB_ICONWARNING | MB_OK, true, IDOK}},
         {}},
        {"uninstall, not sure",
         nullptr,
         [&] { return RunUninstall(), sunk(); },
         {{L"Are You Sure?", L"You are about to uninstall Quenvar Lockmere.  Are you sure you want to do this?",
           kBareQuestion, false, IDNO}},
         {}},
        {"uninstall without rights",
         nullptr,
         [&] {
             SeamOverride<ServiceManagerOpener> opener{serviceManagerOpener, NoAdministrativeRights};
             return RunUninstall(), sunk();
         },
         {{L"Are You Sure?", L"", kBareQuestion, false, IDYES},
          {L"Administrative Rights Required",
           L"Quenvar Lockmere can only be uninstalled by a user with administrative rights.  Nothing has been "
           L"changed.",
           MB_ICONERROR | MB_OK, false, IDOK}},
         {}},
        {"uninstall, incomplete",
         nullptr,
         [&] {
             UniqueRegKey run;
             RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, run.receive(),
                             nullptr);
             RegSetValueExW(run.get(), L"QuenvarUI", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
             {
                 KeyReadOnly kept(kRunKey);
                 RunUninstall();
             }
             SHDeleteValueW(HKEY_LOCAL_MACHINE, kRunKey, L"QuenvarUI");
             return sunk();
         },
         {{L"Are You Sure?", L"", kBareQuestion, false, IDYES},
          {L"Uninstall Incomplete",
           L"Quenvar Lockmere could not be removed completely.  These parts are still installed:\n\nthe value "
           L"QuenvarUI of HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
           MB_ICONERROR | MB_OK, false, IDOK}},
         {}},
        {"uninstall, done",
         nullptr,
         [&] { return RunUninstall(), sunk(); },
         {{L"Are You Sure?", L"", kBareQuestion, false, IDYES},
          {L"Reboot?",
           L"Quenvar Lockmere has been uninstalled.  You must reboot your computer for the changes to take "
           L"effect.\n\nWould you like to reboot now?",
           kBareQuestion, false, IDNO}},
         {}},
    };

    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        sunkLines.clear();
        std::vector<int> answers;
        for (const Box& box : scenario.boxes) answers.push_back(box.answer);
        // Wine draws no box topmost, so the flags are read through the seam.
        MessageBoxRecorder boxes(answers);
        recorder = &boxes;
        const std::vector<std::wstring> lines = scenario.run();
        std::vector<Box> expected = scenario.boxes, shown;
        for (const MessageBoxRecorder::Box& box : boxes.boxes)
            shown.push_back({box.caption, box.text, box.flags, box.owner != nullptr && box.owner == scenario.owner, 0});
        // A box whose text an earlier row gives whole has none here.
        for (size_t i = 0; i < expected.size() && i < shown.size(); ++i)
            if (expected[i].text.empty()) expected[i].text = shown[i].text;
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(lines, scenario.lines);
        ForgetPendingDeletions();
    }
    logSink = savedSink;
}
