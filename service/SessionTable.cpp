#include "service/SessionTable.h"

#include "common/MutexLock.h"
#include "service/Session.h"

namespace quenvar {

SessionTable::SessionTable() : sessionTableLock(CreateMutexW(nullptr, FALSE, nullptr)) {}

SessionTable::~SessionTable() {
    sessions.clear();
    CloseHandle(sessionTableLock);
}

Session* SessionTable::Find(uint32_t sessionId) {
    MutexLock hold(sessionTableLock);
    auto it = sessions.find(sessionId);
    return it == sessions.end() ? nullptr : it->second;
}

Session* SessionTable::FindOrCreate(uint32_t sessionId) {
    MutexLock hold(sessionTableLock);
    Session* session = Find(sessionId);
    if (session == nullptr) session = new Session(*this, sessionId);  // enters itself
    return session;
}

void SessionTable::Insert(uint32_t sessionId, Session* session) {
    MutexLock hold(sessionTableLock);
    sessions[sessionId] = session;
}

void SessionTable::Remove(uint32_t sessionId) {
    MutexLock hold(sessionTableLock);
    sessions.erase(sessionId);
}

}  // namespace quenvar
