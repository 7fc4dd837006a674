#include "client/LogSink.h"

namespace quenvar {

LogSink logSink = nullptr;

void LogLine(const wchar_t* format, ...) {
    const LogSink sink = logSink;
    if (sink == nullptr) return;
    va_list args;
    va_start(args, format);
    sink(format, args);
    va_end(args);
}

}  // namespace quenvar
