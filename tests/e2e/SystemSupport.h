// The whole system installed in this test's Wine prefix: the user-interface
// program runs as its own process; the test drives it through the stand-in
// driver and finds and answers its windows like a user would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/StandInDriverClient.h"

namespace quenvar::e2e {

// Runs QuenvarPrefixInstall; `start` starts driver and service, and a driver
// status other than 0x7FFE7 is set in the stand-in before the service starts.
bool InstallSystem(bool start, long driverStatus = -1);

// Runs a built program (from QUENVAR_BIN or the Windows folder) and returns its
// process; the caller closes the handles.
PROCESS_INFORMATION StartProgram(const std::wstring& exe, const std::wstring& arguments);
// What a built program wrote to its standard output, as bytes, once it ended.
std::string OutputOf(const std::wstring& exe, const std::wstring& arguments);
// Exit code, or STILL_ACTIVE when it did not end in time.
DWORD WaitForExit(const PROCESS_INFORMATION& process, DWORD timeoutMs);
void EndProgram(PROCESS_INFORMATION& process);

// A copy of a small program with its own contents (so its own fingerprint).
std::wstring MakeProgramFile(const std::wstring& path, int salt);

// The kernel form of a drive-letter path (\Device\...\rest), as the driver reports it.
std::wstring KernelPath(const std::wstring& dosPath);

// A visible top-level dialog of the process with this caption, or null.
HWND FindDialogOf(DWORD processId, const wchar_t* caption, DWORD timeoutMs);
// The access prompt of the process (caption "Quenvar Lockmere" with an
// "Allow Access" button).
HWND FindPrompt(DWORD processId, DWORD timeoutMs);
// Clicks a dialog button by id, as a user would.
void ClickButton(HWND dialog, int buttonId);
std::wstring ControlText(HWND dialog, int controlId);
// Top-level windows of the process that are visible.
std::vector<HWND> VisibleWindowsOf(DWORD processId);

// The main window ("Quenvar Lockmere 1.0.7") of the process, shown or not.
HWND MainWindowOf(DWORD processId);

// The rows (time, message) of the log page of the process's main window.
std::vector<std::pair<std::wstring, std::wstring>> ReadLogRows(DWORD processId);

// The installed system driven as the driver and a user would: events of this
// test program's process, answered through the prompts of a QuenvarUI process.
class UserProgram {
public:
    explicit UserProgram(DWORD processId) : processId_(processId) {}
    bool DriverReachable() const { return driver_.ok(); }
    // Injects an event and returns its id; the journal is emptied first.
    uint32_t Inject(uint32_t kind, const std::wstring& program, const std::wstring& module = L"");
    // Answers the prompt; false when none came.
    bool Answer(bool allow);
    // Called once the event's reply has come: no prompt held it.
    bool NoPrompt() const { return FindPrompt(processId_, 0) == nullptr; }
    // The answer in the one reply that reached the driver; -1 for none or another.
    int ReplyFor(uint32_t id);

private:
    DWORD processId_;
    standin::StandInDriverClient driver_;
    static uint32_t nextId_;
};

}  // namespace quenvar::e2e
