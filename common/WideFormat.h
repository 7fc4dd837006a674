// The one way the system formats wide text: printf-style with %ls for a wide
// string (the spelling both the C runtime's and the ISO conventions read the
// same way), always bounded and always terminated.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace quenvar {

// Writes at most `capacity` units including the NUL; text that does not fit is
// cut. Returns the length written. A capacity of 0 writes nothing.
size_t FormatInto(wchar_t* out, size_t capacity, const wchar_t* format, ...);
size_t FormatIntoV(wchar_t* out, size_t capacity, const wchar_t* format, va_list args);

}  // namespace quenvar
