#include "service/SessionTable.h"

#include <new>

#include "common/MutexLock.h"
#include "service/Session.h"

namespace quenvar {

SessionTable::SessionTable() : sessionTableLock(CreateMutexW(nullptr, FALSE, nullptr)) {}

SessionTable::~SessionTable() {
    sessions.clear();
    sessionTableLock.reset();
}

Session* SessionTable::Find(uint32_t sessionId) {
    MutexLock hold(sessionTableLock.get());
    if (!hold.held()) return nullptr;
    return FindHeld(sessionId);
}

Session* SessionTable::FindHeld(uint32_t sessionId) const {
    auto it = sessions.find(sessionId);
    return it == sessions.end() ? nullptr : it->second;
}

Session* SessionTable::FindOrCreate(uint32_t sessionId) {
    MutexLock hold(sessionTableLock.get());
    if (!hold.held()) return nullptr;
    // Already held: taking the lock again for the lookup would cost the pump two
    // more waits on every event and change nothing.
    Session* session = FindHeld(sessionId);
    if (session != nullptr) return session;
    // Deliberately not owned here: sessions live as long as the service.
    session = new (std::nothrow) Session(*this, sessionId);  // enters itself
    if (session != nullptr && !session->usable()) {
        delete session;  // without its lock or event it could only spin or fail
        session = nullptr;
    }
    return session;
}

void SessionTable::Insert(uint32_t sessionId, Session* session) {
    MutexLock hold(sessionTableLock.get());
    if (hold.held()) sessions[sessionId] = session;
}

void SessionTable::Remove(uint32_t sessionId) {
    MutexLock hold(sessionTableLock.get());
    if (hold.held()) sessions.erase(sessionId);
}

}  // namespace quenvar
