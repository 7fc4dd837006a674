// The service end of one pipe connection.
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"
#include "service/ServiceContext.h"

namespace quenvar {

// Serves one connected pipe instance to its end; owns and closes the instance.
// The hello is given up on when `evict` is set; the connection's ticket of
// service.connections is settled once the hello is read or given up on.
void ServeClient(UniqueHandle pipe, ServiceContext& service, HANDLE evict = nullptr, uint64_t ticket = 0);

// What the pipe server hands a new worker thread.
struct WorkerStart {
    UniqueHandle pipe;
    ServiceContext* service;
    UniqueHandle evict;   // set by service.connections to close a silent connection
    uint64_t ticket = 0;  // the connection's admission
};

// Thread entry; the parameter is a WorkerStart allocated with new, which the
// thread takes over. The worker leaves service.connections when it ends.
DWORD WINAPI SessionWorkerThread(LPVOID start);

}  // namespace quenvar
