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
