// The service process: its entry, ServiceMain and the control handler.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace quenvar {

// Hands the process to the Service Control Manager; ends the process with 0 when
// it was not started by it.
int RunServiceProcess();

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);

// Refuses every control: the service can be neither stopped nor paused.
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

// Id of the process that started this one (the Service Control Manager),
// 0xFFFFFFFF when it cannot be found.
uint32_t FindParentProcessId();

// The text shown when the driver's device cannot be opened.
std::wstring DriverMissingMessage(DWORD errorCode);

}  // namespace quenvar
