// Drives a running QuenvarUI from outside, as a user would, for the end-to-end
// demonstration: answers its prompts, opens its window from the tray, switches
// tabs and prints its log.
//   QuenvarUiDriver answer allow|deny [TIMEOUT_MS]   answer the next prompt
//   QuenvarUiDriver show                             tray double-click
//   QuenvarUiDriver tab 0|1                          select a tab
//   QuenvarUiDriver log                              print the log rows
//   QuenvarUiDriver pid NAME                         print the id of a running program
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "SystemSupport.h"
#include "support/Utf8Print.h"

using namespace quenvar::e2e;
using quenvar::standin::Print;
using quenvar::standin::PrintError;

namespace {

DWORD FindProcess(const wchar_t* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}


}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        PrintError(L"usage: QuenvarUiDriver answer allow|deny [TIMEOUT_MS] | show | tab N | log | pid NAME\n");
        return 2;
    }
    const std::wstring command = argv[1];
    if (command == L"pid" && argc >= 3) {
        const DWORD pid = FindProcess(argv[2]);
        if (pid == 0) return 1;
        Print(L"%lu\n", pid);
        return 0;
    }
    const DWORD ui = FindProcess(L"QuenvarUI.exe");
    if (ui == 0) {
        PrintError(L"QuenvarUI is not running\n");
        return 1;
    }
    if (command == L"answer" && argc >= 3) {
        const DWORD timeout = argc >= 4 ? wcstoul(argv[3], nullptr, 10) : 10000;
        HWND prompt = FindPrompt(ui, timeout);
        if (prompt == nullptr) {
            PrintError(L"no prompt\n");
            return 1;
        }
        const bool allow = std::wstring(argv[2]) == L"allow";
        std::wstring text = ControlText(prompt, 1008);
        const size_t name = text.find(L"Program Name: ");
        Print(L"prompt: %ls -> %ls\n",
                     name == std::wstring::npos ? L"?" : text.substr(name, text.find(L'\r', name) - name).c_str(),
                     allow ? L"Allow Access" : L"Deny Access");
        ClickButton(prompt, allow ? 6 : 7);
        return 0;
    }
    HWND main = MainWindowOf(ui);
    if (main == nullptr) {
        PrintError(L"no main window\n");
        return 1;
    }
    if (command == L"show") {
        PostMessageW(main, WM_USER, 0xDEAFDEAD, WM_LBUTTONDBLCLK);
        return 0;
    }
    if (command == L"tab" && argc >= 3) {
        // Click the tab as the mouse would; its rectangle is asked in the UI's memory.
        HWND tab = GetDlgItem(main, 1029);
        const int index = static_cast<int>(wcstol(argv[2], nullptr, 10));
        HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ, FALSE, ui);
        void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
        RECT item = {};
        SIZE_T moved = 0;
        const bool ok = SendMessageW(tab, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote)) &&
                        ReadProcessMemory(process, remote, &item, sizeof(item), &moved);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        CloseHandle(process);
        if (!ok) return 1;
        const LPARAM point = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        PostMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, point);
        PostMessageW(tab, WM_LBUTTONUP, 0, point);
        return 0;
    }
    if (command == L"log") {
        for (const auto& row : ReadLogRows(ui)) Print(L"%ls  %ls\n", row.first.c_str(), row.second.c_str());
        return 0;
    }
    return 2;
}
