// QuenvarUI "/U": checks for administrative rights, switches off the
// service's registry guard, schedules the installed files for deletion at the
// next restart, removes both services and the installation's registry
// entries, and offers the restart only when all of that was removed; otherwise
// it switches the guard on again and names what is left.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quenvar {

// Opens the service manager of this machine with `access`; null without the
// rights for it. The uninstall opens it through serviceManagerOpener, which is
// OpenServiceManager unless a test stands in for a user without
// administrative rights.
using ServiceManagerOpener = SC_HANDLE (*)(DWORD access);
SC_HANDLE OpenServiceManager(DWORD access);
extern ServiceManagerOpener serviceManagerOpener;

// The uninstall mode, after the common start-up; returns the exit code (0).
int RunUninstall();

// The files and folders the uninstall schedules for deletion, in order: eight,
// less those whose folder is empty (it could not be found).
std::vector<std::wstring> UninstallDeletions(const wchar_t* windowsFolder, const wchar_t* commonProgramsFolder,
                                             const wchar_t* systemFolder);

// The message naming what could not be removed, one part a line.
std::wstring UninstallFailureText(const std::vector<std::wstring>& remaining);

}  // namespace quenvar
