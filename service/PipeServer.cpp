#include "service/PipeServer.h"

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
        HANDLE instance = CreateServicePipeInstance(pipeName, &security);
        if (instance == INVALID_HANDLE_VALUE) return;
        // ERROR_PIPE_CONNECTED: the client came between create and connect.
        if (ConnectNamedPipe(instance, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            auto* start = new WorkerStart{instance, &service};
            HANDLE thread = CreateThread(nullptr, kThreadStack, SessionWorkerThread, start, 0, nullptr);
            if (thread != nullptr) {
                CloseHandle(thread);
            } else {
                delete start;
                CloseHandle(instance);
            }
        } else {
            CloseHandle(instance);
        }
    }
}

DWORD WINAPI PipeServerThread(LPVOID) {
    RunPipeServer(kPipeName, TheService());
    return 0;
}

}  // namespace quenvar
