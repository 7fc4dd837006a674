#include <gtest/gtest.h>

#include "console/Application.h"
#include "console/Uninstall.h"

using namespace quenvar;

TEST(ApplicationCommandLine, OnlyTheExactTailSlashUUninstalls) {
    EXPECT_TRUE(IsUninstallCommand("/U"));
    for (const char* tail : {"", "/u", "/U ", "/UU", " /U", "-U", "U", "/", "x/U", "/U/U"})
        EXPECT_FALSE(IsUninstallCommand(tail)) << '"' << tail << '"';
    EXPECT_FALSE(IsUninstallCommand(nullptr));
}

TEST(ApplicationUninstall, EightDeletionsWithTheFolderLast) {
    const std::vector<std::wstring> paths =
        UninstallDeletions(L"C:\\WINDOWS", L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs",
                           L"C:\\WINDOWS\\system32");
    const std::vector<std::wstring> expected = {
        L"C:\\WINDOWS\\QuenvarUI.exe",
        L"C:\\WINDOWS\\QuenvarDll.dll",
        L"C:\\WINDOWS\\system32\\QuenvarSvc.exe",
        L"C:\\WINDOWS\\system32\\Drivers\\Quenvr.sys",
        L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Quenvar Lockmere\\ReadMe.rtf",
        L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Quenvar Lockmere\\License.rtf",
        L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Quenvar Lockmere\\Lockmere Help.chm",
        L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Quenvar Lockmere",
    };
    EXPECT_EQ(paths, expected);
}

TEST(ApplicationUninstall, AnOverlongFolderIsCutWithinTheBuffer) {
    const std::wstring folder(2000, L'f');
    for (const std::wstring& path : UninstallDeletions(folder.c_str(), folder.c_str(), folder.c_str()))
        EXPECT_EQ(path.size(), 1023u);
}
