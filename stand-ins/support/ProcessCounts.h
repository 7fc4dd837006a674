// How many threads and handles a process has, for checks that a storm of
// connections left nothing behind.
#pragma once

#include <windows.h>

namespace quenvar::standin {

// Threads of the process, from a Toolhelp snapshot; 0 when it cannot be taken.
DWORD ThreadCount(DWORD processId);

// Live handles of the process. Wine reports no handle count (GetProcessHandleCount
// gives 0), so every possible handle value is tried with DuplicateHandle.
DWORD HandleCount(DWORD processId);

}  // namespace quenvar::standin
