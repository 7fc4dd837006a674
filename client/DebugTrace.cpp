#include "client/DebugTrace.h"

#include <windows.h>

#include <cstdarg>

#include "common/WideFormat.h"

namespace quenvar {

void DebugTrace(const wchar_t* format, ...) {
    wchar_t text[1024];
    va_list args;
    va_start(args, format);
    // Bounded: two long paths must not overrun the buffer.
    FormatIntoV(text, 1024, format, args);
    va_end(args);
    OutputDebugStringW(text);
}

}  // namespace quenvar
