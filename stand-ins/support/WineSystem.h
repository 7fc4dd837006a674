// Installing and inspecting the system's services in a (Wine) Windows for tests.
#pragma once

#include <windows.h>

#include <string>

namespace quenvar::standin {

std::wstring SystemFolder();   // C:\windows\system32
std::wstring WindowsFolder();  // C:\windows

// Converts a Unix path (as CMake knows it) to the Wine drive path Z:\...; a path
// that already has a drive letter is returned unchanged.
std::wstring WinePath(const std::string& path);

// OpenSCManagerW that waits (up to 20 s) for a service manager still starting.
SC_HANDLE OpenServiceManager(DWORD access);

// Copies the stand-in driver to System32\Drivers\Quenvr.sys, creates the kernel
// driver service "Quenvar" and starts it.
bool InstallStandInDriver(const std::wstring& driverFile);

// Copies the service program to System32\QuenvarSvc.exe and creates "QuenvarSvc"
// (own process, LocalSystem). Does not start it.
bool InstallProtectionService(const std::wstring& serviceExe);

bool StartNamedService(const wchar_t* name);
// State of a service (SERVICE_RUNNING ...), 0 when it cannot be queried.
DWORD ServiceState(const wchar_t* name);
DWORD ServiceProcessId(const wchar_t* name);
// Sends a control; returns the Win32 error of ControlService (0 on success).
DWORD SendServiceControl(const wchar_t* name, DWORD control);
// Waits until the named pipe exists.
bool WaitForPipe(const wchar_t* pipeName, DWORD timeoutMs);

}  // namespace quenvar::standin
