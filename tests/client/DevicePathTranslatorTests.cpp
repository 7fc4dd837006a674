#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "client/DevicePathTranslator.h"

using namespace quenvar;

namespace {

// A drive table chosen by the test: the mask GetLogicalDrives reports and the
// raw answer QueryDosDeviceW gives per drive letter (embedded zeros make a
// multi-string; a letter without an answer fails).
struct ChosenDrives {
    DWORD mask = 0;
    std::map<wchar_t, std::wstring> answers;
    std::vector<std::wstring> queried;
};
ChosenDrives chosen;

DWORD WINAPI ChosenLogicalDrives() { return chosen.mask; }

DWORD WINAPI ChosenDosDevice(LPCWSTR deviceName, LPWSTR targetPath, DWORD maxChars) {
    chosen.queried.push_back(deviceName);
    const auto found = chosen.answers.find(deviceName[0]);
    if (found == chosen.answers.end() || deviceName[1] != L':' || deviceName[2] != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    const std::wstring& answer = found->second;
    if (answer.size() + 2 > maxChars) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Like the real call: the strings, then the list's closing zero.
    answer.copy(targetPath, answer.size());
    targetPath[answer.size()] = 0;
    targetPath[answer.size() + 1] = 0;
    return DWORD(answer.size() + 2);
}

const DriveTableSource kChosenDrives = {ChosenLogicalDrives, ChosenDosDevice};

DWORD DriveBit(wchar_t letter) { return 1u << (letter - L'A'); }

// W: is used as the Windows drive in the plain rewrite tests so that a result
// of the rootless rule cannot be taken for a table match.
constexpr const wchar_t* kWindowsDrive = L"W:";

const DeviceTable kVolumes = {
    {L"\\Device\\HarddiskVolume1", L"C:"},
    {L"\\Device\\HarddiskVolume10", L"D:"},
};

}  // namespace

TEST(DevicePrefixRewrite, DeviceTargetBecomesItsDriveName) {
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\Device\\HarddiskVolume1\\WINDOWS\\notepad.exe"),
              L"C:\\WINDOWS\\notepad.exe");
    // Exactly the target, nothing after it: the bare drive name.
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\Device\\HarddiskVolume1"), L"C:");
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\Device\\HarddiskVolume10"), L"D:");
    // Shorter than every key: no entry, so the rootless rule applies.
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\Device\\Hard"), L"W:\\Device\\Hard");
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\Device\\HarddiskVolume"),
              L"W:\\Device\\HarddiskVolume");
}

TEST(DevicePrefixRewrite, TargetMustEndAtAPathBoundary) {
    // \Device\HarddiskVolume1 comes first in key order and begins this path,
    // but the file is on volume 10: it must not become C:0\tools\x.exe.
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\Device\\HarddiskVolume10\\tools\\x.exe"),
              L"D:\\tools\\x.exe");
    // A volume without a drive is not claimed by a key that merely begins it.
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\Device\\HarddiskVolume11\\x.exe"),
              L"W:\\Device\\HarddiskVolume11\\x.exe");
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\Device\\HarddiskVolume1x.exe"),
              L"W:\\Device\\HarddiskVolume1x.exe");
    // Without the volume 10 entry the same path still finds no drive.
    const DeviceTable onlyOne = {{L"\\Device\\HarddiskVolume1", L"C:"}};
    EXPECT_EQ(RewriteDevicePrefix(onlyOne, kWindowsDrive, L"\\Device\\HarddiskVolume10\\x.exe"),
              L"W:\\Device\\HarddiskVolume10\\x.exe");
    // A target that ends in a backslash names a root and keeps the separator.
    const DeviceTable rooted = {{L"\\??\\C:\\stage\\", L"S:"}};
    EXPECT_EQ(RewriteDevicePrefix(rooted, kWindowsDrive, L"\\??\\C:\\stage\\x.exe"), L"S:\\x.exe");
    EXPECT_EQ(RewriteDevicePrefix(rooted, kWindowsDrive, L"\\??\\C:\\stage\\"), L"S:\\");
}

TEST(DevicePrefixRewrite, PrefixesAreCaseSensitive) {
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\device\\harddiskvolume1\\x"),
              L"W:\\device\\harddiskvolume1\\x");
    const DeviceTable twoSpellings = {{L"\\Device\\Foo", L"E:"}, {L"\\Device\\FOO", L"F:"}};
    EXPECT_EQ(RewriteDevicePrefix(twoSpellings, kWindowsDrive, L"\\Device\\Foo\\a.exe"), L"E:\\a.exe");
    EXPECT_EQ(RewriteDevicePrefix(twoSpellings, kWindowsDrive, L"\\Device\\FOO\\a.exe"), L"F:\\a.exe");
    EXPECT_EQ(RewriteDevicePrefix(twoSpellings, kWindowsDrive, L"\\Device\\foo\\a.exe"), L"W:\\Device\\foo\\a.exe");
}

TEST(DevicePrefixRewrite, RootlessPathsGoToTheWindowsDriveAndOthersPassUnchanged) {
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"\\WINDOWS\\x.exe"), L"W:\\WINDOWS\\x.exe");
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, L"C:", L"\\WINDOWS\\system32\\x.exe"),
              L"C:\\WINDOWS\\system32\\x.exe");
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"system32\\x.exe"), L"system32\\x.exe");
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"D:\\Program Files\\x.exe"), L"D:\\Program Files\\x.exe");
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L"x.exe"), L"x.exe");
    EXPECT_EQ(RewriteDevicePrefix(kVolumes, kWindowsDrive, L""), L"");
    // With no drives at all only the last two rules are left.
    EXPECT_EQ(RewriteDevicePrefix(DeviceTable(), kWindowsDrive, L"\\Device\\HarddiskVolume1\\x.exe"),
              L"W:\\Device\\HarddiskVolume1\\x.exe");
}

class DriveTableTest : public ::testing::Test {
protected:
    void SetUp() override { chosen = ChosenDrives(); }
};

TEST_F(DriveTableTest, TableHoldsTheFirstStringOfEveryDriveThatAnswers) {
    chosen.mask = DriveBit(L'C') | DriveBit(L'D') | DriveBit(L'E') | DriveBit(L'F') | DriveBit(L'G') |
                  DriveBit(L'H');
    chosen.answers[L'C'] = L"\\Device\\HarddiskVolume1";
    chosen.answers[L'D'] = L"\\Device\\HarddiskVolume10";
    // E: does not answer.
    chosen.answers[L'F'] = std::wstring(L"\\Device\\CdRom0\0\\Device\\Other", 29);
    chosen.answers[L'G'] = L"";  // an empty target would begin every path
    chosen.answers[L'H'] = L"\\Device\\HarddiskVolume1";  // same target as C:, later drive wins
    // The 1024-unit buffer holds a target of 1022 and the list's two zeros.
    const std::wstring fits = L"\\Device\\" + std::wstring(1022 - 8, L'i');
    chosen.mask |= DriveBit(L'I') | DriveBit(L'J');
    chosen.answers[L'I'] = fits;
    chosen.answers[L'J'] = fits + L'j';

    DevicePathTranslator translator(kChosenDrives);
    EXPECT_EQ(translator.lastDriveMask, chosen.mask);
    const std::vector<std::wstring> letters = {L"C:", L"D:", L"E:", L"F:", L"G:", L"H:", L"I:", L"J:"};
    EXPECT_EQ(chosen.queried, letters);
    const DeviceTable expected = {
        {L"\\Device\\CdRom0", L"F:"},
        {L"\\Device\\HarddiskVolume1", L"H:"},
        {L"\\Device\\HarddiskVolume10", L"D:"},
        {fits, L"I:"},
    };
    EXPECT_EQ(translator.deviceToDrive, expected);
}

TEST_F(DriveTableTest, RefreshRebuildsOnlyWhenTheDrivesChange) {
    // No drives at the first build: nothing asked, empty table.
    DevicePathTranslator translator(kChosenDrives);
    EXPECT_EQ(translator.lastDriveMask, 0u);
    EXPECT_TRUE(chosen.queried.empty());
    EXPECT_TRUE(translator.deviceToDrive.empty());

    chosen.mask = DriveBit(L'C') | DriveBit(L'D');
    chosen.answers[L'C'] = L"\\Device\\HarddiskVolume1";
    chosen.answers[L'D'] = L"\\Device\\HarddiskVolume2";
    translator.Refresh();
    EXPECT_EQ(translator.deviceToDrive.size(), 2u);
    EXPECT_EQ(chosen.queried.size(), 2u);

    // Same drives: the table stays as built, even if a target moved meanwhile.
    chosen.answers[L'D'] = L"\\Device\\HarddiskVolume9";
    translator.Refresh();
    EXPECT_EQ(chosen.queried.size(), 2u);
    EXPECT_EQ(translator.deviceToDrive.count(L"\\Device\\HarddiskVolume2"), 1u);

    // D: removed: rebuilt from scratch.
    chosen.mask = DriveBit(L'C');
    translator.Refresh();
    EXPECT_EQ(chosen.queried.size(), 3u);
    const DeviceTable expected = {{L"\\Device\\HarddiskVolume1", L"C:"}};
    EXPECT_EQ(translator.deviceToDrive, expected);
    EXPECT_EQ(translator.lastDriveMask, DriveBit(L'C'));
}

TEST_F(DriveTableTest, ToDosPathRewritesThenExpands) {
    // A chosen target for the real drive C:, so that the expansion sees real files.
    chosen.mask = DriveBit(L'C');
    chosen.answers[L'C'] = L"\\Device\\ChosenVolume7";
    DevicePathTranslator translator(kChosenDrives);

    wchar_t windowsDirectory[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryW(windowsDirectory, MAX_PATH), 2u);
    EXPECT_EQ(std::wstring(translator.windowsDrive), std::wstring(windowsDirectory, 2));

    EXPECT_EQ(translator.ToDosPath(L"\\Device\\ChosenVolume7"), L"C:");
    // A file that does not exist cannot be expanded: the rewritten path is kept.
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\ChosenVolume7\\No Such Dir\\PROGRA~1.EXE"),
              L"C:\\No Such Dir\\PROGRA~1.EXE");
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\HarddiskVolume1\\No Such Dir\\x.exe"),
              std::wstring(translator.windowsDrive) + L"\\Device\\HarddiskVolume1\\No Such Dir\\x.exe");
    EXPECT_EQ(translator.ToDosPath(L"relative\\x.exe"), L"relative\\x.exe");
}

namespace {

// A file with a long name in a fresh folder of the temp directory.
class LongNamedFile {
public:
    LongNamedFile() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        directory = std::wstring(temp) + L"Quenvar Path Translation Folder";
        CreateDirectoryW(directory.c_str(), nullptr);
        path = directory + L"\\A Program With A Long Name.exe";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, "MZ", 2, &written, nullptr);
            CloseHandle(file);
        }
    }
    ~LongNamedFile() {
        DeleteFileW(path.c_str());
        RemoveDirectoryW(directory.c_str());
    }

    std::wstring directory;
    std::wstring path;
};

std::wstring LongForm(const std::wstring& path) {
    wchar_t buffer[2048];
    const DWORD length = GetLongPathNameW(path.c_str(), buffer, 2048);
    return length > 0 && length < 2048 ? std::wstring(buffer) : std::wstring();
}

std::wstring ShortForm(const std::wstring& path) {
    wchar_t buffer[2048];
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, 2048);
    return length > 0 && length < 2048 ? std::wstring(buffer) : std::wstring();
}

// The kernel's name of an open file, as the driver reports it.
std::wstring DevicePathOf(const std::wstring& path) {
    using GetFinalPathNameByHandleFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    const auto getFinalPath = reinterpret_cast<GetFinalPathNameByHandleFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (getFinalPath == nullptr) return std::wstring();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::wstring();
    wchar_t buffer[2048];
    const DWORD volumeNameNt = 2;
    const DWORD length = getFinalPath(file, buffer, 2048, volumeNameNt);
    CloseHandle(file);
    return length > 0 && length < 2048 ? std::wstring(buffer) : std::wstring();
}

}  // namespace

TEST(DevicePathTranslatorOnWine, RealDrivesMapTheirDeviceTargets) {
    wchar_t target[1024];
    ASSERT_GT(QueryDosDeviceW(L"C:", target, 1024), 0u);
    const std::wstring cTarget(target);
    ASSERT_EQ(cTarget.rfind(L"\\Device\\", 0), 0u) << "C: maps to " << std::string(cTarget.begin(), cTarget.end());

    DevicePathTranslator translator;
    EXPECT_EQ(translator.lastDriveMask, GetLogicalDrives());
    ASSERT_EQ(translator.deviceToDrive.count(cTarget), 1u);
    EXPECT_EQ(translator.deviceToDrive.at(cTarget), L"C:");
    EXPECT_EQ(translator.ToDosPath(cTarget), L"C:");

    // A real file's kernel name comes back as its drive-letter long path.
    LongNamedFile file;
    const std::wstring longPath = LongForm(file.path);
    ASSERT_FALSE(longPath.empty());
    const std::wstring devicePath = DevicePathOf(file.path);
    ASSERT_EQ(devicePath.rfind(cTarget + L"\\", 0), 0u);
    EXPECT_EQ(translator.ToDosPath(devicePath), longPath);
}

TEST(DevicePathTranslatorOnWine, ShortNamesAreExpandedToLongOnes) {
    LongNamedFile file;
    const std::wstring longPath = LongForm(file.path);
    const std::wstring shortPath = ShortForm(file.path);
    ASSERT_FALSE(longPath.empty());
    // Wine makes 8.3 names for long ones (such as A_PR~XYZ.EXE).
    ASSERT_FALSE(shortPath.empty());
    ASSERT_NE(shortPath, longPath);
    ASSERT_EQ(shortPath.find(L' '), std::wstring::npos);

    wchar_t target[1024];
    ASSERT_GT(QueryDosDeviceW(L"C:", target, 1024), 0u);
    ASSERT_EQ(shortPath.compare(0, 2, L"C:"), 0);
    DevicePathTranslator translator;
    // Kernel form, rootless form and drive-letter form of the short name.
    EXPECT_EQ(translator.ToDosPath(std::wstring(target) + shortPath.substr(2)), longPath);
    EXPECT_EQ(translator.ToDosPath(shortPath.substr(2)), longPath);
    EXPECT_EQ(translator.ToDosPath(shortPath), longPath);
}

namespace {

// Folders with long names under the temp folder, nested so that the long form
// of the innermost has exactly `length` characters. Made through paths with
// the prefix that knows no MAX_PATH; removed by the destructor.
class DeepFolder {
public:
    DeepFolder(size_t length, wchar_t tag) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        std::wstring path = LongForm(temp);
        if (!path.empty() && path.back() == L'\\') path.pop_back();
        while (path.size() + 1 < length) {
            const size_t room = length - path.size() - 1;
            // Every name long enough to have a distinct short form.
            const size_t name = room <= 200 ? room : (room - 200 < 13 ? room - 13 : 200);
            path += L"\\" + (std::wstring(1, tag) + L" deep folder " + std::wstring(200, L'q')).substr(0, name);
            CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr);
            made.push_back(path);
        }
        longPath = path;
        shortPath = ShortForm(L"\\\\?\\" + path);
        if (shortPath.compare(0, 4, L"\\\\?\\") == 0) shortPath.erase(0, 4);
    }
    ~DeepFolder() {
        for (auto folder = made.rbegin(); folder != made.rend(); ++folder)
            RemoveDirectoryW((L"\\\\?\\" + *folder).c_str());
    }
    std::vector<std::wstring> made;
    std::wstring longPath;
    std::wstring shortPath;
};

}  // namespace

// The long form is expanded into 1024 characters: 1023 and its NUL fit.
TEST(DevicePathTranslatorOnWine, ALongFormIsExpandedWhileItFitsTheBufferAndOtherwiseLeftShort) {
    DevicePathTranslator translator;
    for (const size_t length : {size_t{1023}, size_t{1024}}) {
        const DeepFolder folder(length, length == 1023 ? L'a' : L'b');
        ASSERT_EQ(folder.longPath.size(), length);
        ASSERT_FALSE(folder.shortPath.empty()) << length;
        ASSERT_LT(folder.shortPath.size(), size_t{MAX_PATH});
        const std::wstring expected = length == 1023 ? folder.longPath : folder.shortPath;
        EXPECT_EQ(translator.ToDosPath(folder.shortPath), expected) << length;
    }
}

TEST_F(DriveTableTest, AVolumeMountedLaterIsFoundByRefreshingTheTableOnce) {
    chosen.mask = DriveBit(L'C');
    chosen.answers[L'C'] = L"\\Device\\HarddiskVolume1";
    DevicePathTranslator translator(kChosenDrives);
    const std::wstring windowsDrive = translator.windowsDrive;

    chosen.mask |= DriveBit(L'E');
    chosen.answers[L'E'] = L"\\Device\\HarddiskVolume5";
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\HarddiskVolume5\\No Such Dir\\x.exe"), L"E:\\No Such Dir\\x.exe");

    // A device that no drive names: one refresh, then the fallback.
    const size_t asked = chosen.queried.size();
    EXPECT_EQ(translator.ToDosPath(L"\\Device\\Unmounted\\x.exe"), windowsDrive + L"\\Device\\Unmounted\\x.exe");
    EXPECT_EQ(chosen.queried.size(), asked + 2);  // C: and E: once each
    // Known devices and rootless paths ask nothing.
    translator.ToDosPath(L"\\Device\\HarddiskVolume1\\x.exe");
    translator.ToDosPath(L"\\WINDOWS\\x.exe");
    EXPECT_EQ(chosen.queried.size(), asked + 2);
}
