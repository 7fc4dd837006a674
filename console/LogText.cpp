#include "console/LogText.h"
#include "common/WideFormat.h"

#include <cwchar>

namespace quenvar {

namespace {

constexpr const wchar_t* kMonthNames[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                          L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
constexpr size_t kTimeTextLimit = 127;

}  // namespace

std::wstring FormatLogTime(const SYSTEMTIME& time) {
    // A month outside 1..12 cannot come from the clock; it must not index past the table.
    const wchar_t* month = time.wMonth >= 1 && time.wMonth <= 12 ? kMonthNames[time.wMonth - 1] : L"???";
    wchar_t text[kTimeTextLimit + 1];
    FormatInto(text, kTimeTextLimit + 1, L"%ls %d @ %2d:%02d:%02d", month, time.wDay, time.wHour, time.wMinute,
               time.wSecond);
    return text;
}

bool IsLogRepeat(const std::wstring& lastTime, const std::wstring& lastMessage, const std::wstring& time,
                 const std::wstring& message) {
    return lastTime == time && lastMessage.compare(0, message.size(), message) == 0;
}

std::wstring FormatRepeatedMessage(const std::wstring& message, unsigned count) {
    return message + L" (" + std::to_wstring(count) + L" times)";
}

std::wstring FormatLogMessage(const wchar_t* format, va_list args) {
    wchar_t text[kLogMessageLimit + 1];
    FormatIntoV(text, kLogMessageLimit + 1, format, args);
    return text;
}

}  // namespace quenvar
