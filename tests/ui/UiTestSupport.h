// What the window tests share: the process set up as WinMain would, a main
// window template hosting tab pages, message pumping, and a helper thread that
// answers a message box.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "ui/ModelessDialog.h"
#include "resources/ResourceIds.h"

namespace quenvar::testing {

// appInstance := this test program (which links the resources), common
// controls and rich edit registered. Safe to call again.
void PrepareWindows();

// Dispatches this thread's messages until `done` returns true or `limitMs`
// passed; returns the last value of `done`.
bool PumpUntil(const std::function<bool()>& done, DWORD limitMs);
void PumpFor(DWORD milliseconds);

// A list view's cell text and row count, read through the control itself rather
// than through the wrapper under test.
std::wstring ListCellText(HWND list, int row, int column);
int ListRowCount(HWND list);

// The main window template (103) as a plain dialog; its tab control is the
// parent of the pages, as in the program.
class HostWindow {
public:
    HostWindow();
    HWND tab() { return dialog.GetItem(IDC_TAB_CONTROL); }
    ModelessDialog dialog;
};

// What the answerer saw of the box it answered. Its flags are seen through
// showMessageBox (UserTexts): Wine draws no box topmost.
struct MessageBoxSeen {
    bool found = false;
    std::wstring text;
    HWND owner = nullptr;
};

// Waits (on its own thread) for a top-level dialog box with this caption,
// records it and answers it with `answer` (IDYES, IDNO, ...).
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer(const wchar_t* caption, int answer, DWORD limitMs = 10000);
    ~MessageBoxAnswerer();
    // Joins the helper thread.
    MessageBoxSeen Result();

private:
    std::wstring caption_;
    int answer_;
    DWORD limitMs_;
    MessageBoxSeen seen_;
    std::thread thread_;
};

}  // namespace quenvar::testing
