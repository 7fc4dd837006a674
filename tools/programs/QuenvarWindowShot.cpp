// Shows one window of QuenvarUI, filled with sample content, so that
// tools/screenshot.sh can photograph it under Xvfb.
//   QuenvarWindowShot.exe WINDOW READY-FILE DONE-FILE
// When the window is painted, writes the X display and the window's screen
// rectangle to READY-FILE ("DISPLAY=:N" and "RECT=x y width height"), then
// keeps pumping until DONE-FILE exists (at most two minutes).
// Windows: "log" (the Log page inside the main window); "prompt-screen",
// "prompt-keyboard", "prompt-window" (the access prompt for each kind of
// access) and "details", "details-keyboard", "details-window" (its More
// Information window). The prompts are about the program named by
// QUENVAR_SHOT_PROGRAM (a Windows path), else Wine's notepad;
// QUENVAR_SHOT_ITEM selects a details list item (0 to 7) and
// QUENVAR_SHOT_SCROLL=1 scrolls the More Information text to its end.
// "main-log" and "main-access": the program's own main window, opened from its
// tray icon, on either tab, with log lines and stored decisions about a few
// programs (the first one selected on the access tab). "destroy-refused": the
// access tab with Destroy File pressed on a file that Windows File Protection
// covers (a stand-in check says every file is), and the refusal over it.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>

#include "client/AccessPrompt.h"
#include "client/ProcessRightsCache.h"
#include "client/ProgramDetailsDialog.h"
#include "common/DriverInterface.h"
#include "ui/AppInstance.h"
#include "console/LogPage.h"
#include "console/MainWindow.h"
#include "ui/ModelessDialog.h"
#include "resources/ResourceIds.h"

using namespace quenvar;

namespace {

void Pump(DWORD milliseconds, const wchar_t* stopFile = nullptr) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (stopFile != nullptr && GetFileAttributesW(stopFile) != INVALID_FILE_ATTRIBUTES) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// The main window template with its two tabs, as the program lays it out;
// returns the page area inside the tab control.
RECT PrepareMainWindow(ModelessDialog& main) {
    HWND tab = main.GetItem(IDC_TAB_CONTROL);
    const UINT names[] = {IDS_TAB_LOG, IDS_TAB_ACCESS_CONTROL};
    for (int i = 0; i < 2; ++i) {
        wchar_t text[256] = {};
        LoadStringW(appInstance, names[i], text, 256);
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    RECT area = {};
    GetClientRect(tab, &area);
    SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    return area;
}

std::unique_ptr<ModelessDialog> hostWindow;
std::unique_ptr<ModelessDialog> page;

HWND ShowLogPage() {
    hostWindow = std::make_unique<ModelessDialog>(kMainWindowTemplate, nullptr);
    if (hostWindow->window == nullptr) return nullptr;
    const RECT area = PrepareMainWindow(*hostWindow);
    page = std::make_unique<LogPage>(hostWindow->GetItem(IDC_TAB_CONTROL));
    MoveWindow(page->window, area.left, area.top, area.right - area.left, area.bottom - area.top, FALSE);
    page->Show();
    hostWindow->Show();

    AddLogEntry(L"Quenvar Lockmere 1.0.7 loaded.");
    AddLogEntry(L"Please report bugs, suggestions and comments to support@quenvar.example!");
    AddLogEntry(L"NEED HELP?  Click Start -> All Programs -> Quenvar Lockmere -> Lockmere Help");
    for (int i = 0; i < 3; ++i)
        AddLogEntry(L"%ls %ls", L"Blocked illegal screen access in", L"C:\\Program Files\\Snoop\\snoop.exe");
    AddLogEntry(L"%ls %ls", L"Blocked illegal keyboard hook in", L"C:\\Documents and Settings\\user\\k\x00e9ylogger.exe");
    AddLogEntry(L"%ls %ls", L"Blocked foreign text access in", L"C:\\WINDOWS\\system32\\\x0434\x0440\x0443\x0433.exe");
    return hostWindow->window;
}

std::unique_ptr<AccessPrompt> prompt;

std::wstring Environment(const wchar_t* name, const wchar_t* fallback) {
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length == 0 || length >= 1024 ? fallback : value;
}

HWND ShowPrompt(uint32_t breachKind, bool withDetails) {
    const std::wstring program = Environment(L"QUENVAR_SHOT_PROGRAM", L"C:\\windows\\system32\\notepad.exe");
    prompt = std::make_unique<AccessPrompt>(breachKind, program);
    if (prompt->window == nullptr) return nullptr;
    prompt->Show();
    if (!withDetails) return prompt->window;
    const int item = _wtoi(Environment(L"QUENVAR_SHOT_ITEM", L"0").c_str());
    SendMessageW(prompt->details->GetItem(IDC_LIST), LB_SETCURSEL, item, 0);
    prompt->details->ShowSelectedValue();
    if (Environment(L"QUENVAR_SHOT_SCROLL", L"") == L"1")
        SendMessageW(prompt->details->GetItem(IDC_DETAILS_MORE_TEXT), WM_VSCROLL, SB_BOTTOM, 0);
    prompt->OnCommand(IDC_MORE_INFORMATION, nullptr);
    return prompt->details->window;
}

std::unique_ptr<MainWindow> programWindow;

// A program file for the sample decisions: `name` in the temp folder.
std::wstring SampleProgram(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring path = std::wstring(temp) + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    wchar_t longPath[MAX_PATH] = {};
    GetLongPathNameW(path.c_str(), longPath, MAX_PATH);
    return longPath;
}

HWND ShowMainWindow(int tab) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    struct Sample {
        std::wstring path;
        BYTE denied;
        BYTE allowed;
    };
    const Sample samples[] = {
        {std::wstring(windows) + L"\\regedit.exe", 0x1, 0x4},
        {std::wstring(windows) + L"\\notepad.exe", 0x0, 0x7},
        {SampleProgram(L"snoop.exe"), 0x7, 0x0},
        {SampleProgram(L"k\x00e9ylogger.exe"), 0x2, 0x0},
        {std::wstring(windows) + L"\\explorer.exe", 0x0, 0x0},
    };
    HKEY rights = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Quenvar\\Lockmere\\Rights\\", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &rights, nullptr);
    for (const Sample& sample : samples) {
        BYTE record[42] = {sample.denied, sample.allowed};
        RegSetValueExW(rights, sample.path.c_str(), 0, REG_BINARY, record, sizeof record);
    }
    RegCloseKey(rights);

    programWindow = std::make_unique<MainWindow>();
    if (programWindow->window == nullptr) return nullptr;
    AddLogEntry(L"Quenvar Lockmere 1.0.7 loaded.");
    AddLogEntry(L"Please report bugs, suggestions and comments to support@quenvar.example!");
    for (int i = 0; i < 2; ++i) AddLogEntry(L"%ls %ls", L"Blocked illegal screen access in", samples[2].path.c_str());
    AddLogEntry(L"%ls %ls", L"Blocked illegal keyboard hook in", samples[3].path.c_str());
    if (tab == 1) {
        SendMessageW(programWindow->tabControl, TCM_SETCURSEL, 1, 0);
        programWindow->SwitchToSelectedTab();
        LVITEMW item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        HWND list = programWindow->pages[1]->GetItem(IDC_LIST);
        SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
    }
    // As a double click on the tray icon does.
    SendMessageW(programWindow->window, kTrayCallbackMessage, kTrayIconUid, WM_LBUTTONDBLCLK);
    return programWindow->window;
}

bool WriteReadyRect(const wchar_t* path, const RECT& rect) {
    wchar_t display[256] = {};
    GetEnvironmentVariableW(L"DISPLAY", display, 256);
    char text[512];
    const int length = std::snprintf(text, sizeof text, "DISPLAY=%ls\nRECT=%ld %ld %ld %ld\n", display, rect.left,
                                     rect.top, rect.right - rect.left, rect.bottom - rect.top);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) && written == DWORD(length);
    CloseHandle(file);
    return ok;
}

bool WriteReady(const wchar_t* path, HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return WriteReadyRect(path, rect);
}

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// The refusal is a message box: a helper thread finds it, reports the area of
// the main window and the box together, and answers it once the shot is taken.
int ShootDestroyRefusal(const wchar_t* readyFile, const wchar_t* doneFile) {
    fileProtectionCheck = [](const wchar_t*) { return true; };
    HWND main = ShowMainWindow(1);
    if (main == nullptr) return 1;
    Pump(1500);
    std::thread watcher([main, readyFile, doneFile] {
        HWND box = nullptr;
        for (int i = 0; i < 1000 && box == nullptr; ++i) {
            box = FindWindowW(L"#32770", L"File Protected");
            if (box == nullptr || !IsWindowVisible(box)) {
                box = nullptr;
                Sleep(20);
            }
        }
        if (box == nullptr) return;
        Sleep(1000);  // painted
        RECT mainRect = {}, boxRect = {}, both = {};
        GetWindowRect(main, &mainRect);
        GetWindowRect(box, &boxRect);
        UnionRect(&both, &mainRect, &boxRect);
        WriteReadyRect(readyFile, both);
        for (int i = 0; i < 6000 && !Exists(doneFile); ++i) Sleep(20);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    HWND page = programWindow->pages[1]->window;
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_DESTROY_FILE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, IDC_DESTROY_FILE)));
    Pump(125000, doneFile);
    watcher.join();
    programWindow.reset();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: QuenvarWindowShot WINDOW READY-FILE DONE-FILE\n");
        return 2;
    }
    appInstance = GetModuleHandleW(nullptr);
    InitCommonControls();
    LoadLibraryW(L"RICHED20.DLL");

    const std::wstring which = argv[1];
    if (which == L"destroy-refused") return ShootDestroyRefusal(argv[2], argv[3]);
    HWND shown = nullptr;
    if (which == L"log") shown = ShowLogPage();
    else if (which == L"prompt-screen") shown = ShowPrompt(kScreenAccess, false);
    else if (which == L"prompt-keyboard") shown = ShowPrompt(kKeyboardHook, false);
    else if (which == L"prompt-window") shown = ShowPrompt(kForeignTextAccess, false);
    else if (which == L"details") shown = ShowPrompt(kScreenAccess, true);
    else if (which == L"details-keyboard") shown = ShowPrompt(kKeyboardHook, true);
    else if (which == L"details-window") shown = ShowPrompt(kForeignTextAccess, true);
    else if (which == L"main-log") shown = ShowMainWindow(0);
    else if (which == L"main-access") shown = ShowMainWindow(1);
    else {
        std::fprintf(stderr, "unknown window %ls\n", argv[1]);
        return 2;
    }
    if (shown == nullptr) {
        std::fprintf(stderr, "the window could not be created\n");
        return 1;
    }
    Pump(1500);  // let it paint
    if (!WriteReady(argv[2], shown)) return 1;
    Pump(120000, argv[3]);
    prompt.reset();
    page.reset();
    hostWindow.reset();
    programWindow.reset();
    return 0;
}
