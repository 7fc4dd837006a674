// Where the client writes its activity-log lines. The client knows nothing of
// the window that shows them: the program points the sink at its log at
// start-up, the same way it points programRightsSaved at its access list.
#pragma once

#include <cstdarg>

namespace quenvar {

// `format` and the arguments as for the C runtime's wide printf (%ls takes a
// wide string).
using LogSink = void (*)(const wchar_t* format, va_list args);
// Null until the program start sets it; lines are then dropped.
extern LogSink logSink;

// Passes one line to logSink, if one is installed.
void LogLine(const wchar_t* format, ...);

}  // namespace quenvar
