// Bounds the service's pipe connections, so that a flood of them can neither
// keep a real client out nor use up the service: connections that have not said
// their hello yet, and worker threads in all.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "common/UniqueResource.h"

namespace quenvar {

struct ConnectionBounds {
    // Connections still silent; past it the oldest silent one is closed.
    size_t silent = 64;
    // Workers in all; past it a new connection is closed at once.
    size_t workers = 256;
};

class ConnectionGate {
public:
    // Reads the bounds as they are at each admission.
    explicit ConnectionGate(const ConnectionBounds& bounds);

    // A new connection, whose worker waits for its hello on `evict` as well.
    // False when the worker bound is reached: the connection is to be closed.
    // Otherwise it counts as silent until Spoke; if that makes one silent
    // connection too many, the oldest one's evict event is set and it no
    // longer counts.
    bool Admit(HANDLE evict, uint64_t* ticket);
    // The connection's hello was read, or its wait for it ended.
    void Spoke(uint64_t ticket);
    // The admitted connection's worker runs as this thread. It counts until the
    // thread has ended, not merely returned: its stack is held until then.
    void Started(UniqueHandle thread);
    // The admitted connection's worker could not be started.
    void Left();
    // Lets go of the workers whose threads have ended. Admissions do this
    // too; a worker does it as it ends, so that a quiet pipe holds no more
    // than the last ended worker's handle.
    void Sweep();

    size_t silent() const;
    size_t workers();

private:
    // Lets go of the threads that have ended; the caller holds the lock.
    void SweepEnded();

    struct Silent {
        uint64_t ticket;
        HANDLE evict;
    };
    const ConnectionBounds& bounds_;
    UniqueHandle lock_;
    std::deque<Silent> silent_;  // oldest first
    std::vector<UniqueHandle> threads_;
    size_t workers_ = 0;  // admitted and not known to have ended
    uint64_t nextTicket_ = 1;
};

}  // namespace quenvar
