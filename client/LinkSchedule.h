// What the service link does between connections: how long it pauses, and
// which of its once-only notices are due. No OS calls: the link feeds it times.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quenvar {

// How the link looks for the service and keeps it.
struct ServiceLinkTiming {
    DWORD firstPauseMs;      // after the first failed attempt; doubled after each further one
    DWORD longestPauseMs;    // the pause never grows beyond this
    DWORD steadyLinkMs;      // a connection that lasted this long starts the pauses anew
    DWORD noServiceAfterMs;  // no status from the service by then: "NO SERVICE", once per run
    DWORD refusalWindowMs;   // a connection the service has not closed by then is being served
    DWORD instanceWaitMs;    // how long one attempt waits for a busy pipe (WaitNamedPipeW)
};

class LinkSchedule {
public:
    explicit LinkSchedule(const ServiceLinkTiming& timing);

    // The pause before the next attempt; each call doubles the next one, up to
    // the longest.
    DWORD NextPause();
    // A connection that got its status has ended after lastedMs.
    void ConnectionEnded(DWORD lastedMs);

    // True once per run: the service has not answered since the start, sinceStartMs ago.
    bool NoServiceDue(DWORD sinceStartMs);
    // The service answered with `status`; true the first time it is not the
    // expected one.
    bool StatusErrorDue(uint32_t status);
    // The link ended, or the service cut the program off; true unless the
    // program already said that protection is suspended.
    bool SuspendedDue();
    // The service serves the program; true when it had said protection was suspended.
    bool BackDue();
    // A program posed as the service; true the first time.
    bool ImpostorDue();

private:
    ServiceLinkTiming timing_;
    DWORD pauseMs_;
    bool answered_ = false;
    bool noServiceShown_ = false;
    bool statusShown_ = false;
    bool suspended_ = false;
    bool impostorShown_ = false;
};

}  // namespace quenvar
