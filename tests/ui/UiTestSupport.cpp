#include "ui/UiTestSupport.h"

#include <commctrl.h>

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

MessageBoxAnswerer::MessageBoxAnswerer(const wchar_t* caption, int answer, DWORD limitMs)
    : caption_(caption), answer_(answer), limitMs_(limitMs) {
    thread_ = std::thread([this] {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < limitMs_) {
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

MessageBoxAnswerer::~MessageBoxAnswerer() {
    if (thread_.joinable()) thread_.join();
}

MessageBoxSeen MessageBoxAnswerer::Result() {
    if (thread_.joinable()) thread_.join();
    return seen_;
}

}  // namespace quenvar::testing
