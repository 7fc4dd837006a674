// The service end of one pipe connection.
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"
#include "service/ServiceContext.h"

namespace quenvar {

// Serves one connected pipe instance to its end; owns and closes the instance.
void ServeClient(UniqueHandle pipe, ServiceContext& service);

// What the pipe server hands a new worker thread.
struct WorkerStart {
    UniqueHandle pipe;
    ServiceContext* service;
};

// Thread entry; the parameter is a WorkerStart allocated with new, which the
// thread takes over.
DWORD WINAPI SessionWorkerThread(LPVOID start);

}  // namespace quenvar
