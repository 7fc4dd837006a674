// Creates the instances of the service's pipe and hands each connection to a worker.
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"
#include "service/ServiceContext.h"

namespace quenvar {

// One instance with the service's modes and buffers, for overlapped I/O.
// firstInstance asks for FILE_FLAG_FIRST_PIPE_INSTANCE: the call then fails
// when another process already owns the name. Systems before Windows XP SP2 do
// not know the flag and answer ERROR_INVALID_PARAMETER; the instance is then
// created without it. INVALID_HANDLE_VALUE on failure.
HANDLE CreateServicePipeInstance(const ServicePlatform& platform, const wchar_t* pipeName,
                                 SECURITY_ATTRIBUTES* security, bool firstInstance);

// Serves pipeName for ever. The first instance must be the service's own: while
// the name is taken by another process nothing is served, and the creation is
// tried again after a pause. From then on the server always holds a listening
// instance, so the name never falls free; a failed creation is retried after a
// pause, and a worker that cannot be started costs only its own connection.
[[noreturn]] void RunPipeServer(const wchar_t* pipeName, ServiceContext& service);

// Waits on a listening instance until a client is connected to it (PipeChannel's
// AwaitClient). A test replaces it to connect a client before the wait begins.
extern bool (*awaitPipeClient)(HANDLE listening);

// Thread entry for the running service: "\\.\pipe\QuenvarUIPipe".
DWORD WINAPI PipeServerThread(LPVOID unused);

}  // namespace quenvar
