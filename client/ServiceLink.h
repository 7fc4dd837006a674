// The user-interface program's end of the service's pipe: it introduces the
// program, checks the driver status and judges every access event by the
// remembered rights or by asking the user.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/DriverInterface.h"

namespace quenvar {

// The log prefixes of the three kinds of access, loaded by WinMain from the
// string table (300 to 302) before the service link thread starts.
constexpr int kBreachLogPrefixLength = 64;
extern wchar_t breachLogPrefix[3][kBreachLogPrefixLength];

// The prefix of a kind, "unknown" for a kind outside 0 to 2.
const wchar_t* KindText(uint32_t breachKind);
// 1 << kind, the shift count taken modulo 32.
uint32_t KindBit(uint32_t breachKind);

// A path field of an event up to its NUL, never past its 262 units.
std::wstring PathField(const wchar_t (&field)[kPathUnits]);
// Stores a path into a field: at most 261 characters and always a NUL.
void StorePathField(wchar_t (&field)[kPathUnits], const std::wstring& path);

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
bool SendDisableGuard();

// Formats printf-style (%ls for wide strings) into at most 1024 characters for the debugger.
void DebugTrace(const wchar_t* format, ...);

}  // namespace quenvar
