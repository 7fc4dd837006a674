#include <gtest/gtest.h>

#include <string>

#include "console/LogText.h"

using namespace quenvar;

namespace {

SYSTEMTIME At(WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME time = {};
    time.wYear = 2024;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    return time;
}

std::wstring Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatLogMessage(format, args);
    va_end(args);
    return text;
}

std::wstring Letters(size_t count) {
    std::wstring text;
    for (size_t i = 0; i < count; ++i) text += static_cast<wchar_t>(L'A' + i % 26);
    return text;
}

}  // namespace

TEST(LogTime, HourBelowTenIsPaddedWithABlank) {
    EXPECT_EQ(FormatLogTime(At(1, 5, 9, 3, 7)), L"Jan 5 @  9:03:07");
    EXPECT_EQ(FormatLogTime(At(12, 31, 23, 59, 59)), L"Dec 31 @ 23:59:59");
    EXPECT_EQ(FormatLogTime(At(7, 14, 0, 0, 0)), L"Jul 14 @  0:00:00");
}

TEST(LogTime, EveryMonthHasItsAbbreviation) {
    const wchar_t* const names[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                    L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    for (WORD month = 1; month <= 12; ++month)
        EXPECT_EQ(FormatLogTime(At(month, 2, 10, 11, 12)), std::wstring(names[month - 1]) + L" 2 @ 10:11:12");
    // Not from a real clock, but must not read past the table.
    EXPECT_EQ(FormatLogTime(At(13, 2, 10, 11, 12)), L"??? 2 @ 10:11:12");
    EXPECT_EQ(FormatLogTime(At(0, 2, 10, 11, 12)), L"??? 2 @ 10:11:12");
}

TEST(LogRepeat, SameSecondAndMessageThatTheLastRowBeginsWith) {
    const std::wstring t = L"Jan 5 @  9:03:07";
    EXPECT_TRUE(IsLogRepeat(t, L"Hello", t, L"Hello"));
    // A folded row still begins with its message.
    EXPECT_TRUE(IsLogRepeat(t, L"Hello (2 times)", t, L"Hello"));
    // The test is on the prefix, not on equality.
    EXPECT_TRUE(IsLogRepeat(t, L"Hello world", t, L"Hello"));
    EXPECT_FALSE(IsLogRepeat(t, L"Hello", t, L"Hello world"));
    EXPECT_FALSE(IsLogRepeat(t, L"Say Hello", t, L"Hello"));
    EXPECT_FALSE(IsLogRepeat(t, L"hello", t, L"Hello"));
    EXPECT_FALSE(IsLogRepeat(t, L"Hello", L"Jan 5 @  9:03:08", L"Hello"));
    EXPECT_FALSE(IsLogRepeat(L"Feb 5 @  9:03:07", L"Hello", t, L"Hello"));
}

TEST(LogRepeat, FoldedTextCarriesTheCount) {
    EXPECT_EQ(FormatRepeatedMessage(L"Blocked", 2), L"Blocked (2 times)");
    EXPECT_EQ(FormatRepeatedMessage(L"Blocked", 4000000000u), L"Blocked (4000000000 times)");
}

TEST(LogMessage, FormatsWithWideStringArguments) {
    EXPECT_EQ(Format(L"%ls %ls", L"Blocked illegal screen access in", L"C:\\a.exe"),
              L"Blocked illegal screen access in C:\\a.exe");
    EXPECT_EQ(Format(L"%d of %u, %ls", -3, 7u, L"\x0416\x00e9"), L"-3 of 7, \x0416\x00e9");
    EXPECT_EQ(Format(L"no arguments"), L"no arguments");
}

TEST(LogMessage, IsCutTo1023Characters) {
    EXPECT_EQ(Format(L"%ls", Letters(1022).c_str()), Letters(1022));
    EXPECT_EQ(Format(L"%ls", Letters(1023).c_str()), Letters(1023));
    EXPECT_EQ(Format(L"%ls", Letters(1024).c_str()), Letters(1023));
    EXPECT_EQ(Format(L"%ls%ls", Letters(3000).c_str(), L"tail"), Letters(1023));
    EXPECT_EQ(Format(Letters(1500).c_str()), Letters(1023));
}
