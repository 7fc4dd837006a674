// One Terminal-Services session's queue of unanswered access events, and the
// record of which worker thread serves it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <list>

#include "common/DriverInterface.h"
#include "common/UniqueResource.h"

namespace quenvar {

class SessionTable;

class Session {
public:
    // Enters itself in the table under its id, replacing any entry of that id.
    Session(SessionTable& table, uint32_t sessionId);
    virtual ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    uint32_t id() const { return sessionId; }

    void Enqueue(const AccessEvent& event);
    // Copies the oldest event without removing it; false when the queue is empty.
    bool PeekFront(AccessEvent* out);
    void PopFront();
    // Waits for eventsAvailable without taking the lock.
    void WaitForEvents(DWORD milliseconds);

    // Attaches the thread when no worker is attached; true when the caller is now
    // the session's one consumer. Check and attach are one step under the lock.
    bool Attach(uint32_t threadId);
    void Detach();
    uint32_t AttachedWorker();
    uint32_t LastWorker();
    size_t QueuedEvents();

private:
    SessionTable& table;
    uint32_t sessionId;
    UniqueHandle lock;
    std::list<AccessEvent> pendingEvents;
    UniqueHandle eventsAvailable;  // manual reset; reset only when the queue empties
    uint32_t workerThreadId = 0;
    uint32_t lastWorkerThreadId = 0;
};

}  // namespace quenvar
