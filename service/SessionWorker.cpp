#include "service/SessionWorker.h"

#include <memory>
#include <utility>

#include "common/DriverInterface.h"
#include "common/PipeProtocol.h"
#include "service/DriverChannel.h"
#include "service/Session.h"

namespace quenvar {
namespace {

constexpr DWORD kIdleProbeMs = 250;

bool ReadExactly(HANDLE pipe, void* buffer, DWORD size) {
    DWORD moved = 0;
    return ReadFile(pipe, buffer, size, &moved, nullptr) && moved == size;
}

bool WriteExactly(HANDLE pipe, const void* buffer, DWORD size) {
    DWORD moved = 0;
    return WriteFile(pipe, buffer, size, &moved, nullptr) && moved == size;
}

// A connected instance whose client has closed its end answers ERROR_NO_DATA.
bool ClientHasLeft(HANDLE pipe) {
    return !ConnectNamedPipe(pipe, nullptr) && GetLastError() == ERROR_NO_DATA;
}

// Sends queued events one at a time until the client fails or leaves.
void ServeQueue(HANDLE pipe, Session& session, HANDLE device, const ServicePlatform& platform) {
    AccessEvent event;
    AccessReply reply;
    for (;;) {
        session.WaitForEvents(kIdleProbeMs);
        if (!session.PeekFront(&event)) {
            if (ClientHasLeft(pipe)) return;
            continue;
        }
        if (!WriteExactly(pipe, &event, sizeof(event))) return;
        // No time-out: the user may take as long as they like over a prompt.
        if (!ReadExactly(pipe, &reply, sizeof(reply))) return;
        if (reply.eventId != event.eventId) return;
        session.PopFront();
        SendReply(platform, device, reply);  // the client's bytes, unchanged
    }
}

}  // namespace

void ServeClient(UniqueHandle pipe, ServiceContext& service) {
    const ServicePlatform& platform = service.platform;
    ClientHello hello = 0;
    if (!ReadExactly(pipe.get(), &hello, sizeof(hello))) return;
    if (hello == EnableGuardCode || hello == DisableGuardCode) {
        pipe.reset();  // no answer to a command
        const bool enable = hello == EnableGuardCode;
        SendGuardRequest(platform, enable ? IOCTL_ENABLE_GUARD : IOCTL_DISABLE_GUARD);
        service.guardEnabled = enable ? 1 : 0;
        return;
    }
    const HelloStatus status = service.driverStatus;
    if (!WriteExactly(pipe.get(), &status, sizeof(status))) return;
    Session* session = service.sessions.FindOrCreate(platform.sessionOfProcess(hello));
    // Another client of this session is being served: closed without a disconnect.
    if (session == nullptr || !session->Attach(GetCurrentThreadId())) return;
    {
        UniquePlatformDevice device = OpenPlatformDevice(platform);
        ServeQueue(pipe.get(), *session, device.get().handle, platform);
    }
    session->Detach();
    DisconnectNamedPipe(pipe.get());
    pipe.reset();
}

DWORD WINAPI SessionWorkerThread(LPVOID start) {
    std::unique_ptr<WorkerStart> begin(static_cast<WorkerStart*>(start));
    ServeClient(std::move(begin->pipe), *begin->service);
    return 0;
}

}  // namespace quenvar
