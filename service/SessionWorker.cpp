#include "service/SessionWorker.h"

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

void ServeClient(HANDLE pipe, ServiceContext& service) {
    const ServicePlatform& platform = service.platform;
    ClientHello hello = 0;
    if (!ReadExactly(pipe, &hello, sizeof(hello))) {
        CloseHandle(pipe);
        return;
    }
    if (hello == EnableGuardCode || hello == DisableGuardCode) {
        CloseHandle(pipe);
        const bool enable = hello == EnableGuardCode;
        SendGuardRequest(platform, enable ? IOCTL_ENABLE_GUARD : IOCTL_DISABLE_GUARD);
        service.guardEnabled = enable ? 1 : 0;
        return;
    }
    const HelloStatus status = service.driverStatus;
    if (!WriteExactly(pipe, &status, sizeof(status))) {
        CloseHandle(pipe);
        return;
    }
    Session* session = service.sessions.FindOrCreate(platform.sessionOfProcess(hello));
    if (!session->Attach(GetCurrentThreadId())) {
        // Another client of this session is being served.
        CloseHandle(pipe);
        return;
    }
    HANDLE device = nullptr;  // stays null when the driver cannot be opened
    platform.openDevice(&device);
    ServeQueue(pipe, *session, device, platform);
    platform.closeDevice(device);
    session->Detach();
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
}

DWORD WINAPI SessionWorkerThread(LPVOID start) {
    const WorkerStart begin = *static_cast<WorkerStart*>(start);
    delete static_cast<WorkerStart*>(start);
    ServeClient(begin.pipe, *begin.service);
    return 0;
}

}  // namespace quenvar
