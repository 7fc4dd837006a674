// One Terminal-Services session's queue of unanswered access events, and the
// record of which worker thread serves it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <vector>

#include "common/DriverInterface.h"
#include "common/UniqueResource.h"

namespace quenvar {

class SessionTable;

class Session {
public:
    // About 4.5 MB of events: a session whose program never answers cannot
    // exhaust the service.
    static constexpr size_t kQueueBound = 4096;

    // Enters itself in the table under its id, replacing any entry of that id.
    Session(SessionTable& table, uint32_t sessionId, size_t queueBound = kQueueBound);
    virtual ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    uint32_t id() const { return sessionId; }
    // False when its lock or its event could not be created; such a session is
    // never used.
    bool usable() const { return lock.valid() && eventsAvailable.valid() && logonEnded.valid(); }

    // Appends a copy; deniedAtOnce records that the driver already has a "deny"
    // for it. A full queue drops its oldest event first; when that one was not
    // denied yet it is handed back in *mustDeny so that the caller answers it.
    // False when the event could not be queued (no lock, no memory).
    bool Enqueue(const AccessEvent& event, bool deniedAtOnce, std::optional<AccessEvent>* mustDeny);
    // Copies the oldest event without removing it; false when the queue is empty.
    bool PeekFront(AccessEvent* out);
    // Removes the oldest event if it is the one with this id; false when it is
    // not (it was dropped from a full queue while its answer was awaited, and
    // the driver has had its "deny" already).
    bool PopFront(uint32_t eventId);
    // Waits for eventsAvailable without taking the lock.
    void WaitForEvents(DWORD milliseconds);

    // Attaches the thread when no worker is attached; true when the caller is now
    // the session's one consumer. Check and attach are one step under the lock.
    bool Attach(uint32_t threadId);
    // Ends the attachment of that thread only.
    void Detach(uint32_t threadId);

    // The session's user has logged off: empties the queue and tells the
    // attached worker, if any, to end its connection. Until the next logon or
    // the next Attach, Enqueue takes nothing: a departing user's late events
    // are not kept for the next user of the session id. *mustDeny receives the
    // ids of the emptied events that the driver has no answer for yet. False,
    // with the queue untouched, when the lock or the memory cannot be had.
    bool EndLogon(std::vector<uint32_t>* mustDeny);
    // A user has logged on to the session: whatever is still queued, or still
    // attached, came before this logon and goes as at a logoff; events are
    // queued again.
    bool BeginLogon(std::vector<uint32_t>* mustDeny);
    // Set by EndLogon and BeginLogon until the next Attach: the attached
    // worker's client belongs to a logon that has ended.
    HANDLE logonEndedEvent() const { return logonEnded.get(); }
    uint32_t AttachedWorker();
    uint32_t LastWorker();
    size_t QueuedEvents();
    // Events dropped from the full queue so far.
    uint32_t DroppedEvents();

private:
    struct QueuedEvent {
        AccessEvent event;
        bool deniedAtOnce;
    };

    bool EmptyForLogon(std::vector<uint32_t>* mustDeny, bool loggedOffAfter);

    SessionTable& table;
    uint32_t sessionId;
    const size_t queueBound;
    UniqueHandle lock;
    std::list<QueuedEvent> pendingEvents;
    UniqueHandle eventsAvailable;  // manual reset; reset only when the queue empties
    UniqueHandle logonEnded;       // manual reset
    uint32_t workerThreadId = 0;
    uint32_t lastWorkerThreadId = 0;
    uint32_t droppedEvents = 0;
    bool loggedOff = false;
};

}  // namespace quenvar
