// The entry of QuenvarUI: the common start-up, then either the console (tray
// window, log, service link) for the logon, or the uninstall for "/U".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quenvar {

// True only for the command-line tail "/U" exactly.
bool IsUninstallCommand(const char* commandTail);

// The whole program: both modes; returns the exit code (always 0).
int RunQuenvarUI(HINSTANCE instance, const char* commandTail);

// The uninstall mode, after the common start-up.
int RunUninstall();

// The eight files and folders the uninstall schedules for deletion, in order.
std::vector<std::wstring> UninstallDeletions(const wchar_t* windowsFolder, const wchar_t* commonProgramsFolder,
                                             const wchar_t* systemFolder);

// Writes the two announcement lines to the log and ends.
DWORD WINAPI AnnouncementThread(LPVOID unused);

}  // namespace quenvar
