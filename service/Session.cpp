#include "service/Session.h"

#include "common/MutexLock.h"
#include "service/SessionTable.h"

namespace quenvar {

Session::Session(SessionTable& table, uint32_t sessionId)
    : table(table),
      sessionId(sessionId),
      lock(CreateMutexW(nullptr, FALSE, nullptr)),
      eventsAvailable(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    table.Insert(sessionId, this);
}

Session::~Session() {
    table.Remove(sessionId);
    CloseHandle(lock);
    CloseHandle(eventsAvailable);
    sessionId = 0xFFFFFFFF;
    pendingEvents.clear();
}

void Session::Enqueue(const AccessEvent& event) {
    MutexLock hold(lock);
    pendingEvents.push_back(event);
    SetEvent(eventsAvailable);
}

bool Session::PeekFront(AccessEvent* out) {
    MutexLock hold(lock);
    if (pendingEvents.empty()) return false;
    *out = pendingEvents.front();
    return true;
}

void Session::PopFront() {
    MutexLock hold(lock);
    if (!pendingEvents.empty()) pendingEvents.pop_front();
    if (pendingEvents.empty()) ResetEvent(eventsAvailable);
}

void Session::WaitForEvents(DWORD milliseconds) {
    WaitForSingleObject(eventsAvailable, milliseconds);
}

bool Session::Attach(uint32_t threadId) {
    MutexLock hold(lock);
    if (workerThreadId != 0) return false;
    workerThreadId = threadId;
    return true;
}

void Session::Detach() {
    MutexLock hold(lock);
    if (workerThreadId != 0) {
        lastWorkerThreadId = workerThreadId;
        workerThreadId = 0;
    }
}

uint32_t Session::AttachedWorker() {
    MutexLock hold(lock);
    return workerThreadId;
}

uint32_t Session::LastWorker() {
    MutexLock hold(lock);
    return lastWorkerThreadId;
}

size_t Session::QueuedEvents() {
    MutexLock hold(lock);
    return pendingEvents.size();
}

}  // namespace quenvar
