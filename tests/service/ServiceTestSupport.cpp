#include "ServiceTestSupport.h"

#include <memory>
#include <optional>

#include "service/Session.h"
#include "service/SessionTable.h"

namespace quenvar::test {

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

DWORD MillisecondsOf(const std::function<void()>& call) {
    const DWORD start = GetTickCount();
    call();
    return GetTickCount() - start;
}

void DeleteSessions(SessionTable& table) {
    for (uint32_t id = 0; id < 8; ++id) std::unique_ptr<Session> leaving(table.Find(id));
}

bool Put(Session& session, const AccessEvent& event) {
    std::optional<AccessEvent> dropped;
    return session.Enqueue(event, false, &dropped);
}

std::vector<uint8_t> Bytes(const std::wstring& text) {
    const auto* first = reinterpret_cast<const uint8_t*>(text.data());
    return std::vector<uint8_t>(first, first + text.size() * sizeof(wchar_t));
}

}  // namespace quenvar::test
