#include "service/PipeServer.h"

#include <memory>
#include <utility>

#include "common/PipeProtocol.h"
#include "service/PipeSecurity.h"
#include "service/SessionWorker.h"

namespace quenvar {
namespace {

constexpr DWORD kOpenMode = PIPE_ACCESS_DUPLEX | WRITE_DAC;            // 0x40003
constexpr DWORD kPipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT;  // 4
constexpr DWORD kBufferSize = 1024;
constexpr DWORD kDefaultTimeoutMs = 60000;
constexpr SIZE_T kThreadStack = 32767;

}  // namespace

HANDLE CreateServicePipeInstance(const wchar_t* pipeName, SECURITY_ATTRIBUTES* security) {
    return CreateNamedPipeW(pipeName, kOpenMode, kPipeMode, PIPE_UNLIMITED_INSTANCES, kBufferSize,
                            kBufferSize, kDefaultTimeoutMs, security);
}

void RunPipeServer(const wchar_t* pipeName, ServiceContext& service) {
    OwnedAcl acl;
    if (!BuildPipeAcl(&acl)) return;  // no pipe server for the life of the service
    OwnedSecurityDescriptor descriptor;
    SetSecurityDescriptorDacl(descriptor.get(), TRUE, acl.get(), FALSE);
    SECURITY_ATTRIBUTES security = {sizeof(security), descriptor.get(), FALSE};

    for (;;) {
        UniqueHandle instance(CreateServicePipeInstance(pipeName, &security));
        if (!instance) return;
        // ERROR_PIPE_CONNECTED: the client came between create and connect.
        if (!ConnectNamedPipe(instance.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) continue;
        auto start = std::make_unique<WorkerStart>(WorkerStart{std::move(instance), &service});
        UniqueHandle thread(CreateThread(nullptr, kThreadStack, SessionWorkerThread, start.get(), 0, nullptr));
        if (thread) start.release();  // the worker owns it now; its thread handle is not kept
    }
}

DWORD WINAPI PipeServerThread(LPVOID) {
    RunPipeServer(kPipeName, TheService());
    return 0;
}

}  // namespace quenvar
