#include "service/SessionWorker.h"

#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "common/DriverInterface.h"
#include "common/PipeProtocol.h"
#include "service/DriverChannel.h"
#include "service/HelloCheck.h"
#include "service/PipeChannel.h"
#include "service/Session.h"

namespace quenvar {
namespace {

constexpr DWORD kIdleProbeMs = 250;

// Ends this worker's attachment however the serving ends.
class Attachment {
public:
    Attachment(Session& session, uint32_t threadId) : session_(session), threadId_(threadId) {}
    ~Attachment() { session_.Detach(threadId_); }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

private:
    Session& session_;
    uint32_t threadId_;
};

// Sends queued events one at a time until the client fails or leaves.
void ServeQueue(PipeChannel& pipe, Session& session, HANDLE device, const ServiceContext& service) {
    AccessEvent event;
    AccessReply reply;
    for (;;) {
        // The departed user's program gets nothing more, not even the next logon's events.
        if (WaitForSingleObject(session.logonEndedEvent(), 0) == WAIT_OBJECT_0) return;
        // A busy queue is served without waiting on its event first; an idle
        // one is waited on, then probed for a client that has left.
        if (!session.PeekFront(&event)) {
            session.WaitForEvents(kIdleProbeMs);
            if (!session.PeekFront(&event)) {
                if (pipe.ClientHasLeft()) return;
                continue;
            }
        }
        // A client that does not take its event in time ends the connection; the
        // event stays first in the queue.
        if (!pipe.Write(&event, sizeof(event), service.limits.eventTakenMs)) return;
        // No time-out: the user may take as long as they like over a prompt.
        if (!pipe.Read(&reply, sizeof(reply), INFINITE, session.logonEndedEvent())) return;
        if (reply.eventId != event.eventId) return;
        // A dropped event has its answer already: the driver gets one per event.
        if (session.PopFront(event.eventId)) SendReply(service.platform, device, reply);  // the client's bytes
    }
}

void RunGuardCommand(ClientHello hello, ServiceContext& service) {
    const bool enable = hello == EnableGuardCode;
    SendGuardRequest(service.platform, enable ? IOCTL_ENABLE_GUARD : IOCTL_DISABLE_GUARD);
    service.guardEnabled = enable ? 1 : 0;
}

}  // namespace

void ServeClient(UniqueHandle pipe, ServiceContext& service, HANDLE evict, uint64_t ticket) {
    const ServicePlatform& platform = service.platform;
    PipeChannel channel(pipe.get());
    ClientHello hello = 0;
    // A connection that has not said who it is in time, or that the gate
    // evicts as the oldest silent one, is closed.
    const bool spoke = channel.Read(&hello, sizeof(hello), service.limits.helloMs, evict);
    service.connections.Spoke(ticket);
    if (!spoke) return;
    std::optional<ClientIdentity> client;
    ClientIdentity identity;
    if (platform.identifyClient(pipe.get(), &identity)) client = identity;

    if (IsGuardCommand(hello)) {
        // No answer to a command, carried out or not; the connection ends once
        // it has been, so that an uninstall deletes nothing before the guard is off.
        if (JudgeHello(hello, client, std::nullopt) == HelloVerdict::kRunCommand) RunGuardCommand(hello, service);
        return;
    }
    std::optional<ClaimedProcess> claimed;
    uint32_t sessionId = 0;
    if (platform.sessionOfProcess(hello, &sessionId)) {
        claimed.emplace();
        claimed->sessionId = sessionId;
        // Unreadable, each stays empty: such a client is refused.
        if (!platform.userOfProcess(hello, &claimed->user)) claimed->user.clear();
        if (!platform.userOfSession(sessionId, &claimed->sessionUser)) claimed->sessionUser.clear();
    }
    const HelloStatus status = service.driverStatus;
    if (!channel.Write(&status, sizeof(status), service.limits.eventTakenMs)) return;
    // A client that is not the session's user with a process of its own is
    // closed like a second client of a session: after its status, without a
    // disconnect.
    if (JudgeHello(hello, client, claimed) != HelloVerdict::kServe) return;
    Session* session = service.sessions.FindOrCreate(claimed->sessionId);
    const uint32_t self = GetCurrentThreadId();
    if (session == nullptr || !session->Attach(self)) return;  // another client is served
    {
        Attachment attached(*session, self);
        UniquePlatformDevice device = OpenPlatformDevice(platform);
        ServeQueue(channel, *session, device.get().handle, service);
    }  // the device is closed, then the worker detaches
    DisconnectNamedPipe(pipe.get());
    pipe.reset();
}

DWORD WINAPI SessionWorkerThread(LPVOID start) {
    std::unique_ptr<WorkerStart> begin(static_cast<WorkerStart*>(start));
    try {
        ServeClient(std::move(begin->pipe), *begin->service, begin->evict.get(), begin->ticket);
    } catch (const std::bad_alloc&) {
        // The connection is closed by its holder; the service goes on.
    }
    begin->service->connections.Sweep();
    return 0;
}

}  // namespace quenvar
