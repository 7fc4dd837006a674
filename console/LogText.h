// The activity log's texts, apart from any window: the time text of a row, the
// repeat rule that folds a burst of one message into one row, and the cutting
// of over-long messages.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

namespace quenvar {

// A log message keeps at most this many characters.
constexpr size_t kLogMessageLimit = 1023;

// "Jan 5 @  9:03:07": month abbreviation, day, hour padded with a blank to two
// places, minute and second.
std::wstring FormatLogTime(const SYSTEMTIME& time);

// The new entry folds into the last row when both carry the same time text and
// the last row's message begins with the new message.
bool IsLogRepeat(const std::wstring& lastTime, const std::wstring& lastMessage, const std::wstring& time,
                 const std::wstring& message);

// The text of a row that `message` has filled `count` times: "message (3 times)".
std::wstring FormatRepeatedMessage(const std::wstring& message, unsigned count);

// printf-style formatting by the C runtime's wide rules (%s takes a wide
// string), cut to kLogMessageLimit characters.
std::wstring FormatLogMessage(const wchar_t* format, va_list args);

}  // namespace quenvar
