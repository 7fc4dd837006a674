// The user-interface program's end of the service's pipe: it introduces the
// program, checks the driver status and has every access event judged.
#pragma once

#include <windows.h>

namespace quenvar {

// How long the thread looks for the service: 60 attempts a second apart.
struct ServiceLinkTiming {
    int attempts;
    DWORD retryMs;
};
extern ServiceLinkTiming serviceLinkTiming;

// The thread: connects, says hello, checks the status, then answers events
// until the pipe fails. Never reconnects.
DWORD WINAPI ServiceLinkThread(LPVOID unused);

// Sends DisableGuardCode in a one-shot connection; true when all 4 bytes went.
// While the pipe is busy it tries again, for up to 5 seconds.
bool SendDisableGuard();

}  // namespace quenvar
