#include <gtest/gtest.h>

#include <string>

#include "common/WideFormat.h"

using namespace quenvar;

namespace {

TEST(WideFormat, WritesWideStringsAndNumbersWithinTheCapacity) {
    wchar_t text[32];
    EXPECT_EQ(FormatInto(text, 32, L"%ls=0x%x (%d)", L"\x0416name", 0xBEEFu, -7), 17u);
    EXPECT_EQ(std::wstring(text), L"\x0416name=0xbeef (-7)");
}

TEST(WideFormat, CutsAtTheCapacityAndAlwaysTerminates) {
    // Text of exactly capacity - 1 fits whole; one more unit is cut.
    struct Case {
        size_t textLength;
        size_t expected;
    } cases[] = {{6, 6}, {7, 7}, {8, 7}, {50, 7}};
    for (const Case& c : cases) {
        wchar_t text[9];
        std::fill(std::begin(text), std::end(text), L'#');
        const std::wstring source(c.textLength, L'a');
        EXPECT_EQ(FormatInto(text, 8, L"%ls", source.c_str()), c.expected) << c.textLength;
        EXPECT_EQ(std::wstring(text), std::wstring(c.expected, L'a')) << c.textLength;
        EXPECT_EQ(text[8], L'#') << "wrote past the capacity for " << c.textLength;
    }
}

TEST(WideFormat, ZeroAndOneUnitCapacities) {
    wchar_t text[2] = {L'#', L'#'};
    EXPECT_EQ(FormatInto(text, 0, L"abc"), 0u);
    EXPECT_EQ(text[0], L'#');
    EXPECT_EQ(FormatInto(text, 1, L"abc"), 0u);
    EXPECT_EQ(text[0], L'\0');
    EXPECT_EQ(text[1], L'#');
}

}  // namespace
