// How the tools print: whole, in UTF-8. The C runtime's wide printing goes
// through the console's code page and stops at the first character it cannot
// show, so a log line naming a Cyrillic folder would end at "'C:\".
#pragma once

namespace quenvar::standin {

// printf-style (%ls for a wide string) to the standard output or error.
void Print(const wchar_t* format, ...);
void PrintError(const wchar_t* format, ...);

}  // namespace quenvar::standin
