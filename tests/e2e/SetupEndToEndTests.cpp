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
#include "SystemSupport.h"
#include "common/PipeProtocol.h"
#include "service/InstallationFootprint.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::e2e;
using standin::MakeEvent;
using standin::ReplyOf;

namespace {

constexpr DWORD kInstalled = 0;
constexpr DWORD kInstalledRestartCompletes = 3010;
constexpr DWORD kFileInUse = 32;
constexpr DWORD kUninstallAwaitsRestart = 1072;

constexpr const wchar_t* kRightsKey = L"Software\\Quenvar\\Lockmere\\Rights";
constexpr const wchar_t* kSessionManager = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kMainWindowCaption = L"Quenvar Lockmere 1.0.7";

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return path;
}
std::wstring WindowsFolder() { return SpecialFolder(CSIDL_WINDOWS); }
std::wstring SystemFolder() { return SpecialFolder(CSIDL_SYSTEM); }
std::wstring StartMenuFolder() { return SpecialFolder(CSIDL_COMMON_PROGRAMS) + L"\\Quenvar Lockmere"; }
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

struct RegistryValue {
    bool exists = false;
    DWORD type = 0;
    std::vector<uint8_t> data;
};

RegistryValue ReadValue(HKEY root, const std::wstring& key, const wchar_t* name) {
    RegistryValue value;
    std::vector<uint8_t> data(65536);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, data.data(), &size) ==
        ERROR_SUCCESS) {
        value.exists = true;
        value.data.assign(data.begin(), data.begin() + size);
    }
    return value;
}

bool KeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
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

// The pending operations as (source, target) pairs, in their recorded order.
std::vector<std::pair<std::wstring, std::wstring>> PendingRenames() {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    const RegistryValue value = ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
    if (!value.exists) return pairs;
    const auto* text = reinterpret_cast<const wchar_t*>(value.data.data());
    const size_t units = value.data.size() / sizeof(wchar_t);
    std::vector<std::wstring> strings;
    size_t start = 0;
    for (size_t i = 0; i < units; ++i) {
        if (text[i] != L'\0') continue;
        strings.emplace_back(text + start, text + i);
        start = i + 1;
    }
    // The list ends with an empty string; a rename without target is a deletion.
    if (!strings.empty() && strings.back().empty() && strings.size() % 2 == 1) strings.pop_back();
    for (size_t i = 0; i + 1 < strings.size(); i += 2) pairs.emplace_back(strings[i], strings[i + 1]);
    return pairs;
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

bool ServiceExists(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
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
    // denied without asking; it connects within its first attempt.
    if (processId != 0) Sleep(3000);
    return processId;
}

void EndProcess(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) return;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
}

// Drives the installed system as the driver and a user would.
class InstalledSystem {
public:
    explicit InstalledSystem(DWORD uiProcessId) : uiProcessId_(uiProcessId) {}
    bool DriverReachable() { return driver_.ok(); }

    uint32_t Inject(uint32_t kind, const std::wstring& program) {
        const uint32_t id = ++nextId_;
        driver_.ReadJournal();
        EXPECT_TRUE(driver_.Inject(
            MakeEvent(id, kind, GetCurrentProcessId(), KernelPath(program), KernelPath(program), 0x44)));
        return id;
    }
    // Answers the prompt of the user's program; false when none came.
    bool Answer(bool allow) {
        HWND prompt = FindPrompt(uiProcessId_, 15000);
        if (prompt == nullptr) return false;
        ClickButton(prompt, allow ? 6 : 7);
        return true;
    }
    bool NoPrompt() { return FindPrompt(uiProcessId_, 1500) == nullptr; }
    // The reply that reached the driver for this event, or -1.
    int ReplyFor(uint32_t id) {
        for (const JournalEntry& entry : driver_.WaitForJournal(1, 20000)) {
            if (entry.kind != JOURNAL_REPLY) continue;
            const AccessReply reply = ReplyOf(entry);
            if (reply.eventId == id) return static_cast<int>(reply.allow);
        }
        return -1;
    }
    std::vector<JournalEntry> Journal() { return driver_.ReadJournal(); }

private:
    DWORD uiProcessId_;
    standin::StandInDriverClient driver_;
    static uint32_t nextId_;
};
uint32_t InstalledSystem::nextId_ = 5000;

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
    for (const FootprintValue& expected : InstallationFootprint) {
        const std::wstring key = kGuardedKeys[expected.key];
        const RegistryValue value = ReadValue(HKEY_LOCAL_MACHINE, key, expected.name);
        const std::string where = std::string(key.begin(), key.end()) + " " +
                                  std::string(expected.name, expected.name + wcslen(expected.name));
        ASSERT_TRUE(value.exists) << where;
        EXPECT_EQ(value.type, expected.type) << where;
        EXPECT_EQ(value.data, FootprintData(expected)) << where;
    }
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kGuardedKeys[0], L"DisplayName").exists)
        << "the driver's entry has no display name";
    // Besides the footprint the service keys hold only what Wine's Service
    // Control Manager adds to every service it creates.
    for (size_t keyIndex : {size_t{0}, size_t{1}, size_t{3}}) {
        for (const auto& [name, data] : KeyValues(HKEY_LOCAL_MACHINE, kGuardedKeys[keyIndex])) {
            const bool listed = std::any_of(std::begin(InstallationFootprint), std::end(InstallationFootprint),
                                            [&](const FootprintValue& v) { return v.key == keyIndex && name == v.name; });
            const bool scm = keyIndex < 2 && (name == L"PreshutdownTimeout" || name == L"ObjectName");
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
    InstalledSystem system(uiProcessId);
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
    EXPECT_TRUE(system.NoPrompt());
    EXPECT_EQ(system.ReplyFor(id), 0);
    id = system.Inject(kScreenAccess, kAllowedProgram);
    EXPECT_TRUE(system.NoPrompt());
    EXPECT_EQ(system.ReplyFor(id), 1);
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, kRightsKey).size(), 2u);
}

TEST_F(SetupFreshInstall, UninstallSchedulesExactlyTheInstalledItemsAndRemovesTheFootprint) {
    ASSERT_EQ(setupExit, kInstalled);
    InstalledSystem system(uiProcessId);
    system.Journal();
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
    EXPECT_FALSE(KeyExists(kGuardedKeys[0]));
    EXPECT_FALSE(KeyExists(kGuardedKeys[1]));
    EXPECT_FALSE(KeyExists(kGuardedKeys[3]));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kGuardedKeys[2], L"QuenvarUI").exists);
    const auto journal = system.Journal();
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
    EXPECT_FALSE(KeyExists(kGuardedKeys[0]));
    EXPECT_FALSE(KeyExists(kGuardedKeys[1]));
    EXPECT_FALSE(KeyExists(kGuardedKeys[3]));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kGuardedKeys[2], L"QuenvarUI").exists);
    EXPECT_TRUE(LeftOverFiles().empty());
}

// --- an upgrade over the running system -------------------------------------

TEST(SetupUpgrade, KeepsTheUsersDecisionsAndReplacesTheRunningSystem) {
    ASSERT_EQ(RunSetup(), kInstalled);
    DWORD ui = WaitForUserProgram(30000);
    ASSERT_NE(ui, 0u);
    {
        InstalledSystem system(ui);
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
    InstalledSystem system(next.dwProcessId);
    uint32_t id = system.Inject(kScreenAccess, kAllowedProgram);
    EXPECT_TRUE(system.NoPrompt());
    EXPECT_EQ(system.ReplyFor(id), 1);
    id = system.Inject(kForeignTextAccess, kDeniedProgram);
    EXPECT_TRUE(system.NoPrompt());
    EXPECT_EQ(system.ReplyFor(id), 0);
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
    EXPECT_FALSE(ServiceExists(L"Quenvar"));
    EXPECT_FALSE(ServiceExists(L"QuenvarSvc"));
    EXPECT_FALSE(KeyExists(kGuardedKeys[0]));
    EXPECT_FALSE(KeyExists(kGuardedKeys[1]));
    EXPECT_FALSE(KeyExists(kGuardedKeys[3]));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kGuardedKeys[2], L"QuenvarUI").exists);
    EXPECT_TRUE(PendingRenames().empty());
    EXPECT_TRUE(MainWindows().empty());
}
