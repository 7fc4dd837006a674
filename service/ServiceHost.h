// The service process: its entry, ServiceMain and the control handler.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "service/ServicePlatform.h"

namespace quenvar {

// Hands the process to the Service Control Manager; ends the process with 0 when
// it was not started by it.
int RunServiceProcess();

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);

// The service can be neither stopped nor paused. A logoff or a logon (a session
// change with WTS_SESSION_LOGOFF or WTS_SESSION_LOGON) ends that session's
// queued events on a thread of the pool, so that the Service Control Manager
// never waits for a lock; context is the ServiceContext.
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

// Id of the process that started this one (the Service Control Manager),
// 0xFFFFFFFF when it cannot be found.
uint32_t FindParentProcessId();

// Registers with the driver: IOCTL_REGISTER_SERVICE carrying a handle of the
// process parentProcessId (null when it cannot be opened) in the output-buffer
// pointer with size 0. The handle is closed after the call; returns the driver
// status, the call's returned byte count (0 when it failed).
uint32_t RegisterWithDriver(HANDLE device, const ServicePlatform& platform, uint32_t parentProcessId);

// The text shown when the driver's device cannot be opened.
std::wstring DriverMissingMessage(DWORD errorCode);

}  // namespace quenvar
