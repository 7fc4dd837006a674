#include "service/EventPump.h"

#include <new>
#include <optional>
#include <vector>

#include "service/DriverChannel.h"
#include "service/Session.h"

namespace quenvar {
namespace {

void Deny(ServiceContext& service, HANDLE device, uint32_t eventId) {
    SendReply(service.platform, device, AccessReply{eventId, 0});
}

}  // namespace

void RouteEvent(const AccessEvent& event, HANDLE device, ServiceContext& service) {
    // An event whose process has gone is still answered: it goes to session 0.
    uint32_t sessionId = 0;
    if (!service.platform.sessionOfProcess(event.processId, &sessionId)) sessionId = 0;
    bool deniedAtOnce = false;
    bool queued = false;
    std::optional<AccessEvent> dropped;
    try {
        Session* session = service.sessions.FindOrCreate(sessionId);
        if (session != nullptr) {
            if (event.breachKind == kScreenAccess && session->AttachedWorker() == 0) {
                Deny(service, device, event.eventId);
                deniedAtOnce = true;
            }
            queued = session->Enqueue(event, deniedAtOnce, &dropped);
        }
    } catch (const std::bad_alloc&) {
        queued = false;
    }
    // The driver must never wait for an answer nobody can give.
    if (!queued && !deniedAtOnce) Deny(service, device, event.eventId);
    if (dropped) Deny(service, device, dropped->eventId);
}

void ChangeSessionLogon(uint32_t sessionId, bool loggedOn, ServiceContext& service) {
    // A session the service never saw has nothing queued: one made for a logoff
    // refuses the departing user's late events.
    Session* session = loggedOn ? service.sessions.Find(sessionId) : service.sessions.FindOrCreate(sessionId);
    if (session == nullptr) return;
    // Opened first: events emptied without their answers would hold the driver.
    UniquePlatformDevice device = OpenPlatformDevice(service.platform);
    std::vector<uint32_t> mustDeny;
    if (!device || !(loggedOn ? session->BeginLogon(&mustDeny) : session->EndLogon(&mustDeny))) return;
    for (uint32_t eventId : mustDeny) Deny(service, device.get().handle, eventId);
}

void PumpOneEvent(HANDLE device, ServiceContext& service, AccessEvent* buffer) {
    const ServicePlatform& platform = service.platform;
    DWORD returned = 0;
    platform.deviceControl(device, IOCTL_WAIT_EVENT, nullptr, 0, nullptr, 0, &returned);
    // A failed fetch leaves the previous event in the buffer; routing it again would
    // deliver that event twice, so it is skipped.
    if (!platform.deviceControl(device, IOCTL_GET_EVENT, nullptr, 0, buffer, sizeof(*buffer),
                                &returned))
        return;
    RouteEvent(*buffer, device, service);
}

void RunEventPump(HANDLE device, ServiceContext& service) {
    AccessEvent buffer = {};
    for (;;) {
        try {
            PumpOneEvent(device, service, &buffer);
        } catch (const std::bad_alloc&) {
            // RouteEvent answers what it could not queue; nothing else allocates.
        }
    }
}

}  // namespace quenvar
