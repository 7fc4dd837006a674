// Helpers every service test shares: polling for a condition, cleaning up
// sessions, and the raw bytes of wide text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/DriverInterface.h"

namespace quenvar {
class Session;
class SessionTable;
}

namespace quenvar::test {

// Polls the condition until it holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// Milliseconds that the call took.
DWORD MillisecondsOf(const std::function<void()>& call);

// The service never deletes a session; a test that made some deletes those of
// ids 0 to 7 so that the next test starts from an empty table.
void DeleteSessions(SessionTable& table);

// Queues an event as the pump does for a client's session: not denied yet.
// False when it was not queued.
bool Put(Session& session, const AccessEvent& event);

// The UTF-16 bytes of the text, as the registry stores them.
std::vector<uint8_t> Bytes(const std::wstring& text);

}  // namespace quenvar::test
