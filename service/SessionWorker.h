// The service end of one pipe connection.
#pragma once

#include <windows.h>

#include "service/ServiceContext.h"

namespace quenvar {

// Serves one connected pipe instance to its end; owns and closes the handle.
void ServeClient(HANDLE pipe, ServiceContext& service);

// What the pipe server hands a new worker thread.
struct WorkerStart {
    HANDLE pipe;
    ServiceContext* service;
};

// Thread entry; the parameter is a WorkerStart allocated with new, freed here.
DWORD WINAPI SessionWorkerThread(LPVOID start);

}  // namespace quenvar
