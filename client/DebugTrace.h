// One line for a debugger attached to the program (OutputDebugStringW).
#pragma once

namespace quenvar {

// Formats printf-style (%ls for wide strings) into at most 1024 characters for the debugger.
void DebugTrace(const wchar_t* format, ...);

}  // namespace quenvar
