// Timing and the bare named-pipe reference that the benchmarks print beside
// their own figures.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "support/StandInDriverClient.h"

namespace quenvar::bench {

LARGE_INTEGER Now();
double Seconds(LARGE_INTEGER from, LARGE_INTEGER to);

// Injects the events at once and returns replies per second, counted from the
// injection until the driver has a reply for every event.
double RepliesPerSecond(standin::StandInDriverClient& driver, const std::vector<AccessEvent>& events);

// Round trips per second of a 1068-byte message down and an 8-byte reply up
// through a pipe with the service's modes and buffers, between two threads.
double BarePipeRate(uint32_t count);

}  // namespace quenvar::bench
