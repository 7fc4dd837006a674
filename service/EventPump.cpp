#include "service/EventPump.h"

#include "service/DriverChannel.h"
#include "service/Session.h"

namespace quenvar {

void RouteEvent(const AccessEvent& event, HANDLE device, ServiceContext& service) {
    const uint32_t sessionId = service.platform.sessionOfProcess(event.processId);
    Session* session = service.sessions.FindOrCreate(sessionId);
    if (session == nullptr) {
        // The table's lock is gone: nobody could ever answer this event.
        SendReply(service.platform, device, AccessReply{event.eventId, 0});
        return;
    }
    if (event.breachKind == kScreenAccess && session->AttachedWorker() == 0)
        SendReply(service.platform, device, AccessReply{event.eventId, 0});
    session->Enqueue(event);
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
    for (;;) PumpOneEvent(device, service, &buffer);
}

}  // namespace quenvar
