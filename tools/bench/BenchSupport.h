// Timing, the bare stages (a cross-process named pipe, a driver loop) that the
// benchmarks print beside their own figures, and the machine-readable lines
// that tools/bench.sh gathers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/StandInDriverClient.h"

namespace quenvar::bench {

LARGE_INTEGER Now();
double Seconds(LARGE_INTEGER from, LARGE_INTEGER to);

// A built program of this tree (QUENVAR_BIN, else the current folder).
std::wstring Built(const wchar_t* name);

// Prints "figure NAME VALUE" for tools/bench.sh.
void Figure(const char* name, double value);

// Replies per second, from the first injection until the driver has a reply for
// every event. Events are fed so that no more than 3000 wait at once, below the
// service's queue bound: a dropped event would be denied at once and counted as
// a fast reply. *notAllowed receives the count of replies that were not an
// allow for their own event.
double RepliesPerSecond(standin::StandInDriverClient& driver, const std::vector<AccessEvent>& events,
                        uint32_t* notAllowed);

// Starts BarePipePeer.exe, which connects to the pipe and answers `count`
// events at once; with `hello` it first introduces itself to the service.
PROCESS_INFORMATION StartPipePeer(const wchar_t* pipeName, uint32_t count, bool hello);

// Round trips per second of a 1068-byte event down and an 8-byte reply up,
// between this process (the service's side: its open and pipe modes, its 1024-
// byte buffers, overlapped reads and writes waited on an event) and a child
// process that answers as the user-interface program does. 0 on failure.
double BarePipeRate(uint32_t count);

// The driver alone, no service running: `count` events are injected first,
// then each is waited for, fetched and answered by this process.
struct DriverLoop {
    double rate;          // events per second for the whole loop
    double fetchSeconds;  // per event: IOCTL_WAIT_EVENT + IOCTL_GET_EVENT (the pump's stage)
    double replySeconds;  // per event: IOCTL_REPLY (the worker's share of the driver)
};
DriverLoop DriverLoopRate(standin::StandInDriverClient& driver, uint32_t count);

}  // namespace quenvar::bench
