#include "support/StandInDriverClient.h"

#include <algorithm>
#include <cstring>

namespace quenvar::standin {

AccessEvent MakeEvent(uint32_t eventId, uint32_t kind, uint32_t processId, const std::wstring& processPath,
                      const std::wstring& modulePath, uint32_t threadId) {
    AccessEvent event = {};
    event.eventId = eventId;
    event.breachKind = kind;
    event.processId = processId;
    event.threadId = threadId;
    const size_t p = std::min(processPath.size(), kPathUnits - 1);
    const size_t m = std::min(modulePath.size(), kPathUnits - 1);
    std::memcpy(event.processPath, processPath.data(), p * sizeof(wchar_t));
    std::memcpy(event.modulePath, modulePath.data(), m * sizeof(wchar_t));
    return event;
}

StandInDriverClient::StandInDriverClient()
    : device_(CreateFileW(L"\\\\.\\Global\\Quenvar", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)) {}

bool StandInDriverClient::Inject(const std::vector<AccessEvent>& events) {
    DWORD returned = 0;
    // One request carries at most a few thousand events.
    constexpr size_t kBatch = 2048;
    for (size_t i = 0; i < events.size(); i += kBatch) {
        const size_t n = std::min(kBatch, events.size() - i);
        if (!DeviceIoControl(device_.get(), IOCTL_STANDIN_INJECT_EVENTS, const_cast<AccessEvent*>(&events[i]),
                             static_cast<DWORD>(n * sizeof(AccessEvent)), nullptr, 0, &returned, nullptr))
            return false;
    }
    return true;
}

std::vector<JournalEntry> StandInDriverClient::ReadJournal() {
    std::vector<JournalEntry> all;
    std::vector<JournalEntry> chunk(1024);
    for (;;) {
        DWORD returned = 0;
        if (!DeviceIoControl(device_.get(), IOCTL_STANDIN_READ_JOURNAL, nullptr, 0, chunk.data(),
                             static_cast<DWORD>(chunk.size() * sizeof(JournalEntry)), &returned, nullptr))
            break;
        const size_t n = returned / sizeof(JournalEntry);
        all.insert(all.end(), chunk.begin(), chunk.begin() + n);
        if (n < chunk.size()) break;
    }
    return all;
}

std::vector<JournalEntry> StandInDriverClient::WaitForJournal(size_t count, DWORD timeoutMs) {
    std::vector<JournalEntry> all;
    const DWORD start = GetTickCount();
    for (;;) {
        std::vector<JournalEntry> more = ReadJournal();
        all.insert(all.end(), more.begin(), more.end());
        if (all.size() >= count || GetTickCount() - start > timeoutMs) return all;
        Sleep(10);
    }
}

bool StandInDriverClient::SetRegisterStatus(uint32_t status) {
    DWORD returned = 0;
    return DeviceIoControl(device_.get(), IOCTL_STANDIN_SET_STATUS, &status, sizeof(status), nullptr, 0,
                           &returned, nullptr);
}

StandInState StandInDriverClient::QueryState() {
    StandInState state = {};
    DWORD returned = 0;
    DeviceIoControl(device_.get(), IOCTL_STANDIN_QUERY_STATE, nullptr, 0, &state, sizeof(state), &returned,
                    nullptr);
    return state;
}

bool StandInDriverClient::Reset() {
    DWORD returned = 0;
    return DeviceIoControl(device_.get(), IOCTL_STANDIN_RESET, nullptr, 0, nullptr, 0, &returned, nullptr);
}

AccessReply ReplyOf(const JournalEntry& entry) {
    AccessReply reply;
    std::memcpy(&reply, entry.bytes, sizeof(reply));
    return reply;
}

}  // namespace quenvar::standin
