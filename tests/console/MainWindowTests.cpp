#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "ui/UiTestSupport.h"
#include "RightsTestSupport.h"
#include "client/ProcessRightsCache.h"
#include "console/AccessControlPage.h"
#include "console/LogPage.h"
#include "console/MainWindow.h"
#include "resources/ResourceIds.h"
#include "ui/MainLoop.h"
#include "SeamOverride.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

// Asks the shell to change the tip of the window's tray icon: succeeds only
// while that icon is there.
bool TrayIconPresent(HWND window, UINT id = 0xDEAFDEAD) {
    NOTIFYICONDATAW record = {};
    record.cbSize = NOTIFYICONDATAW_V2_SIZE;
    record.hWnd = window;
    record.uID = id;
    record.uFlags = NIF_TIP;
    lstrcpynW(record.szTip, L"Quenvar Lockmere 1.0.7", 128);
    return Shell_NotifyIconW(NIM_MODIFY, &record) != FALSE;
}

std::wstring TabText(HWND tab, int index) {
    wchar_t text[256] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(tab, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return text;
}

RECT WindowRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool HasVisibleStyle(HWND window) { return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

int trayIconAtDestroy = -1;
LONG_PTR previousProcedure = 0;

LRESULT CALLBACK ProbeTrayIconOnDestroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) trayIconAtDestroy = TrayIconPresent(window) ? 1 : 0;
    return CallWindowProcW(reinterpret_cast<WNDPROC>(previousProcedure), window, message, wParam, lParam);
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareWindows();
        ClearStoredRights();
        program = folder.MakeFile(L"listed.exe");
        StoreRights(program, std::vector<uint8_t>(42, 0));
        main = std::make_unique<MainWindow>();
        ASSERT_NE(main->window, nullptr);
        ASSERT_NE(main->pages[0], nullptr);
        ASSERT_NE(main->pages[1], nullptr);
        access = static_cast<AccessControlPage*>(main->pages[1]);
    }
    void TearDown() override {
        main.reset();
        ClearStoredRights();
    }

    void Tray(WPARAM id, LPARAM mouse) { SendMessageW(main->window, WM_USER, id, mouse); }
    void SelectTab(int index) {
        SendMessageW(main->tabControl, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
        NMHDR header = {};
        header.hwndFrom = main->tabControl;
        header.idFrom = IDC_TAB_CONTROL;
        header.code = static_cast<UINT>(TCN_SELCHANGE);
        SendMessageW(main->window, WM_NOTIFY, IDC_TAB_CONTROL, reinterpret_cast<LPARAM>(&header));
    }
    int AccessRows() { return static_cast<int>(SendMessageW(access->listWindow, LVM_GETITEMCOUNT, 0, 0)); }
    int AccessRowOf(const std::wstring& path) {
        for (int row = 0; row < AccessRows(); ++row)
            if (access->listView->GetCellText(row, 2) == path) return row;
        return -1;
    }

    TempFolder folder;
    std::wstring program;
    std::unique_ptr<MainWindow> main;
    AccessControlPage* access = nullptr;
};

}  // namespace

TEST(MainWindowTray, RetriesUntilTheFirstSuccessPausingAfterEveryFailure) {
    int attempts = 0;
    int pauses = 0;
    EXPECT_FALSE(TryRepeatedly(
        kTrayAddAttempts, [&] { return ++attempts, false; }, [&] { ++pauses; }));
    EXPECT_EQ(attempts, 20);
    EXPECT_EQ(pauses, 20);

    attempts = 0;
    pauses = 0;
    EXPECT_TRUE(TryRepeatedly(
        kTrayAddAttempts, [&] { return ++attempts == 3; }, [&] { ++pauses; }));
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(pauses, 2);
    EXPECT_EQ(kTrayRetryPauseMs, 1000u);
}

TEST(MainWindowTray, RecordHasTheVersionTwoSizeIdentifierCallbackAndTip) {
    HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
    const NOTIFYICONDATAW record = TrayIconRecord(reinterpret_cast<HWND>(0x1234), icon);
    EXPECT_EQ(record.cbSize, static_cast<DWORD>(NOTIFYICONDATAW_V2_SIZE));
    EXPECT_EQ(record.cbSize, sizeof(void*) == 4 ? 936u : 952u);
    EXPECT_EQ(record.hWnd, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(record.uID, 0xDEAFDEADu);
    EXPECT_EQ(record.uFlags, 7u);
    EXPECT_EQ(record.uCallbackMessage, 0x400u);
    EXPECT_EQ(record.hIcon, icon);
    EXPECT_EQ(std::wstring(record.szTip), L"Quenvar Lockmere 1.0.7");
}

TEST_F(MainWindowTest, StartsHiddenWithItsTrayIconTwoTabsAndTheLogPageSelected) {
    EXPECT_EQ(mainWindow, main.get());
    EXPECT_FALSE(main->IsVisible());
    EXPECT_TRUE(TrayIconPresent(main->window));
    EXPECT_NE(main->trayIcon, nullptr);
    EXPECT_EQ(main->tabControl, main->GetItem(IDC_TAB_CONTROL));
    ASSERT_EQ(SendMessageW(main->tabControl, TCM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(TabText(main->tabControl, 0), L"Log");
    EXPECT_EQ(TabText(main->tabControl, 1), L"Access Control");
    EXPECT_EQ(SendMessageW(main->tabControl, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(main->currentPage, main->pages[0]);
    EXPECT_EQ(logPage, main->pages[0]);
    EXPECT_EQ(GetParent(main->pages[0]->window), main->tabControl);
    EXPECT_EQ(GetParent(main->pages[1]->window), main->tabControl);
    EXPECT_TRUE(HasVisibleStyle(main->pages[0]->window));
    EXPECT_FALSE(HasVisibleStyle(main->pages[1]->window));
    // The access list read the stored decisions.
    EXPECT_EQ(AccessRowOf(program), 0);
}

// Records that other programs write or remove take effect at once, so each
// showing lists them afresh; the selection stays while its row is listed.
TEST_F(MainWindowTest, TrayDoubleClickOrRightButtonReleaseShowsTheLogTabAndTheRightsInForce) {
    const std::wstring written = folder.MakeFile(L"written.exe");
    const std::wstring removed = folder.MakeFile(L"removed.exe");
    std::vector<uint8_t> denying(42, 0);
    denying[0] = 2;
    StoreRights(removed, denying);
    main->UpdateProgram(removed, 0, 2);
    ListView_SetItemState(access->listWindow, AccessRowOf(program), LVIS_SELECTED, LVIS_SELECTED);
    StoreRights(written, denying);
    StoreRights(program, denying);
    RegDeleteValueW(access->rightsKey.get(), removed.c_str());

    Tray(0xDEAFDEAD, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(main->IsVisible());
    EXPECT_EQ(SendMessageW(main->tabControl, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(main->pages[0]->IsVisible());
    EXPECT_FALSE(main->pages[1]->IsVisible());
    ASSERT_EQ(AccessRows(), 2);
    EXPECT_EQ(AccessRowOf(removed), -1);
    EXPECT_EQ(access->programs.count(removed), 0u);
    ASSERT_GE(AccessRowOf(written), 0);
    EXPECT_EQ(access->listView->GetCellText(AccessRowOf(written), 1), L"Yes");
    EXPECT_EQ(access->listView->GetCellText(AccessRowOf(program), 1), L"Yes");
    EXPECT_EQ(access->programs[program]->deniedMask, 2u);
    EXPECT_EQ(access->listView->GetSelectedRow(), AccessRowOf(program));
    EXPECT_EQ(access->detailsView->GetCellText(1, 1), L"No");

    main->Hide();
    RegDeleteValueW(access->rightsKey.get(), program.c_str());
    Tray(0xDEAFDEAD, WM_RBUTTONUP);
    EXPECT_TRUE(main->IsVisible());
    EXPECT_TRUE(main->pages[0]->IsVisible());
    EXPECT_EQ(AccessRows(), 1);
    EXPECT_EQ(access->listView->GetSelectedRow(), -1);
    EXPECT_FALSE(IsWindowEnabled(access->forgetButton));
}

TEST_F(MainWindowTest, SingleClickOtherMouseMessagesAndForeignIconsDoNothing) {
    for (const LPARAM mouse : {WM_LBUTTONUP, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MOUSEMOVE, WM_RBUTTONDBLCLK}) {
        Tray(0xDEAFDEAD, mouse);
        EXPECT_FALSE(main->IsVisible()) << mouse;
    }
    Tray(0xDEAFDEAE, WM_LBUTTONDBLCLK);
    Tray(0, WM_RBUTTONUP);
    EXPECT_FALSE(main->IsVisible());
}

TEST_F(MainWindowTest, OkayAndTheCloseBoxHideAndShowingAgainKeepsTabAndRows) {
    AddLogEntry(L"first line");
    AddLogEntry(L"second line");
    auto* log = static_cast<LogPage*>(main->pages[0]);
    ASSERT_EQ(log->listView->GetItemCount(), 2);

    Tray(0xDEAFDEAD, WM_LBUTTONDBLCLK);
    ASSERT_TRUE(main->IsVisible());
    SendMessageW(main->window, WM_COMMAND, MAKEWPARAM(IDC_OKAY, BN_CLICKED),
                 reinterpret_cast<LPARAM>(main->GetItem(IDC_OKAY)));
    EXPECT_FALSE(main->IsVisible());
    EXPECT_TRUE(IsWindow(main->window));

    Tray(0xDEAFDEAD, WM_LBUTTONDBLCLK);
    SelectTab(1);
    SendMessageW(main->window, WM_CLOSE, 0, 0);
    PumpFor(0);  // runs the cancel command the dialog manager may have posted as well
    EXPECT_FALSE(main->IsVisible());
    EXPECT_TRUE(IsWindow(main->window));
    EXPECT_TRUE(main->isOpen);

    Tray(0xDEAFDEAD, WM_RBUTTONUP);
    SendMessageW(main->window, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpFor(0);
    EXPECT_FALSE(main->IsVisible());
    EXPECT_TRUE(IsWindow(main->window));
    EXPECT_TRUE(TrayIconPresent(main->window));

    Tray(0xDEAFDEAD, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(main->IsVisible());
    EXPECT_EQ(SendMessageW(main->tabControl, TCM_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(main->currentPage, main->pages[1]);
    EXPECT_TRUE(main->pages[1]->IsVisible());
    EXPECT_EQ(log->listView->GetItemCount(), 2);
    EXPECT_EQ(log->listView->GetCellText(1, 1), L"second line");
}

TEST_F(MainWindowTest, SwitchingTabsShowsTheOtherPageInTheSameArea) {
    Tray(0xDEAFDEAD, WM_LBUTTONDBLCLK);
    RECT expected = {};
    GetClientRect(main->tabControl, &expected);
    SendMessageW(main->tabControl, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&expected));
    MapWindowPoints(main->tabControl, nullptr, reinterpret_cast<POINT*>(&expected), 2);
    EXPECT_TRUE(SameRect(WindowRect(main->pages[0]->window), expected));

    SelectTab(1);
    EXPECT_EQ(main->currentPage, main->pages[1]);
    EXPECT_FALSE(main->pages[0]->IsVisible());
    EXPECT_TRUE(main->pages[1]->IsVisible());
    EXPECT_TRUE(SameRect(WindowRect(main->pages[1]->window), expected));

    // The same notification from anything but the tab control is ignored.
    SendMessageW(main->tabControl, TCM_SETCURSEL, 0, 0);
    NMHDR header = {};
    header.hwndFrom = main->GetItem(IDC_OKAY);
    header.code = static_cast<UINT>(TCN_SELCHANGE);
    SendMessageW(main->window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(main->currentPage, main->pages[1]);

    SelectTab(0);
    EXPECT_EQ(main->currentPage, main->pages[0]);
    EXPECT_TRUE(main->pages[0]->IsVisible());
    EXPECT_FALSE(main->pages[1]->IsVisible());
}

TEST_F(MainWindowTest, SavedDecisionsReachTheAccessListFromTheServiceLinkThread) {
    const std::wstring direct = folder.MakeFile(L"direct.exe");
    const std::wstring saved = folder.MakeFile(L"saved.exe");
    ASSERT_EQ(programRightsSaved, &ReportSavedRights);

    std::atomic<bool> finished{false};
    std::thread link([&] {
        main->UpdateProgram(direct, 0, 0x4);
        // What the rights store does after the user answered a prompt.
        ProcessRightsCache cache(GetCurrentProcessId());
        ProgramRights& rights = cache.RightsFor(saved);
        rights.allowedMask = 0x1;
        rights.deniedMask = 0x2;
        cache.Save(rights, saved);
        main->UpdateProgram(program, 0x7, 0);
        finished = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return finished.load(); }, 20000));
    link.join();

    ASSERT_EQ(AccessRows(), 3);
    EXPECT_EQ(AccessRowOf(direct), 1);
    EXPECT_EQ(access->listView->GetCellText(1, 1), L"Yes");
    EXPECT_EQ(AccessRowOf(saved), 2);
    EXPECT_EQ(access->listView->GetCellText(2, 1), L"Yes");
    EXPECT_EQ(access->programs[saved]->allowedMask, 0x1u);
    EXPECT_EQ(access->programs[saved]->deniedMask, 0x2u);
    EXPECT_TRUE(StoredRightsExist(saved));
    EXPECT_EQ(access->programs[program]->allowedMask, 0x7u);
    EXPECT_EQ(access->listView->GetCellText(0, 1), L"No");
}

TEST_F(MainWindowTest, WithoutAnAccessPageSavedDecisionsGoNowhere) {
    ModelessDialog* page = main->pages[1];
    main->pages[1] = nullptr;
    const std::wstring other = folder.MakeFile(L"other.exe");
    main->UpdateProgram(other, 0, 1);
    ReportSavedRights(other, 0, 1);
    main->pages[1] = page;
    EXPECT_EQ(AccessRows(), 1);
    EXPECT_EQ(AccessRowOf(other), -1);
}

TEST_F(MainWindowTest, DestructionRemovesTheTrayIconAndStopsTheNotifications) {
    // The shell drops the icons of destroyed windows by itself, so the icon is
    // looked for while the window is being destroyed, after the destructor's
    // own work.
    const HWND window = main->window;
    trayIconAtDestroy = -1;
    previousProcedure = SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProbeTrayIconOnDestroy));
    ASSERT_TRUE(TrayIconPresent(window));
    main.reset();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(trayIconAtDestroy, 0);
    EXPECT_FALSE(TrayIconPresent(window));
    EXPECT_EQ(mainWindow, nullptr);
    EXPECT_EQ(programRightsSaved, nullptr);
    // A decision saved now has nowhere to go and is dropped.
    ReportSavedRights(program, 0, 1);
}

// Notifications are sent by the window's own controls; one from another
// program carries a pointer that means nothing here.
TEST_F(MainWindowTest, NotificationsWithForeignPointersAreIgnored) {
    for (const LPARAM junk : {LPARAM(0), LPARAM(0x10), LPARAM(-1), LPARAM(0x7FFE0000)})
        main->HandleMessage(WM_NOTIFY, 0, junk);
    EXPECT_EQ(main->currentPage, main->pages[0]);
}

namespace {

int foreignQuits = 0;
void CountForeignQuit() { ++foreignQuits; }
bool SessionEnds() { return true; }
bool SessionGoesOn() { return false; }
bool loopLeftByWatchdog = false;

// Runs once the quit message posted before the loop has been taken.
void CALLBACK EndTheSession(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    SendMessageW(mainWindow->window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
}
void CALLBACK Watchdog(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    loopLeftByWatchdog = true;
    EndMainLoop();
}

}  // namespace

// Wine never reports the session as ending (SM_SHUTTINGDOWN), so the real end
// of a session is stood in for; another program's quit message and a forged
// end of the session leave the loop running.
TEST_F(MainWindowTest, OnlyTheRealEndOfTheSessionEndsTheMainLoop) {
    foreignQuits = 0;
    loopLeftByWatchdog = false;
    {
        SeamOverride<bool (*)()> forged{sessionEnding, SessionGoesOn};
        SendMessageW(main->window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    }
    SeamOverride<bool (*)()> real{sessionEnding, SessionEnds};
    SendMessageW(main->window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);  // the end was called off
    PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, 0, 0);
    PostQuitMessage(0);
    SetTimer(nullptr, 0, 200, EndTheSession);
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 5000, Watchdog);
    RunMainLoop(CountForeignQuit);
    // Left running, it would fire during a later test and end its message box.
    KillTimer(nullptr, watchdog);
    EXPECT_FALSE(loopLeftByWatchdog);
    EXPECT_EQ(foreignQuits, 1);
}
