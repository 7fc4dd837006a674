#include "ui/UiTestSupport.h"

#include <commctrl.h>

#include <utility>

#include "ui/AppInstance.h"
#include "resources/ResourceIds.h"

namespace quenvar::testing {

void PrepareWindows() {
    appInstance = GetModuleHandleW(nullptr);
    InitCommonControls();
    static HMODULE richEdit = LoadLibraryW(L"RICHED20.DLL");
    (void)richEdit;
}

bool PumpUntil(const std::function<bool()>& done, DWORD limitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (GetTickCount() - start >= limitMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void PumpFor(DWORD milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

namespace {

// A left click at a point of the screen, pressed once the pointer is there.
// Under Wine a SendInput move alone may be undone by the X pointer's own
// position before the press; SetCursorPos moves that one too.
void ClickAt(POINT point) {
    INPUT clicks[3] = {};
    for (INPUT& click : clicks) click.type = INPUT_MOUSE;
    // Absolute positions run from 0 to 65535 across the screen.
    clicks[0].mi.dx = MulDiv(point.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    clicks[0].mi.dy = MulDiv(point.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    clicks[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SetCursorPos(point.x, point.y);
    SendInput(1, clicks, sizeof(INPUT));
    PumpUntil([&] { POINT at = {}; return GetCursorPos(&at) && at.x == point.x && at.y == point.y; }, 1000);
    PumpFor(100);
    SendInput(2, clicks + 1, sizeof(INPUT));
    PumpFor(200);  // the window may belong to this thread
}

}  // namespace

bool ActivateAsAUser(HWND window) {
    SetForegroundWindow(window);
    RECT frame = {};
    GetWindowRect(window, &frame);
    const POINT caption = {(frame.left + frame.right) / 2,
                           frame.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2};
    if (SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(caption.x, caption.y)) != HTCAPTION) return false;
    ClickAt(caption);
    if (GetForegroundWindow() != window) {
        // The middle of the client area's lowest row, if no control lies there.
        RECT client = {};
        GetClientRect(window, &client);
        POINT spot = {client.right / 2, client.bottom - 2};
        if (ChildWindowFromPoint(window, spot) != window) return false;
        ClientToScreen(window, &spot);
        ClickAt(spot);
    }
    return GetForegroundWindow() == window;
}

void PressKey(WORD virtualKey) {
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = virtualKey;
        key.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

std::wstring ListCellText(HWND list, int row, int column) {
    wchar_t text[4096] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 4096;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

int ListRowCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

HostWindow::HostWindow() : dialog((PrepareWindows(), kMainWindowTemplate), nullptr) {}

MessageBoxAnswerer::MessageBoxAnswerer(const wchar_t* caption, int answer) : caption_(caption), answer_(answer) {
    thread_ = std::thread([this] {
        while (!stop_) {
            HWND box = FindWindowW(L"#32770", caption_.c_str());
            if (box != nullptr && IsWindowVisible(box)) {
                seen_.found = true;
                wchar_t text[2048] = {};
                // Under load the box may be seen before its text is in place.
                for (int read = 0; read < 50 && GetDlgItemTextW(box, 0xFFFF, text, 2048) == 0; ++read) Sleep(20);
                seen_.text = text;
                seen_.owner = GetWindow(box, GW_OWNER);
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer_, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box, answer_)));
                return;
            }
            Sleep(20);
        }
    });
}

MessageBoxSeen MessageBoxAnswerer::Result() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
}

namespace {
MessageBoxRecorder* recorder = nullptr;
}

MessageBoxRecorder::MessageBoxRecorder(std::vector<int> answers) : answers_(std::move(answers)) { recorder = this; }

int WINAPI MessageBoxRecorder::Record(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
    recorder->boxes.push_back({caption, text, flags, owner});
    const size_t index = recorder->boxes.size() - 1;
    if (recorder->whileShown) recorder->whileShown(index);
    ++recorder->shown;
    return index < recorder->answers_.size() ? recorder->answers_[index] : IDOK;
}

std::vector<std::wstring> MessageBoxRecorder::Captions(HWND owner) const {
    std::vector<std::wstring> captions;
    for (const Box& box : boxes)
        captions.push_back(box.owner == owner ? box.caption : box.caption + L" (other owner)");
    return captions;
}

}  // namespace quenvar::testing
