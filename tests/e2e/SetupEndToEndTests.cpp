// The setup program under Wine: QuenvarSetup.exe /S in a fresh prefix lays out
// the whole installation, which then answers injected events and is removed
// again by "QuenvarUI.exe /U"; a second run upgrades it and keeps the user's
// decisions; a file in use stops it before anything is changed.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "RememberedRights.h"
#include "SystemSupport.h"
#include "common/PipeProtocol.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::e2e;

namespace {

constexpr DWORD kInstalled = 0;
constexpr DWORD kInstalledRestartCompletes = 3010;
constexpr DWORD kFileInUse = 32;
constexpr DWORD kUninstallAwaitsRestart = 1072;

constexpr const wchar_t* kRightsKey = L"Software\\Quenvar\\Lockmere\\Rights";
constexpr const wchar_t* kMainWindowCaption = L"Quenvar Lockmere 1.0.7";

using standin::SystemFolder;
using standin::WindowsFolder;
std::wstring StartMenuFolder() {
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, CSIDL_COMMON_PROGRAMS, FALSE);
    return path + std::wstring(L"\\Quenvar Lockmere");
}
std::wstring DocsFolder() { return BinFolder() + L"\\..\\docs"; }

struct InstalledFile {
    std::wstring target;
    std::wstring source;
};

// Every file of the installation and the built file it must be a copy of.
std::vector<InstalledFile> InstalledFiles() {
    return {
        {WindowsFolder() + L"\\QuenvarUI.exe", BuiltFile(L"QuenvarUI.exe")},
        {WindowsFolder() + L"\\QuenvarDll.dll", BuiltFile(L"QuenvarDll.dll")},
        {SystemFolder() + L"\\QuenvarSvc.exe", BuiltFile(L"QuenvarSvc.exe")},
        {SystemFolder() + L"\\Drivers\\Quenvr.sys", BuiltFile(L"QuenvarStandInDriver.sys")},
        {StartMenuFolder() + L"\\ReadMe.rtf", DocsFolder() + L"\\ReadMe.rtf"},
        {StartMenuFolder() + L"\\License.rtf", DocsFolder() + L"\\License.rtf"},
        {StartMenuFolder() + L"\\Lockmere Help.chm", DocsFolder() + L"\\Lockmere Help.chm"},
    };
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder, const std::wstring& pattern = L"*") {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

// Files that the setup program moves aside while it replaces them.
std::vector<std::wstring> LeftOverFiles() {
    std::vector<std::wstring> left;
    for (const InstalledFile& file : InstalledFiles()) {
        const size_t slash = file.target.find_last_of(L'\\');
        for (const std::wstring& name :
             FolderEntries(file.target.substr(0, slash), file.target.substr(slash + 1) + L".*.old"))
            left.push_back(name);
    }
    return left;
}

// Value names and data of a key.
std::map<std::wstring, std::vector<uint8_t>> KeyValues(HKEY root, const std::wstring& key) {
    std::map<std::wstring, std::vector<uint8_t>> values;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[1024];
        DWORD nameLength = 1024;
        std::vector<uint8_t> data(4096);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(handle, index, name, &nameLength, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS)
            break;
        data.resize(size);
        values[name] = data;
    }
    RegCloseKey(handle);
    return values;
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return text;
}

DWORD RunSetup() {
    PROCESS_INFORMATION setup = StartProgram(BuiltFile(L"QuenvarSetup.exe"), L"/S");
    const DWORD code = WaitForExit(setup, 240000);
    EndProgram(setup);
    return code;
}

// The main windows (hidden, behind the tray icon) of running QuenvarUI programs.
std::vector<HWND> MainWindows() {
    std::vector<HWND> windows;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32770", kMainWindowCaption)) != nullptr)
        windows.push_back(window);
    return windows;
}

DWORD WaitForUserProgram(DWORD timeoutMs) {
    DWORD processId = 0;
    WaitFor(
        [&] {
            const auto windows = MainWindows();
            if (windows.empty()) return false;
            GetWindowThreadProcessId(windows[0], &processId);
            return true;
        },
        timeoutMs);
    // Until it has connected to the service, a screen access of this logon is
    // denied without asking.
    standin::StandInDriverClient driver;
    return processId != 0 && WaitUntilServed(driver, 0x7FFF0000 + processId) ? processId : 0;
}

void EndProcess(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) return;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
}

void ExpectInstalledFilesAreTheBuiltOnes() {
    for (const InstalledFile& file : InstalledFiles()) {
        const std::string built = ReadBytes(file.source);
        ASSERT_NE(built, "<missing>") << "the build has no " << std::string(file.source.begin(), file.source.end());
        EXPECT_TRUE(ReadBytes(file.target) == built)
            << std::string(file.target.begin(), file.target.end()) << " is not the built file";
    }
}

// Every value of the installation's registry entries, by type and data.
void ExpectFootprint() {
    const std::vector<InstalledValue> footprint = InstalledValues();
    for (const InstalledValue& expected : footprint) {
        const RegistryValue value = ReadValue(HKEY_LOCAL_MACHINE, expected.key, expected.name);
        const std::string where = std::string(expected.key, expected.key + wcslen(expected.key)) + " " +
                                  std::string(expected.name, expected.name + wcslen(expected.name));
        ASSERT_TRUE(value.exists) << where;
        EXPECT_EQ(value.type, expected.type) << where;
        EXPECT_EQ(value.data, expected.data) << where;
    }
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kDriverKey, L"DisplayName").exists)
        << "the driver's entry has no display name";
    // Besides the footprint the service keys hold only what Wine's Service
    // Control Manager adds to every service it creates.
    for (const wchar_t* key : {kDriverKey, kServiceKey, kUninstallKey}) {
        for (const auto& [name, data] : KeyValues(HKEY_LOCAL_MACHINE, key)) {
            const bool listed = std::any_of(footprint.begin(), footprint.end(), [&](const InstalledValue& v) {
                return std::wstring(v.key) == key && name == v.name;
            });
            const bool scm = key != kUninstallKey && (name == L"PreshutdownTimeout" || name == L"ObjectName");
            EXPECT_TRUE(listed || scm) << "unexpected value " << std::string(name.begin(), name.end());
        }
    }
}

const std::wstring kAllowedProgram = L"C:\\quenvar-setup-test\\viewer.exe";
const std::wstring kDeniedProgram = L"C:\\quenvar-setup-test\\grabber.exe";

}  // namespace

// --- a fresh installation, then its uninstall -------------------------------

class SetupFreshInstall : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setupExit = RunSetup();
        uiProcessId = WaitForUserProgram(30000);
    }
    static void TearDownTestSuite() {
        if (uiProcessId != 0) EndProcess(uiProcessId);
    }
    static DWORD setupExit;
    static DWORD uiProcessId;
};
DWORD SetupFreshInstall::setupExit = STILL_ACTIVE;
DWORD SetupFreshInstall::uiProcessId = 0;

TEST_F(SetupFreshInstall, CopiesEveryFileAndMakesTheStartMenuFolderWithTheThreeDocuments) {
    ASSERT_EQ(setupExit, kInstalled);
    ExpectInstalledFilesAreTheBuiltOnes();
    EXPECT_EQ(FolderEntries(StartMenuFolder()),
              (std::vector<std::wstring>{L"License.rtf", L"Lockmere Help.chm", L"ReadMe.rtf"}));
    EXPECT_TRUE(LeftOverFiles().empty());
    EXPECT_TRUE(PendingRenames().empty());
}

TEST_F(SetupFreshInstall, WritesEveryValueOfTheInstallationFootprint) {
    ASSERT_EQ(setupExit, kInstalled);
    ExpectFootprint();
}

TEST_F(SetupFreshInstall, StartsTheDriverTheServiceAndTheUsersProgram) {
    ASSERT_EQ(setupExit, kInstalled);
    EXPECT_EQ(standin::ServiceState(L"Quenvar"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(standin::ServiceState(L"QuenvarSvc"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(standin::WaitForPipe(kPipeName, 20000));
    EXPECT_NE(uiProcessId, 0u) << "the setup program did not start QuenvarUI.exe";
    EXPECT_EQ(MainWindows().size(), 1u);
}

TEST_F(SetupFreshInstall, TheInstalledSystemAsksRemembersAndAnswersTheDriver) {
    ASSERT_EQ(setupExit, kInstalled);
    ASSERT_NE(uiProcessId, 0u);
    UserProgram system(uiProcessId);
    ASSERT_TRUE(system.DriverReachable());
    MakeProgramFile(kAllowedProgram, 71);
    MakeProgramFile(kDeniedProgram, 72);

    uint32_t id = system.Inject(kScreenAccess, kAllowedProgram);
    ASSERT_TRUE(system.Answer(true));
    EXPECT_EQ(system.ReplyFor(id), 1);

    id = system.Inject(kKeyboardHook, kDeniedProgram);
    ASSERT_TRUE(system.Answer(false));
    EXPECT_EQ(system.ReplyFor(id), 0);

    // Remembered: no prompt, the same answers.
    id = system.Inject(kKeyboardHook, kDeniedProgram);
    EXPECT_EQ(system.ReplyFor(id), 0);
    EXPECT_TRUE(system.NoPrompt());
    id = system.Inject(kScreenAccess, kAllowedProgram);
    EXPECT_EQ(system.ReplyFor(id), 1);
    EXPECT_TRUE(system.NoPrompt());
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, kRightsKey).size(), 2u);
}

TEST_F(SetupFreshInstall, UninstallSchedulesExactlyTheInstalledItemsAndRemovesTheFootprint) {
    ASSERT_EQ(setupExit, kInstalled);
    standin::StandInDriverClient driver;
    driver.ReadJournal();
    const auto rightsBefore = KeyValues(HKEY_CURRENT_USER, kRightsKey);

    PROCESS_INFORMATION uninstall = StartProgram(WindowsFolder() + L"\\QuenvarUI.exe", L"/U");
    HWND sure = FindDialogOf(uninstall.dwProcessId, L"Are You Sure?", 15000);
    ASSERT_NE(sure, nullptr);
    ClickButton(sure, IDYES);
    HWND reboot = FindDialogOf(uninstall.dwProcessId, L"Reboot?", 15000);
    ASSERT_NE(reboot, nullptr);
    ClickButton(reboot, IDNO);
    EXPECT_EQ(WaitForExit(uninstall, 15000), 0u);
    EndProgram(uninstall);

    // Eight deletions at the restart: the seven files, then the folder.
    std::vector<std::wstring> expected;
    for (const InstalledFile& file : InstalledFiles()) expected.push_back(Lower(L"\\??\\" + file.target));
    expected.push_back(Lower(L"\\??\\" + StartMenuFolder()));
    const auto pending = PendingRenames();
    ASSERT_EQ(pending.size(), expected.size());
    for (size_t i = 0; i < pending.size(); ++i) {
        EXPECT_EQ(Lower(pending[i].first), expected[i]) << "deletion " << i + 1;
        EXPECT_TRUE(pending[i].second.empty()) << "deletion " << i + 1;
    }
    // Nothing is deleted before the restart.
    for (const InstalledFile& file : InstalledFiles()) EXPECT_TRUE(Exists(file.target));

    // The footprint is gone and stays gone: the guard was switched off first.
    Sleep(2500);
    EXPECT_FALSE(KeyExists(kDriverKey));
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kRunKey, L"QuenvarUI").exists);
    const auto journal = driver.ReadJournal();
    EXPECT_TRUE(std::any_of(journal.begin(), journal.end(),
                            [](const JournalEntry& e) { return e.kind == JOURNAL_DISABLE_GUARD; }));
    // The user's decisions stay for a later installation.
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, kRightsKey), rightsBefore);
}

TEST_F(SetupFreshInstall, SetupBeforeTheUninstallsRestartChangesNothing) {
    ASSERT_EQ(setupExit, kInstalled);
    const auto pending = PendingRenames();
    ASSERT_EQ(pending.size(), 8u) << "runs after the uninstall";
    EXPECT_EQ(RunSetup(), kUninstallAwaitsRestart);
    EXPECT_EQ(PendingRenames(), pending);
    EXPECT_FALSE(KeyExists(kDriverKey));
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kRunKey, L"QuenvarUI").exists);
    EXPECT_TRUE(LeftOverFiles().empty());
}

// --- an upgrade over the running system -------------------------------------

TEST(SetupUpgrade, KeepsTheUsersDecisionsAndReplacesTheRunningSystem) {
    ASSERT_EQ(RunSetup(), kInstalled);
    DWORD ui = WaitForUserProgram(30000);
    ASSERT_NE(ui, 0u);
    {
        UserProgram system(ui);
        ASSERT_TRUE(system.DriverReachable());
        MakeProgramFile(kAllowedProgram, 81);
        MakeProgramFile(kDeniedProgram, 82);
        uint32_t id = system.Inject(kScreenAccess, kAllowedProgram);
        ASSERT_TRUE(system.Answer(true));
        EXPECT_EQ(system.ReplyFor(id), 1);
        id = system.Inject(kForeignTextAccess, kDeniedProgram);
        ASSERT_TRUE(system.Answer(false));
        EXPECT_EQ(system.ReplyFor(id), 0);
    }
    const auto rights = KeyValues(HKEY_CURRENT_USER, kRightsKey);
    ASSERT_EQ(rights.size(), 2u);

    // The service cannot be stopped and the driver is loaded: their files are
    // replaced by renaming, and the old ones go at the restart.
    const DWORD second = RunSetup();
    EXPECT_TRUE(second == kInstalled || second == kInstalledRestartCompletes) << second;
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, kRightsKey), rights);
    ExpectInstalledFilesAreTheBuiltOnes();
    ExpectFootprint();
    EXPECT_EQ(standin::ServiceState(L"Quenvar"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(standin::ServiceState(L"QuenvarSvc"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(MainWindows().size(), 1u) << "the upgrade started a second program";
    if (second == kInstalledRestartCompletes) {
        // What was moved aside is scheduled for deletion, nothing else.
        for (const auto& [source, target] : PendingRenames()) {
            EXPECT_TRUE(target.empty());
            EXPECT_NE(Lower(source).find(L".old"), std::wstring::npos);
        }
    }

    // A new program in the logon still honours the decisions made before.
    EndProcess(ui);
    PROCESS_INFORMATION next = StartProgram(WindowsFolder() + L"\\QuenvarUI.exe", L"");
    ASSERT_NE(WaitForUserProgram(30000), 0u);
    UserProgram system(next.dwProcessId);
    uint32_t id = system.Inject(kScreenAccess, kAllowedProgram);
    EXPECT_EQ(system.ReplyFor(id), 1);
    EXPECT_TRUE(system.NoPrompt());
    id = system.Inject(kForeignTextAccess, kDeniedProgram);
    EXPECT_EQ(system.ReplyFor(id), 0);
    EXPECT_TRUE(system.NoPrompt());
    EndProgram(next);
}

// --- a file in use ------------------------------------------------------------

TEST(SetupFileInUse, StopsBeforeAnythingIsChanged) {
    // A file left at the first place is moved aside before the locked one is
    // met, so it must come back; the locked one is never touched.
    const std::wstring earlier = WindowsFolder() + L"\\QuenvarUI.exe";
    const std::wstring locked = SystemFolder() + L"\\Drivers\\Quenvr.sys";
    WriteBytes(earlier, "left over from before");
    WriteBytes(locked, "held open by another program");
    HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);

    EXPECT_EQ(RunSetup(), kFileInUse);
    CloseHandle(hold);

    EXPECT_EQ(ReadBytes(earlier), "left over from before");
    EXPECT_EQ(ReadBytes(locked), "held open by another program");
    EXPECT_FALSE(Exists(WindowsFolder() + L"\\QuenvarDll.dll"));
    EXPECT_FALSE(Exists(SystemFolder() + L"\\QuenvarSvc.exe"));
    EXPECT_FALSE(Exists(StartMenuFolder()));
    EXPECT_TRUE(LeftOverFiles().empty());
    EXPECT_FALSE(ServiceEntryExists(L"Quenvar"));
    EXPECT_FALSE(ServiceEntryExists(L"QuenvarSvc"));
    EXPECT_FALSE(KeyExists(kDriverKey));
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kRunKey, L"QuenvarUI").exists);
    EXPECT_TRUE(PendingRenames().empty());
    EXPECT_TRUE(MainWindows().empty());
}
