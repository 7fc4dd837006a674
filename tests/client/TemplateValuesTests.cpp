#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "client/TemplateValues.h"
#include "ClientTestSupport.h"

using namespace quenvar;
using quenvar::testing::RtfEscaped;

namespace {

std::wstring Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatTemplateValue(format, args);
    va_end(args);
    return text;
}

}  // namespace

TEST(TemplateEscapeTest, EveryCodeUnitBecomesAnUnsignedUnicodeEscape) {
    EXPECT_EQ(EscapeTemplateValue(L"Ab"), "\\u65?\\u98?");
    // RTF syntax in the data is escaped like any other character.
    EXPECT_EQ(EscapeTemplateValue(L"{\\}%"), "\\u123?\\u92?\\u125?\\u37?");
    // Cyrillic "Жук".
    EXPECT_EQ(EscapeTemplateValue(L"\x0416\x0443\x043a"), "\\u1046?\\u1091?\\u1082?");
    // Above 32767 the value stays positive, not RTF's negative form.
    EXPECT_EQ(EscapeTemplateValue(L"\xc350\xffff\x8000"), "\\u50000?\\u65535?\\u32768?");
    // Each half of a surrogate pair is its own escape.
    EXPECT_EQ(EscapeTemplateValue(L"\xd83d\xde00"), "\\u55357?\\u56832?");
    EXPECT_EQ(EscapeTemplateValue(L""), "");
}

TEST(TemplateEscapeTest, ALongValueIsCutAfterTheLastWholeEscapeThatFits) {
    // "\u65?" is 5 bytes: 819 of them fill 4095 bytes exactly.
    const std::string ascii = EscapeTemplateValue(std::wstring(1000, L'A').c_str());
    EXPECT_EQ(ascii.size(), 4095u);
    EXPECT_EQ(ascii.substr(ascii.size() - 5), "\\u65?");

    // "\u1046?" is 7 bytes: 585 of them take 4095 bytes, the 586th does not fit.
    const std::string cyrillic = EscapeTemplateValue(std::wstring(600, L'\x0416').c_str());
    EXPECT_EQ(cyrillic.size(), 585u * 7u);

    // "\u50000?" is 8 bytes: 511 take 4088, and no part of the 512th follows.
    const std::string high = EscapeTemplateValue(std::wstring(600, L'\xc350').c_str());
    EXPECT_EQ(high.size(), 511u * 8u);
    EXPECT_EQ(high.back(), '?');

    // Mixed widths: 4090 bytes of ASCII escapes leave room for no 7-byte escape
    // but for one more 5-byte one.
    std::wstring mixed(818, L'A');
    mixed += L'\x0416';
    mixed += L'B';
    const std::string cut = EscapeTemplateValue(mixed.c_str());
    EXPECT_EQ(cut.size(), 4090u);
    EXPECT_EQ(cut.find("\\u1046"), std::string::npos);
}

TEST(TemplateEscapeTest, APathTooLongIsCutInTheMiddleKeepingItsDriveAndFileName) {
    // Every unit of path() escapes to 5 bytes: 819 of them fill the 4095.
    const auto path = [](size_t as, size_t bs) {
        return L"C:\\" + std::wstring(as, L'A') + L"\\" + std::wstring(bs, L'B') + L"\\N.EXE";
    };
    EXPECT_EQ(EscapeTemplatePath(L"C:\\x\\a.exe"), RtfEscaped(L"C:\\x\\a.exe"));
    EXPECT_EQ(EscapeTemplatePath(path(404, 405)), RtfEscaped(path(404, 405)));
    // One unit more: beside the drive, the file name and "...", 807 units of
    // the folders fit, taken from either side of the cut in turn.
    const std::wstring shown = L"C:\\" + std::wstring(404, L'A') + L"..." + std::wstring(403, L'B') + L"\\N.EXE";
    EXPECT_EQ(EscapeTemplatePath(path(404, 406)), RtfEscaped(shown));
    EXPECT_EQ(EscapeTemplatePath(path(500, 500)), RtfEscaped(shown));
}

TEST(TemplateValueTest, SetTemplateValueFormatsEscapesAndReplaces) {
    TemplateValues values;
    SetTemplateValue(values, "%progversion%", L"%d.%d", 2, 5);
    EXPECT_EQ(values["%progversion%"], "\\u50?\\u46?\\u53?");
    SetTemplateValue(values, "%progversion%", L"%ls", L"x");
    EXPECT_EQ(values["%progversion%"], "\\u120?");
    EXPECT_EQ(values.size(), 1u);
    SetTemplateValue(values, "%progcompany%", L"%ls", L"");
    EXPECT_EQ(values.at("%progcompany%"), "");
}

TEST(TemplateValueTest, AFormattedValueIsCutAt2047Characters) {
    const std::wstring longText(3000, L'x');
    TemplateValues values;
    SetTemplateValue(values, "%progpath%", L"%ls", longText.c_str());
    // 2047 characters would need 12282 bytes of escapes; the byte limit cuts
    // first, after 682 six-byte escapes "\u120?".
    EXPECT_EQ(values["%progpath%"].size(), 682u * 6u);

    EXPECT_EQ(Format(L"%ls", longText.c_str()), std::wstring(2047, L'x'));
    EXPECT_EQ(Format(L"%ls", std::wstring(2047, L'y').c_str()), std::wstring(2047, L'y'));
    EXPECT_EQ(Format(L"%ls", std::wstring(2048, L'z').c_str()), std::wstring(2047, L'z'));
    EXPECT_EQ(Format(L"%ls-%d", L"ab", 3), L"ab-3");
}

TEST(TemplateExpandTest, PlaceholdersAreReplacedAndOtherPercentSignsKept) {
    TemplateValues values;
    values["%progname%"] = "NAME";
    values["%progpath%"] = "PATH";
    EXPECT_EQ(ExpandTemplate("{\\b \"%progname%\"} at \"%progpath%\"", values), "{\\b \"NAME\"} at \"PATH\"");
    EXPECT_EQ(ExpandTemplate("100% sure, %progname%%progname%, %unknown% %", values),
              "100% sure, NAMENAME, %unknown% %");
    EXPECT_EQ(ExpandTemplate("%progname", values), "%progname");
    EXPECT_EQ(ExpandTemplate("%%progpath%%", values), "%PATH%");
}

TEST(TemplateExpandTest, NoValuesLeaveTheTextUnchanged) {
    EXPECT_EQ(ExpandTemplate("{\\rtf1 %progname% 100%}", TemplateValues{}), "{\\rtf1 %progname% 100%}");
    EXPECT_EQ(ExpandTemplate("", TemplateValues{}), "");
}

TEST(TemplateExpandTest, TheFirstMatchingPlaceholderInByteOrderWins) {
    TemplateValues values;
    values["%prog%"] = "SHORT";
    values["%progname%"] = "LONG";
    // "%prog%" sorts before "%progname%" but is not what the text continues with.
    EXPECT_EQ(ExpandTemplate("%progname% %prog%", values), "LONG SHORT");

    TemplateValues overlapping;
    overlapping["%a"] = "1";
    overlapping["%ab%"] = "2";
    EXPECT_EQ(ExpandTemplate("%ab%", overlapping), "1b%");

    // Keys compare as unsigned bytes: 0xE9 sorts after 'z'.
    TemplateValues bytes;
    bytes["%\xe9"] = "HIGH";
    bytes["%z"] = "LOW";
    EXPECT_EQ(bytes.begin()->first, "%z");
}

TEST(TemplateExpandTest, ValuesAreNotScannedAgain) {
    TemplateValues values;
    values["%progname%"] = "%progpath%";
    values["%progpath%"] = "PATH";
    EXPECT_EQ(ExpandTemplate("%progname%", values), "%progpath%");
}

TEST(TemplateExpandTest, APlaceholderIsNotMatchedAcrossTheEndOfTheText) {
    TemplateValues values;
    values[std::string("%a\0b", 4)] = "X";
    values[""] = "EMPTY";
    EXPECT_EQ(ExpandTemplate("%a", values), "%a");
    EXPECT_EQ(ExpandTemplate("x%", values), "x%");
}
