// What the window tests share: the process set up as WinMain would, a main
// window template hosting tab pages, message pumping, a helper thread that
// answers a real message box, and a stand-in that records boxes instead.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ui/MessageBoxCall.h"
#include "ui/ModelessDialog.h"
#include "SeamOverride.h"
#include "resources/ResourceIds.h"

namespace quenvar::testing {

// appInstance := this test program (which links the resources), common
// controls and rich edit registered. Safe to call again.
void PrepareWindows();

// Dispatches this thread's messages until `done` returns true or `limitMs`
// passed; returns the last value of `done`.
bool PumpUntil(const std::function<bool()>& done, DWORD limitMs);
void PumpFor(DWORD milliseconds);

// Input as the user gives it, through SendInput. ActivateAsAUser brings the
// window to the front, then clicks the middle of its title bar; true when the
// window is in front afterwards. Under Wine with no window manager, the title
// bar click starts Wine's own move loop, which hands the foreground to the
// desktop window; the window is then clicked again where no control lies, as
// a user would, which activates it as a click does (WA_CLICKACTIVE).
bool ActivateAsAUser(HWND window);
void PressKey(WORD virtualKey);

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

// Looks (on its own thread) for a top-level dialog box with this caption,
// records it and answers it with `answer` (IDYES, IDNO, ...).
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer(const wchar_t* caption, int answer);
    ~MessageBoxAnswerer() { Result(); }
    // Called once the call under test has returned: whatever box it showed
    // was answered by then, so the search stops and the thread is joined.
    MessageBoxSeen Result();

private:
    std::wstring caption_;
    int answer_;
    std::atomic<bool> stop_{false};
    MessageBoxSeen seen_;
    std::thread thread_;
};

// For its life, stands in for showMessageBox: records every box asked for and
// answers them with `answers` in order (IDOK beyond them), drawing none.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(std::vector<int> answers = {});
    // The captions in order; one whose box was given another owner is marked.
    std::vector<std::wstring> Captions(HWND owner) const;

    struct Box { std::wstring caption, text; UINT flags; HWND owner; };
    std::vector<Box> boxes;
    // How many boxes were recorded; boxes may be read up to that many once it
    // is seen, also when another thread showed them.
    std::atomic<size_t> shown{0};
    // Run while a box is up, with its number from 0: what another program does meanwhile.
    std::function<void(size_t)> whileShown;

private:
    static int WINAPI Record(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags);
    std::vector<int> answers_;
    SeamOverride<MessageBoxFunction> seam_{showMessageBox, Record};
};
using BoxCaptions = std::vector<std::wstring>;

}  // namespace quenvar::testing
