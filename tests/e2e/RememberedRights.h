// Rights records as QuenvarUI writes them, and the sign that it is served.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/StandInDriverClient.h"

namespace quenvar::e2e {

// Stores the signed record of a program file: the rights its user gave it.
void RememberRights(const std::wstring& path, uint8_t denied, uint8_t allowed);

// Waits until QuenvarUI answers events. A keyboard hook of a program that it
// allows waits in the service's queue until the program is served and is then
// answered without a prompt or a log row; the program's record is removed
// again. What the journal held up to that reply is added to *journal.
bool WaitUntilServed(standin::StandInDriverClient& driver, uint32_t eventId,
                     std::vector<JournalEntry>* journal = nullptr);

}  // namespace quenvar::e2e
