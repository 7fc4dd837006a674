// The sessions by Terminal-Services session id. The event pump and the session
// workers meet here.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>

#include "common/UniqueResource.h"

namespace quenvar {

class Session;

class SessionTable {
public:
    SessionTable();
    // Empties the table without deleting its sessions.
    ~SessionTable();
    SessionTable(const SessionTable&) = delete;
    SessionTable& operator=(const SessionTable&) = delete;

    // sessionTableLock: a Win32 mutex, so the owning thread may take it again.
    HANDLE lock() const { return sessionTableLock.get(); }

    // Both give null when sessionTableLock cannot be taken; FindOrCreate also when
    // a session cannot be made (no memory, no handles). May throw std::bad_alloc
    // from the table itself.
    Session* Find(uint32_t sessionId);
    // Find and create as one step under sessionTableLock. The session is never
    // deleted by the service: it outlives its clients with its queue, and the
    // table only points at it.
    Session* FindOrCreate(uint32_t sessionId);

    // Used by Session's constructor and destructor.
    void Insert(uint32_t sessionId, Session* session);
    void Remove(uint32_t sessionId);

private:
    // The lookup of Find; the caller holds sessionTableLock.
    Session* FindHeld(uint32_t sessionId) const;

    UniqueHandle sessionTableLock;
    std::map<uint32_t, Session*> sessions;
};

}  // namespace quenvar
