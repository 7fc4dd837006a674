#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ClientTestSupport.h"
#include "client/ProgramInfo.h"
#include "client/TemplateValues.h"

using namespace quenvar;
using namespace quenvar::testing;

TEST(ProgramInfoTest, VersionStringsOfTheFirstTranslationAreRead) {
    const std::wstring path = FixturePath(L"QuenvarFixtureFull.dll");
    ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "fixture missing";
    const ProgramInfo info(path);
    EXPECT_EQ(info.path, path);
    EXPECT_EQ(info.displayName, L"Snoop Screen Grabber");
    EXPECT_EQ(info.comments, L"Saves 100% of {\\rtf1 frames} to C:\\Snoop\\%progpath%\\out");
    EXPECT_EQ(info.fileVersion, L"2.5.0.17");
    // "ООО Шпион-Софт"
    EXPECT_EQ(info.companyName, L"\x041e\x041e\x041e \x0428\x043f\x0438\x043e\x043d-\x0421\x043e\x0444\x0442");
    EXPECT_EQ(info.productName, L"Snoop \xd55c\xae00 Edition");
    EXPECT_EQ(info.productVersion, L"2.5");
    EXPECT_EQ(info.legalCopyright, L"\x00a9 2004 Soci\x00e9t\x00e9 Snoop");
    EXPECT_EQ(info.allowedMask, 0u);
    EXPECT_EQ(info.deniedMask, 0u);
}

TEST(ProgramInfoTest, EmptyOrMissingStringsKeepTheirDefaults) {
    const std::wstring path = FixturePath(L"QuenvarFixtureBlank.dll");
    ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "fixture missing";
    const ProgramInfo info(path);
    // A FileDescription of zero length keeps the file name.
    EXPECT_EQ(info.displayName, L"QuenvarFixtureBlank.dll");
    EXPECT_EQ(info.companyName, L"N/A");
    EXPECT_EQ(info.comments, L"N/A");
    EXPECT_EQ(info.productName, L"N/A");
    EXPECT_EQ(info.legalCopyright, L"N/A");
    EXPECT_EQ(info.fileVersion, L"1.0");
    EXPECT_EQ(info.productVersion, L"1.0 beta");
}

TEST(ProgramInfoTest, AFileWithoutVersionResourceIsNamedByItsFileName) {
    for (const std::wstring& path : {FixturePath(L"QuenvarFixtureNone.dll"), FixturePath(L"no such file.exe")}) {
        const ProgramInfo info(path);
        EXPECT_EQ(info.path, path);
        EXPECT_EQ(info.displayName, FileNameOfPath(path));
        EXPECT_EQ(info.comments, L"N/A");
        EXPECT_EQ(info.fileVersion, L"N/A");
        EXPECT_EQ(info.companyName, L"N/A");
        EXPECT_EQ(info.productName, L"N/A");
        EXPECT_EQ(info.productVersion, L"N/A");
        EXPECT_EQ(info.legalCopyright, L"N/A");
    }
    EXPECT_EQ(ProgramInfo(FixturePath(L"QuenvarFixtureNone.dll")).displayName, L"QuenvarFixtureNone.dll");
}

TEST(ProgramInfoTest, TheDisplayNameIsThePartAfterTheLastBackslash) {
    EXPECT_EQ(FileNameOfPath(L"C:\\Program Files\\Snoop\\snoop.exe"), L"snoop.exe");
    EXPECT_EQ(FileNameOfPath(L"snoop.exe"), L"snoop.exe");
    EXPECT_EQ(FileNameOfPath(L"C:\\dir\\"), L"");
    EXPECT_EQ(FileNameOfPath(L"a/b/c.exe"), L"a/b/c.exe");
    EXPECT_EQ(ProgramInfo(L"nowhere-without-backslash.exe").displayName, L"nowhere-without-backslash.exe");
}

TEST(ProgramInfoTest, FillTemplateValuesSetsTheEightPlaceholdersFromTheFields) {
    ProgramInfo info(L"C:\\x\\a.exe");
    info.displayName = L"N";
    info.comments = L"C";
    info.fileVersion = L"V";
    info.companyName = L"O";
    info.productName = L"P";
    info.productVersion = L"R";
    info.legalCopyright = L"L";
    TemplateValues values;
    FillTemplateValues(info, values);
    const TemplateValues expected = {
        {"%progpath%", EscapeTemplateValue(L"C:\\x\\a.exe")},
        {"%progdescription%", "\\u67?"},
        {"%progversion%", "\\u86?"},
        {"%progcompany%", "\\u79?"},
        {"%productname%", "\\u80?"},
        {"%productversion%", "\\u82?"},
        {"%productcopyright%", "\\u76?"},
        {"%progname%", "\\u78?"},
    };
    EXPECT_EQ(values, expected);
}

TEST(ProgramInfoTest, PercentSignsInFieldsAreTextNotFormat) {
    ProgramInfo info(L"C:\\%s%d%n\\%progname%.exe");
    TemplateValues values;
    FillTemplateValues(info, values);
    EXPECT_EQ(values["%progpath%"], EscapeTemplateValue(L"C:\\%s%d%n\\%progname%.exe"));
    EXPECT_EQ(values["%progname%"], EscapeTemplateValue(L"%progname%.exe"));
    // Expanded, the value's own "%progname%" stays text.
    EXPECT_EQ(ExpandTemplate("%progname%", values), EscapeTemplateValue(L"%progname%.exe"));
}
