#include "service/PipeServer.h"

#include <memory>
#include <new>
#include <utility>

#include "common/PipeProtocol.h"
#include "service/PipeChannel.h"
#include "service/PipeSecurity.h"
#include "service/SessionWorker.h"

namespace quenvar {
namespace {

constexpr DWORD kOpenMode = PIPE_ACCESS_DUPLEX | WRITE_DAC | FILE_FLAG_OVERLAPPED;  // 0x40003, overlapped
constexpr DWORD kPipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT;    // 4
constexpr DWORD kBufferSize = 1024;
constexpr DWORD kDefaultTimeoutMs = 60000;
// Reserved, not committed: address space, not the bounds of service.connections,
// must never be what limits the workers (a 32-bit service has 2 GiB of it).
constexpr SIZE_T kThreadStack = 32767;

// Creates an instance, pausing between failed attempts until one is made.
UniqueHandle CreateUntilMade(const wchar_t* pipeName, ServiceContext& service, SECURITY_ATTRIBUTES* security,
                             bool firstInstance) {
    for (;;) {
        UniqueHandle instance(CreateServicePipeInstance(service.platform, pipeName, security, firstInstance));
        if (instance) return instance;
        Sleep(service.limits.createRetryMs);
    }
}

// Hands a connected instance to a new worker thread, if the connection gate
// admits it; otherwise, or on failure, only that connection is closed.
void StartWorker(UniqueHandle connected, ServiceContext& service) {
    UniqueHandle evict(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!evict) return;
    std::unique_ptr<WorkerStart> start(
        new (std::nothrow) WorkerStart{std::move(connected), &service, std::move(evict), 0});
    if (!start || !service.connections.Admit(start->evict.get(), &start->ticket)) return;
    UniqueHandle thread(CreateThread(nullptr, kThreadStack, SessionWorkerThread, start.get(),
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (thread) {
        start.release();  // the worker owns it now; the gate keeps its handle
        service.connections.Started(std::move(thread));
        return;
    }
    service.connections.Spoke(start->ticket);
    service.connections.Left();
}

// What every listener of one pipe name shares; lives as long as the server.
struct PipeListening {
    const wchar_t* pipeName;
    ServiceContext* service;
    SECURITY_ATTRIBUTES* security;
};

[[noreturn]] void Listen(UniqueHandle listening, const PipeListening& shared) {
    for (;;) {
        try {
            const bool connected = awaitPipeClient(listening.get());
            // The next instance exists before this one is let go, so the name
            // never falls free for another process to take.
            UniqueHandle next = CreateUntilMade(shared.pipeName, *shared.service, shared.security, false);
            UniqueHandle current = std::exchange(listening, std::move(next));
            if (connected) StartWorker(std::move(current), *shared.service);
        } catch (const std::bad_alloc&) {
            Sleep(shared.service->limits.createRetryMs);
        }
    }
}

DWORD WINAPI ListenerThread(LPVOID shared) {
    const auto& listening = *static_cast<const PipeListening*>(shared);
    Listen(CreateUntilMade(listening.pipeName, *listening.service, listening.security, false), listening);
}

bool AwaitClientOn(HANDLE listening) { return PipeChannel(listening).AwaitClient(); }

}  // namespace

bool (*awaitPipeClient)(HANDLE listening) = AwaitClientOn;

HANDLE CreateServicePipeInstance(const ServicePlatform& platform, const wchar_t* pipeName,
                                 SECURITY_ATTRIBUTES* security, bool firstInstance) {
    const DWORD openMode = kOpenMode | (firstInstance ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    HANDLE instance = platform.createNamedPipe(pipeName, openMode, kPipeMode, PIPE_UNLIMITED_INSTANCES, kBufferSize,
                                               kBufferSize, kDefaultTimeoutMs, security);
    if (instance == INVALID_HANDLE_VALUE && firstInstance && GetLastError() == ERROR_INVALID_PARAMETER)
        instance = platform.createNamedPipe(pipeName, kOpenMode, kPipeMode, PIPE_UNLIMITED_INSTANCES, kBufferSize,
                                            kBufferSize, kDefaultTimeoutMs, security);
    return instance;
}

void RunPipeServer(const wchar_t* pipeName, ServiceContext& service) {
    PipeSecurity security;
    // Without its security the pipe is not offered: a pipe open to anyone with
    // the default descriptor is worse than none. Built again after a pause.
    while (!security.ready()) {
        Sleep(service.limits.createRetryMs);
        security.Build();
    }

    // Only an instance created first, by this process, proves the name is ours.
    UniqueHandle first = CreateUntilMade(pipeName, service, security.attributes(), true);
    const PipeListening shared = {pipeName, &service, security.attributes()};
    // A listener that cannot be started leaves the others serving.
    for (int extra = 1; extra < service.limits.listeners; ++extra) {
        const UniqueHandle listener(CreateThread(nullptr, kThreadStack, ListenerThread,
                                                 const_cast<PipeListening*>(&shared),
                                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    }
    Listen(std::move(first), shared);
}

DWORD WINAPI PipeServerThread(LPVOID) { RunPipeServer(kPipeName, TheService()); }

}  // namespace quenvar
