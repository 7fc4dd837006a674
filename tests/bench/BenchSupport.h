// Timing and the bare named-pipe reference that the benchmarks print beside
// their own figures.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quenvar::bench {

LARGE_INTEGER Now();
double Seconds(LARGE_INTEGER from, LARGE_INTEGER to);

// Round trips per second of a 1068-byte message down and an 8-byte reply up
// through a pipe with the service's modes and buffers, between two threads.
double BarePipeRate(uint32_t count);

}  // namespace quenvar::bench
