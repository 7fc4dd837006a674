// Test-side access to the stand-in driver: inject events, read what the service
// sent to the driver.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/DriverInterface.h"
#include "common/UniqueResource.h"
#include "driver/StandInControl.h"

namespace quenvar::standin {

// Builds an event; paths longer than 261 characters are cut.
AccessEvent MakeEvent(uint32_t eventId, uint32_t kind, uint32_t processId, const std::wstring& processPath,
                      const std::wstring& modulePath, uint32_t threadId = 0);

class StandInDriverClient {
public:
    // Opens "\\.\Global\Quenvar"; check ok() before use.
    StandInDriverClient();
    bool ok() const { return device_.valid(); }

    bool Inject(const std::vector<AccessEvent>& events);
    bool Inject(const AccessEvent& event) { return Inject(std::vector<AccessEvent>{event}); }
    // Removes and returns what the driver has journalled so far.
    std::vector<JournalEntry> ReadJournal();
    // Reads the journal until `count` entries arrived or the time is up.
    std::vector<JournalEntry> WaitForJournal(size_t count, DWORD timeoutMs);
    bool SetRegisterStatus(uint32_t status);
    StandInState QueryState();
    bool Reset();

private:
    UniqueHandle device_;
};

// Reply bytes of a journalled IOCTL_REPLY.
AccessReply ReplyOf(const JournalEntry& entry);

}  // namespace quenvar::standin
