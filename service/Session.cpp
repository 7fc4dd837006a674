#include "service/Session.h"

#include "common/MutexLock.h"
#include "service/SessionTable.h"

namespace quenvar {

// Every operation that takes `lock` and does not get it leaves the session as it
// is and answers as an empty, unattached session would.

Session::Session(SessionTable& table, uint32_t sessionId)
    : table(table),
      sessionId(sessionId),
      lock(CreateMutexW(nullptr, FALSE, nullptr)),
      eventsAvailable(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    table.Insert(sessionId, this);
}

Session::~Session() {
    table.Remove(sessionId);
    lock.reset();
    eventsAvailable.reset();
    sessionId = 0xFFFFFFFF;
    pendingEvents.clear();
}

void Session::Enqueue(const AccessEvent& event) {
    MutexLock hold(lock.get());
    if (!hold.held()) return;
    pendingEvents.push_back(event);
    SetEvent(eventsAvailable.get());
}

bool Session::PeekFront(AccessEvent* out) {
    MutexLock hold(lock.get());
    if (!hold.held() || pendingEvents.empty()) return false;
    *out = pendingEvents.front();
    return true;
}

void Session::PopFront() {
    MutexLock hold(lock.get());
    if (!hold.held()) return;
    if (!pendingEvents.empty()) pendingEvents.pop_front();
    if (pendingEvents.empty()) ResetEvent(eventsAvailable.get());
}

void Session::WaitForEvents(DWORD milliseconds) {
    WaitForSingleObject(eventsAvailable.get(), milliseconds);
}

bool Session::Attach(uint32_t threadId) {
    MutexLock hold(lock.get());
    if (!hold.held() || workerThreadId != 0) return false;
    workerThreadId = threadId;
    return true;
}

void Session::Detach() {
    MutexLock hold(lock.get());
    if (!hold.held()) return;
    if (workerThreadId != 0) {
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

}  // namespace quenvar
