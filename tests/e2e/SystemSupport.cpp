#include "SystemSupport.h"

#include <commctrl.h>

#include <cstdlib>
#include <fstream>

#include "E2eSupport.h"

namespace quenvar::e2e {
namespace {

struct FindData {
    DWORD processId;
    const wchar_t* caption;
    bool visibleOnly;
    HWND found;
};

// A lambda cannot be the callback: on i686 it would be cdecl, not stdcall.
BOOL CALLBACK FindCaptionedWindow(HWND window, LPARAM param) {
    auto* data = reinterpret_cast<FindData*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    const bool hidden = data->visibleOnly && !IsWindowVisible(window);
    if (pid != data->processId || hidden || std::wstring(text) != data->caption) return TRUE;
    data->found = window;
    return FALSE;
}

BOOL CALLBACK CollectVisible(HWND window, LPARAM param) {
    auto* data = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == data->first && IsWindowVisible(window)) data->second.push_back(window);
    return TRUE;
}

struct LogSearch {
    DWORD processId;
    HWND list;
};

BOOL CALLBACK FindLogList(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<LogSearch*>(param);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wstring(className) == L"SysListView32" && GetDlgCtrlID(window) == 1017) {
        HWND page = GetParent(window);
        wchar_t button[64] = {};
        GetDlgItemTextW(page, 1031, button, 64);
        if (std::wstring(button) == L"Clear Log") {
            search->list = window;
            return FALSE;
        }
    }
    return TRUE;
}

BOOL CALLBACK FindMainWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<LogSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->processId) return TRUE;
    EnumChildWindows(window, FindLogList, param);
    return search->list == nullptr;
}

std::wstring ReadCell(HANDLE process, HWND list, void* remote, int row, int column) {
    constexpr int kChars = 1024;
    LVITEMW item = {};
    item.iSubItem = column;
    item.cchTextMax = kChars;
    item.pszText = reinterpret_cast<LPWSTR>(static_cast<char*>(remote) + sizeof(LVITEMW));
    SIZE_T moved = 0;
    WriteProcessMemory(process, remote, &item, sizeof(item), &moved);
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
    wchar_t text[kChars] = {};
    ReadProcessMemory(process, item.pszText, text, sizeof(text) - sizeof(wchar_t), &moved);
    return text;
}

}  // namespace

bool InstallSystem(bool start, long driverStatus) {
    std::wstring arguments = L"\"" + BinFolder() + L"\"";
    if (start) arguments += L" --start";
    if (driverStatus >= 0) arguments += L" --driver-status " + std::to_wstring(driverStatus);
    PROCESS_INFORMATION install = StartProgram(BuiltFile(L"QuenvarPrefixInstall.exe"), arguments);
    const DWORD code = WaitForExit(install, 60000);
    EndProgram(install);
    return code == 0;
}

PROCESS_INFORMATION StartProgram(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring command = L"\"" + exe + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    return process;
}

std::string OutputOf(const std::wstring& exe, const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    HANDLE reader = nullptr, writer = nullptr;
    if (!CreatePipe(&reader, &writer, &inherited, 0)) return {};
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writer;
    PROCESS_INFORMATION process = {};
    CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writer);  // the child's copy is the only one left: reading ends when it ends
    std::string output;
    char buffer[4096];
    DWORD moved = 0;
    while (ReadFile(reader, buffer, sizeof(buffer), &moved, nullptr) && moved > 0) output.append(buffer, moved);
    CloseHandle(reader);
    WaitForExit(process, 10000);
    EndProgram(process);
    return output;
}

DWORD WaitForExit(const PROCESS_INFORMATION& process, DWORD timeoutMs) {
    if (process.hProcess == nullptr) return STILL_ACTIVE;
    WaitForSingleObject(process.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
}

void EndProgram(PROCESS_INFORMATION& process) {
    if (process.hProcess != nullptr) {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hProcess);
    }
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    process = {};
}

std::wstring MakeProgramFile(const std::wstring& path, int salt) {
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(BuiltFile(L"QuenvarDriverControl.exe").c_str(), path.c_str(), FALSE);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, &salt, sizeof(salt), &written, nullptr);
    CloseHandle(file);
    return path;
}

std::wstring KernelPath(const std::wstring& dosPath) {
    wchar_t target[1024] = {};
    QueryDosDeviceW(dosPath.substr(0, 2).c_str(), target, 1024);
    return target + dosPath.substr(2);
}

HWND FindDialogOf(DWORD processId, const wchar_t* caption, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        FindData data = {processId, caption, true, nullptr};
        EnumWindows(FindCaptionedWindow, reinterpret_cast<LPARAM>(&data));
        if (data.found != nullptr) return data.found;
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

HWND FindPrompt(DWORD processId, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        HWND dialog = FindDialogOf(processId, L"Quenvar Lockmere", 0);
        if (dialog != nullptr && ControlText(dialog, 6) == L"Allow Access") return dialog;
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

void ClickButton(HWND dialog, int buttonId) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, buttonId)));
}

std::wstring ControlText(HWND dialog, int controlId) {
    HWND control = GetDlgItem(dialog, controlId);
    if (control == nullptr) return L"";
    const LRESULT length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId) {
    std::pair<DWORD, std::vector<HWND>> data{processId, {}};
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&data));
    return data.second;
}

HWND MainWindowOf(DWORD processId) {
    FindData data = {processId, L"Quenvar Lockmere 1.0.7", false, nullptr};
    EnumWindows(FindCaptionedWindow, reinterpret_cast<LPARAM>(&data));
    return data.found;
}

std::vector<std::pair<std::wstring, std::wstring>> ReadLogRows(DWORD processId) {
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    LogSearch search = {processId, nullptr};
    EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
    if (search.list == nullptr) return rows;
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    void* remote = VirtualAllocEx(process, nullptr, 8192, MEM_COMMIT, PAGE_READWRITE);
    const int count = static_cast<int>(SendMessageW(search.list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row)
        rows.emplace_back(ReadCell(process, search.list, remote, row, 0), ReadCell(process, search.list, remote, row, 1));
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return rows;
}

uint32_t UserProgram::nextId_ = 1000;

uint32_t UserProgram::Inject(uint32_t kind, const std::wstring& program, const std::wstring& module) {
    driver_.ReadJournal();
    const std::wstring modulePath = KernelPath(module.empty() ? program : module);
    driver_.Inject(standin::MakeEvent(++nextId_, kind, GetCurrentProcessId(), KernelPath(program), modulePath, 0x44));
    return nextId_;
}

bool UserProgram::Answer(bool allow) {
    HWND prompt = FindPrompt(processId_, 15000);
    if (prompt != nullptr) ClickButton(prompt, allow ? 6 : 7);
    return prompt != nullptr;
}

int UserProgram::ReplyFor(uint32_t id) {
    const auto journal = driver_.WaitForJournal(1, 20000);
    if (journal.size() != 1 || journal[0].kind != JOURNAL_REPLY || standin::ReplyOf(journal[0]).eventId != id)
        return -1;
    return static_cast<int>(standin::ReplyOf(journal[0]).allow);
}

}  // namespace quenvar::e2e
