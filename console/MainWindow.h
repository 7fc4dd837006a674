// The program's one window that the user opens at will: a tray icon that shows
// the "Log" and "Access Control" tabs; closing the window only hides it.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "ui/ModelessDialog.h"
#include "ui/TryRepeatedly.h"

namespace quenvar {

// The tray icon's identifier, echoed as wParam of its callback message.
constexpr UINT kTrayIconUid = 0xDEAFDEAD;
// The tray icon's callback message.
constexpr UINT kTrayCallbackMessage = WM_USER;
constexpr const wchar_t* kTrayTip = L"Quenvar Lockmere 1.0.7";
constexpr int kTrayAddAttempts = 20;
constexpr DWORD kTrayRetryPauseMs = 1000;

// The tray record without its trailing GUID member (NOTIFYICONDATAW_V2_SIZE),
// so the shells of the Windows XP generation take it: 936 bytes on the 32-bit
// target.
constexpr DWORD kTrayRecordSize = offsetof(NOTIFYICONDATAW, guidItem);
#if !defined(_WIN64)
static_assert(kTrayRecordSize == 936, "the 32-bit tray record is 936 bytes");
#endif

// The record that adds the tray icon of `window`.
NOTIFYICONDATAW TrayIconRecord(HWND window, HICON icon);

class MainWindow : public ModelessDialog {
public:
    // Builds the hidden window with its tray icon and both pages, and becomes
    // mainWindow and the receiver of saved decisions.
    MainWindow();
    // Removes the tray icon, stops receiving saved decisions, then destroys the
    // window. The pages are kept: they last until the process ends.
    ~MainWindow() override;

    // Takes the tray icon away; the destructor does it too.
    void RemoveTrayIcon();

    // Passes a saved decision on to the access control page, if there is one.
    // From any thread.
    void UpdateProgram(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask);

    // Lists the rights in force afresh, then shows the window: another program
    // may have written or removed records since it was last shown.
    void Show() override;

    // Tab switching (TCN_SELCHANGE) and the tray callback.
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Hides; the window is not destroyed.
    bool OnClose() override;

    // Shows the page of the selected tab, hiding the one shown before.
    void SwitchToSelectedTab();

    // [0] the LogPage, [1] the AccessControlPage; null where one could not be
    // built. Not owned: the pages are deliberately never freed, because the
    // link thread may still report through them until the process ends.
    ModelessDialog* pages[2];
    // The page shown; null only during construction.
    ModelessDialog* currentPage;
    HWND tabControl;
    HICON trayIcon;
};

// Whether the session is really ending (SM_SHUTTINGDOWN): any program of the
// desktop can send the end-of-session message itself.
extern bool (*sessionEnding)();

// The program's main window; null while none exists.
extern MainWindow* mainWindow;

// Where the rights store reports saved decisions while a main window exists.
void ReportSavedRights(const std::wstring& path, uint32_t allowedMask, uint32_t deniedMask);

}  // namespace quenvar
