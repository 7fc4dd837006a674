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

// Hands a connected instance to a new worker thread; on failure only that
// connection is closed.
void StartWorker(UniqueHandle connected, ServiceContext& service) {
    std::unique_ptr<WorkerStart> start(new (std::nothrow) WorkerStart{std::move(connected), &service});
    if (!start) return;
    UniqueHandle thread(CreateThread(nullptr, kThreadStack, SessionWorkerThread, start.get(), 0, nullptr));
    if (thread) start.release();  // the worker owns it now; its thread handle is not kept
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
    UniqueHandle listening = CreateUntilMade(pipeName, service, security.attributes(), true);
    for (;;) {
        try {
            const bool connected = awaitPipeClient(listening.get());
            // The next instance exists before this one is let go, so the name
            // never falls free for another process to take.
            UniqueHandle next = CreateUntilMade(pipeName, service, security.attributes(), false);
            UniqueHandle current = std::exchange(listening, std::move(next));
            if (connected) StartWorker(std::move(current), service);
        } catch (const std::bad_alloc&) {
            Sleep(service.limits.createRetryMs);
        }
    }
}

DWORD WINAPI PipeServerThread(LPVOID) { RunPipeServer(kPipeName, TheService()); }

}  // namespace quenvar
