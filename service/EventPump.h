// Takes each access event from the driver and routes it to its session's queue.
#pragma once

#include <windows.h>

#include "common/DriverInterface.h"
#include "service/ServiceContext.h"

namespace quenvar {

// Queues the event for its session; a screen access of a session that no client
// serves is denied to the driver at once (and still queued for a later client).
// An event that cannot be queued, and the oldest event that a full queue drops,
// are denied unless they were already.
void RouteEvent(const AccessEvent& event, HANDLE device, ServiceContext& service);

// The user of the session has logged off (loggedOn false) or a user has logged
// on to it (true): every queued event of the session that the driver has no
// answer for yet is denied, once, the queue is emptied and the attached
// client's connection is ended. After a logoff the session's events are denied
// at once, unqueued, until the next logon or client. Nothing changes when the
// driver cannot be opened for the answers.
void ChangeSessionLogon(uint32_t sessionId, bool loggedOn, ServiceContext& service);

// One pass: wait for the driver, fetch the oldest event, route it.
void PumpOneEvent(HANDLE device, ServiceContext& service, AccessEvent* buffer);

// The service main thread's endless loop.
[[noreturn]] void RunEventPump(HANDLE device, ServiceContext& service);

}  // namespace quenvar
