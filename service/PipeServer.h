// Creates the instances of the service's pipe and hands each connection to a worker.
#pragma once

#include <windows.h>

#include "service/ServiceContext.h"

namespace quenvar {

// One instance with the service's modes and buffers; INVALID_HANDLE_VALUE on failure.
HANDLE CreateServicePipeInstance(const wchar_t* pipeName, SECURITY_ATTRIBUTES* security);

// Serves pipeName until an instance cannot be created (never returns otherwise).
void RunPipeServer(const wchar_t* pipeName, ServiceContext& service);

// Thread entry for the running service: "\\.\pipe\QuenvarUIPipe".
DWORD WINAPI PipeServerThread(LPVOID unused);

}  // namespace quenvar
