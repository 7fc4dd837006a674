#include "service/Session.h"

#include <new>

#include "common/MutexLock.h"
#include "service/SessionTable.h"

namespace quenvar {

// Every operation that takes `lock` and does not get it leaves the session as it
// is and answers as an empty, unattached session would.

Session::Session(SessionTable& table, uint32_t sessionId, size_t queueBound)
    : table(table),
      sessionId(sessionId),
      queueBound(queueBound == 0 ? 1 : queueBound),
      lock(CreateMutexW(nullptr, FALSE, nullptr)),
      eventsAvailable(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      logonEnded(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    table.Insert(sessionId, this);
}

Session::~Session() {
    table.Remove(sessionId);
    lock.reset();
    eventsAvailable.reset();
    sessionId = 0xFFFFFFFF;
    pendingEvents.clear();
}

bool Session::Enqueue(const AccessEvent& event, bool deniedAtOnce, std::optional<AccessEvent>* mustDeny) {
    mustDeny->reset();
    MutexLock hold(lock.get());
    if (!hold.held() || loggedOff) return false;
    const bool wasEmpty = pendingEvents.empty();
    try {
        pendingEvents.push_back(QueuedEvent{event, deniedAtOnce});
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (pendingEvents.size() > queueBound) {
        if (!pendingEvents.front().deniedAtOnce) *mustDeny = pendingEvents.front().event;
        pendingEvents.pop_front();
        ++droppedEvents;
    }
    // The event is set whenever the queue holds something and reset only by the
    // pop that empties it; a queue that was not empty has it set already.
    if (wasEmpty) SetEvent(eventsAvailable.get());
    return true;
}

bool Session::PeekFront(AccessEvent* out) {
    MutexLock hold(lock.get());
    if (!hold.held() || pendingEvents.empty()) return false;
    *out = pendingEvents.front().event;
    return true;
}

bool Session::PopFront(uint32_t eventId) {
    MutexLock hold(lock.get());
    if (!hold.held()) return false;
    const bool held = !pendingEvents.empty() && pendingEvents.front().event.eventId == eventId;
    if (held) pendingEvents.pop_front();
    if (pendingEvents.empty()) ResetEvent(eventsAvailable.get());
    return held;
}

void Session::WaitForEvents(DWORD milliseconds) {
    WaitForSingleObject(eventsAvailable.get(), milliseconds);
}

bool Session::Attach(uint32_t threadId) {
    MutexLock hold(lock.get());
    if (!hold.held() || workerThreadId != 0) return false;
    workerThreadId = threadId;
    ResetEvent(logonEnded.get());
    // The client was judged the session's logged-on user: should the notice of
    // the logon never come, its events still reach it.
    loggedOff = false;
    return true;
}

bool Session::EndLogon(std::vector<uint32_t>* mustDeny) { return EmptyForLogon(mustDeny, true); }

bool Session::BeginLogon(std::vector<uint32_t>* mustDeny) { return EmptyForLogon(mustDeny, false); }

bool Session::EmptyForLogon(std::vector<uint32_t>* mustDeny, bool loggedOffAfter) {
    mustDeny->clear();
    MutexLock hold(lock.get());
    if (!hold.held()) return false;
    try {
        mustDeny->reserve(pendingEvents.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (const QueuedEvent& queued : pendingEvents)
        if (!queued.deniedAtOnce) mustDeny->push_back(queued.event.eventId);
    // An event whose answer the worker is awaiting goes too: PopFront will not
    // find it, so the worker's reply never reaches the driver as a second answer.
    pendingEvents.clear();
    ResetEvent(eventsAvailable.get());
    if (workerThreadId != 0) SetEvent(logonEnded.get());
    loggedOff = loggedOffAfter;
    return true;
}

void Session::Detach(uint32_t threadId) {
    MutexLock hold(lock.get());
    if (!hold.held()) return;
    // A refused client's worker must not end the attachment of the one served.
    if (threadId != 0 && workerThreadId == threadId) {
        lastWorkerThreadId = workerThreadId;
        workerThreadId = 0;
    }
}

uint32_t Session::AttachedWorker() {
    MutexLock hold(lock.get());
    return hold.held() ? workerThreadId : 0;
}

uint32_t Session::LastWorker() {
    MutexLock hold(lock.get());
    return hold.held() ? lastWorkerThreadId : 0;
}

size_t Session::QueuedEvents() {
    MutexLock hold(lock.get());
    return hold.held() ? pendingEvents.size() : 0;
}

uint32_t Session::DroppedEvents() {
    MutexLock hold(lock.get());
    return hold.held() ? droppedEvents : 0;
}

}  // namespace quenvar
