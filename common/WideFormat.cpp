#include "common/WideFormat.h"

#include <cwchar>

namespace quenvar {

size_t FormatIntoV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args) {
    if (capacity == 0) return 0;
    // The C runtime's form: it writes no NUL when the text fills the count, and
    // reports -1 on a cut, so the last unit is kept for the NUL.
    _vsnwprintf(out, capacity - 1, format, args);
    out[capacity - 1] = L'\0';
    return wcslen(out);
}

size_t FormatInto(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const size_t length = FormatIntoV(out, capacity, format, args);
    va_end(args);
    return length;
}

}  // namespace quenvar
