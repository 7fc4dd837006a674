#include "console/MainWindow.h"

#include <commctrl.h>

#include <new>

#include "client/ProcessRightsCache.h"
#include "console/AccessControlPage.h"
#include "console/LogPage.h"
#include "resources/ResourceIds.h"
#include "ui/AppInstance.h"
#include "ui/MainLoop.h"
#include "ui/ReadableMemory.h"

namespace quenvar {

namespace {

bool SessionIsEnding() { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }

constexpr int kTabControlId = IDC_TAB_CONTROL;
constexpr int kPageCount = 2;
// Tab i shows pages[i].
const UINT kTabNames[kPageCount] = {IDS_TAB_LOG, IDS_TAB_ACCESS_CONTROL};
constexpr int kTabNameCapacity = 256;

}  // namespace

bool (*sessionEnding)() = SessionIsEnding;

namespace {

template <typename Page>
ModelessDialog* BuildPage(HWND tabControl) {
    try {
        return new Page(tabControl);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

MainWindow* mainWindow = nullptr;

NOTIFYICONDATAW TrayIconRecord(HWND window, HICON icon) {
    NOTIFYICONDATAW record = {};
    record.cbSize = kTrayRecordSize;
    record.hWnd = window;
    record.uID = kTrayIconUid;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = kTrayCallbackMessage;
    record.hIcon = icon;
    lstrcpynW(record.szTip, kTrayTip, ARRAYSIZE(record.szTip));
    return record;
}

void ReportSavedRights(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask) {
    MainWindow* target = mainWindow;
    if (target != nullptr) target->UpdateProgram(path, allowedMask, deniedMask);
}

MainWindow::MainWindow()
    : ModelessDialog(kMainWindowTemplate, nullptr),
      pages{nullptr, nullptr},
      currentPage(nullptr),
      tabControl(nullptr),
      trayIcon(nullptr) {
    mainWindow = this;
    trayIcon = LoadIconW(appInstance, MAKEINTRESOURCEW(kTrayIconId));

    // The shell may not be up yet at logon. Without an icon the window cannot
    // be opened, but the program still guards.
    NOTIFYICONDATAW record = TrayIconRecord(window, trayIcon);
    TryRepeatedly(
        kTrayAddAttempts, [&record] { return Shell_NotifyIconW(NIM_ADD, &record) != FALSE; },
        [] { Sleep(kTrayRetryPauseMs); });

    tabControl = GetItem(kTabControlId);
    currentPage = nullptr;
    for (int i = 0; i < kPageCount; ++i) {
        wchar_t name[kTabNameCapacity] = {};
        LoadStringW(appInstance, kTabNames[i], name, kTabNameCapacity);
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = name;
        SendMessageW(tabControl, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }

    RECT area = {};
    GetClientRect(tabControl, &area);
    SendMessageW(tabControl, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));

    pages[0] = BuildPage<LogPage>(tabControl);
    pages[1] = BuildPage<AccessControlPage>(tabControl);
    for (ModelessDialog* page : pages) {
        if (page != nullptr)
            MoveWindow(page->window, area.left, area.top, area.right - area.left, area.bottom - area.top, FALSE);
    }
    SwitchToSelectedTab();

    programRightsSaved = ReportSavedRights;
}

MainWindow::~MainWindow() {
    if (programRightsSaved == ReportSavedRights) programRightsSaved = nullptr;
    if (mainWindow == this) mainWindow = nullptr;
    RemoveTrayIcon();
}

void MainWindow::RemoveTrayIcon() {
    NOTIFYICONDATAW record = {};
    record.cbSize = kTrayRecordSize;
    record.hWnd = window;
    record.uID = kTrayIconUid;
    record.uFlags = 0;
    Shell_NotifyIconW(NIM_DELETE, &record);
}

void MainWindow::UpdateProgram(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask) {
    auto* page = static_cast<AccessControlPage*>(pages[1]);
    if (page != nullptr) page->UpdateProgram(path, allowedMask, deniedMask);
}

void MainWindow::Show() {
    auto* page = static_cast<AccessControlPage*>(pages[1]);
    if (page != nullptr) page->LoadFromRegistry();
    ModelessDialog::Show();
}

void MainWindow::SwitchToSelectedTab() {
    if (currentPage != nullptr) currentPage->Hide();
    const LRESULT selected = SendMessageW(tabControl, TCM_GETCURSEL, 0, 0);
    currentPage = selected >= 0 && selected < kPageCount ? pages[selected] : nullptr;
    if (currentPage != nullptr) currentPage->Show();
}

INT_PTR MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY) {
        // Only a readable record can be a notification of the window's own tab control.
        if (!IsReadableMemory(reinterpret_cast<const void*>(lParam), sizeof(NMHDR))) return FALSE;
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == tabControl && header->code == static_cast<UINT>(TCN_SELCHANGE))
            SwitchToSelectedTab();
        return FALSE;
    }
    if (message == WM_ENDSESSION) {
        // The system ends the program once this returns; the main loop ends
        // first, and with it the tray icon goes.
        if (wParam != FALSE && sessionEnding()) EndMainLoop();
        return FALSE;
    }
    if (message == kTrayCallbackMessage) {
        if (wParam == kTrayIconUid && (lParam == WM_LBUTTONDBLCLK || lParam == WM_RBUTTONUP)) Show();
        return FALSE;
    }
    return ModelessDialog::HandleMessage(message, wParam, lParam);
}

bool MainWindow::OnClose() {
    Hide();
    return false;
}

}  // namespace quenvar
