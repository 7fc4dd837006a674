// The judging of one access event: the process's program file, then (when it
// differs and the process is not denied) the module's, each by the remembered
// rights or by asking the user.
#pragma once

#include <cstdint>

#include "common/DriverInterface.h"

namespace quenvar {

class DevicePathTranslator;

// The log prefixes of the three kinds of access, loaded by WinMain from the
// string table (300 to 302) before the service link thread starts.
constexpr int kBreachLogPrefixLength = 64;
extern wchar_t breachLogPrefix[3][kBreachLogPrefixLength];

// The prefix of a kind, "unknown" for a kind outside 0 to 2.
const wchar_t* KindText(uint32_t breachKind);
// 1 << kind, the shift count taken modulo 32.
uint32_t KindBit(uint32_t breachKind);

// The reply to one event: its id, and allow 1 unless a program is denied.
AccessReply JudgeEvent(AccessEvent& event, DevicePathTranslator& translator);

}  // namespace quenvar
