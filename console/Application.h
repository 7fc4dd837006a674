// The entry of QuenvarUI: the common start-up, then either the console (tray
// window, log, service link) for the logon, or the uninstall for "/U".
#pragma once

#include <windows.h>

namespace quenvar {

// True only for the command-line tail "/U" exactly.
bool IsUninstallCommand(const char* commandTail);

// The whole program: both modes; returns the exit code (always 0).
int RunQuenvarUI(HINSTANCE instance, const char* commandTail);

// Logged for the first quit message of the run that another program sent.
constexpr const wchar_t* kForeignQuitLine = L"Ignored a request from another program to close Quenvar Lockmere.";

// Writes the two announcement lines to the log and ends.
DWORD WINAPI AnnouncementThread(LPVOID unused);

}  // namespace quenvar
