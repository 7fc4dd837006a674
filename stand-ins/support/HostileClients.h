// Clients of the service's pipe that misbehave in every way a local program can,
// for storms against the pipe server.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <vector>

#include "support/ServicePipeClient.h"

namespace quenvar::standin {

enum class Hostile {
    kNoBytes,                 // connects and closes
    kFewBytes,                // 1 to 3 bytes of a hello, then closes
    kRandomHello,             // a random process id
    kOtherSession,            // a process of another session
    kNoSuchProcess,           // a process id that names nothing
    kGuardCommand,            // switches the guards off, without the rights to
    kIdle,                    // connects and says nothing
    kStatusNeverReadsEvents,  // a hello of its own, then never reads
    kGarbageReply,            // eight bytes of rubbish where a reply would go
    kShortReply,              // five bytes where a reply would go
    kCloseMidEvent,           // leaves after its status
};

// The hellos a storm uses: its own process, another session's, none at all.
struct StormHellos {
    uint32_t ownProcess;
    uint32_t otherSession;
    uint32_t noSuchProcess;
};

// One hostile program's connections, made one after another. Idle ones are kept
// open (the newest few) as a program holding connections would.
class HostileProgram {
public:
    HostileProgram(const wchar_t* pipeName, StormHellos hellos, std::vector<Hostile> kinds, unsigned seed);
    // Makes `count` connections, cycling through the kinds; returns how many
    // could be opened.
    int Attack(int count);

private:
    // False when the pipe could not be opened.
    bool One(Hostile kind);

    const wchar_t* pipeName_;
    StormHellos hellos_;
    std::vector<Hostile> kinds_;
    std::mt19937 random_;
    std::deque<std::unique_ptr<ServiceClient>> held_;
};

}  // namespace quenvar::standin
