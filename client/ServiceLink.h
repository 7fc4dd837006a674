// The user-interface program's end of the service's pipe: it introduces the
// program, checks the driver status and has every access event judged.
#pragma once

#include <windows.h>

#include <cstdint>

#include "client/LinkSchedule.h"

namespace quenvar {

extern ServiceLinkTiming serviceLinkTiming;

// Said once when protection stops because the link to the service ended, and
// once when it is back.
extern const wchar_t* const kProtectionSuspendedLine;
extern const wchar_t* const kProtectionBackLine;
// Said once per run when a pipe of the service's name is not the service's.
extern const wchar_t* const kImpostorLine;

// The thread: connects, says hello, checks the status, then answers events
// until the pipe fails, and connects again, for as long as the program runs.
// It talks only to a pipe that LocalSystem owns.
// `stopEvent` (null in the program) ends it between connections once set.
DWORD WINAPI ServiceLinkThread(LPVOID stopEvent);

// Sends `command` (DisableGuardCode or EnableGuardCode) in a one-shot
// connection; true when all 4 bytes went. While the pipe is busy it waits for
// an instance, for up to 5 seconds, and then for up to 5 seconds more until
// the service has carried the command out and closed the connection. A pipe
// that is not the service's gets nothing.
bool SendGuardCommand(uint32_t command);

}  // namespace quenvar
