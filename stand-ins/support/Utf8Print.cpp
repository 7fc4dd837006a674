#include "support/Utf8Print.h"

#include <windows.h>

#include <cstdarg>
#include <string>

#include "common/WideFormat.h"

namespace quenvar::standin {

namespace {

void WriteUtf8(DWORD standardHandle, const wchar_t* format, va_list args) {
    // Room for the longest line the tools print: a log row naming a long path.
    wchar_t text[8192];
    const int length = static_cast<int>(FormatIntoV(text, 8192, format, args));
    std::string bytes(WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(standardHandle), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void Print(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteUtf8(STD_OUTPUT_HANDLE, format, args);
    va_end(args);
}

void PrintError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteUtf8(STD_ERROR_HANDLE, format, args);
    va_end(args);
}

}  // namespace quenvar::standin
