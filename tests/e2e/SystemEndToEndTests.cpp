// The whole system under Wine: the stand-in driver and QuenvarSvc installed and
// running, QuenvarUI started as the user's program, access events injected and
// the prompts answered as a user would.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <vector>

#include "ServiceOwnedPipe.h"
#include "E2eSupport.h"
#include "KeyReadOnly.h"
#include "RememberedRights.h"
#include "SystemSupport.h"
#include "client/RecordSignature.h"
#include "common/PipeProtocol.h"
#include "common/UniqueResource.h"
#include "support/ProcessCounts.h"
#include "support/StandInDriverClient.h"
#include "support/WineSystem.h"

using namespace quenvar;
using namespace quenvar::e2e;
using quenvar::testing::KeyReadOnly;

namespace {

constexpr const wchar_t* kRightsKey = L"Software\\Quenvar\\Lockmere\\Rights";

std::vector<uint8_t> StoredRecord(const std::wstring& path) {
    std::vector<uint8_t> data(256);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueW(HKEY_CURRENT_USER, kRightsKey, path.c_str(), RRF_RT_ANY, nullptr, data.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    data.resize(size);
    return data;
}

class SystemTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        installed = InstallSystem(true);
        if (installed) ui = StartProgram(WindowsFile(L"QuenvarUI.exe"), L"");
        standin::StandInDriverClient driver;
        installed = installed && WaitUntilServed(driver, 1);
    }
    static void TearDownTestSuite() { EndProgram(ui); }
    void SetUp() override {
        ASSERT_TRUE(installed);
        ASSERT_NE(ui.hProcess, nullptr);
        ASSERT_TRUE(user.DriverReachable());
    }
    static std::wstring WindowsFile(const wchar_t* name) { return standin::WindowsFolder() + L"\\" + name; }

    static bool installed;
    static PROCESS_INFORMATION ui;
    UserProgram user{ui.dwProcessId};
};
bool SystemTest::installed = false;
PROCESS_INFORMATION SystemTest::ui = {};

const std::wstring kProgram1 = L"C:\\quenvar-test\\snapper.exe";
// A folder named in Cyrillic: the log and the tools that print it keep it whole.
const std::wstring kProgram2 = L"C:\\quenvar-\x0428\x043f\x0438\x043e\x043d\\keylogger.exe";
const std::wstring kProgram3 = L"C:\\quenvar-test\\host.exe";
const std::wstring kModule3 = L"C:\\quenvar-test\\plugin.dll";
const std::wstring kProgram4 = L"C:\\quenvar-test\\odd.exe";
const std::wstring kProgram5 = L"C:\\quenvar-test\\second.exe";

}  // namespace

TEST_F(SystemTest, StartsHiddenWithTheStartUpLinesFirstInTheLog) {
    EXPECT_TRUE(VisibleWindowsOf(ui.dwProcessId).empty());
    const auto rows = ReadLogRows(ui.dwProcessId);
    ASSERT_GE(rows.size(), 5u);
    EXPECT_EQ(rows[0].second, L"Quenvar Lockmere 1.0.7 loaded.");
    EXPECT_EQ(rows[1].second, L"Please report bugs, suggestions and comments to support@quenvar.example!");
    EXPECT_EQ(rows[2].second, L"NEED HELP?  Click Start -> All Programs -> Quenvar Lockmere -> Lockmere Help");
    // The hook library was called once at start.
    DWORD calls = 0, size = sizeof(calls);
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\QuenvarStandIn", L"HookCalls", RRF_RT_REG_DWORD, nullptr,
                           &calls, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(calls, 1u);
}

TEST_F(SystemTest, AnUnsettledScreenAccessPromptsAndAllowIsStoredAndRemembered) {
    MakeProgramFile(kProgram1, 1);
    const uint32_t id = user.Inject(kScreenAccess, kProgram1);
    HWND prompt = FindPrompt(ui.dwProcessId, 10000);
    ASSERT_NE(prompt, nullptr);
    const std::wstring text = ControlText(prompt, 1008);
    EXPECT_NE(text.find(L"Unauthorized Screen Access"), std::wstring::npos) << text;
    EXPECT_NE(text.find(kProgram1), std::wstring::npos) << text;
    ClickButton(prompt, 6);
    EXPECT_EQ(user.ReplyFor(id), 1);

    const std::vector<uint8_t> record = StoredRecord(kProgram1);
    ASSERT_EQ(record.size(), 42u);
    EXPECT_EQ(record[0], 0);     // denied
    EXPECT_EQ(record[1], 0x01);  // allowed: screen access
    DeriveMachineKey();  // the record verifies under the key QuenvarUI derives on this machine
    EXPECT_TRUE(Verify(record.data(), record.size(), Fingerprint(kProgram1.c_str()).data()));

    // The same program again: answered from memory, no prompt.
    const uint32_t again = user.Inject(kScreenAccess, kProgram1);
    EXPECT_EQ(user.ReplyFor(again), 1);
    EXPECT_TRUE(user.NoPrompt());
}

TEST_F(SystemTest, ARememberedDenialIsLoggedAndAnsweredWithoutAPrompt) {
    MakeProgramFile(kProgram2, 2);
    const uint32_t first = user.Inject(kKeyboardHook, kProgram2);
    ASSERT_TRUE(user.Answer(false));
    EXPECT_EQ(user.ReplyFor(first), 0);
    EXPECT_EQ(StoredRecord(kProgram2).at(0), 0x02);

    const uint32_t second = user.Inject(kKeyboardHook, kProgram2);
    EXPECT_EQ(user.ReplyFor(second), 0);
    EXPECT_TRUE(user.NoPrompt());
    const auto rows = ReadLogRows(ui.dwProcessId);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back().second, L"Blocked illegal keyboard hook in '" + kProgram2 + L"'");
    const std::string printed = OutputOf(BuiltFile(L"QuenvarUiDriver.exe"), L"log");
    EXPECT_NE(printed.find("  Blocked illegal keyboard hook in 'C:\\quenvar-\xd0\xa8\xd0\xbf\xd0\xb8\xd0\xbe\xd0\xbd"
                           "\\keylogger.exe'\n"),
              std::string::npos)
        << printed;
}

TEST_F(SystemTest, AnAllowedProcessWithAnUnsettledModulePromptsForTheModule) {
    MakeProgramFile(kProgram3, 3);
    MakeProgramFile(kModule3, 4);
    const uint32_t first = user.Inject(kForeignTextAccess, kProgram3);
    ASSERT_TRUE(user.Answer(true));
    EXPECT_EQ(user.ReplyFor(first), 1);

    const uint32_t second = user.Inject(kForeignTextAccess, kProgram3, kModule3);
    HWND prompt = FindPrompt(ui.dwProcessId, 10000);
    ASSERT_NE(prompt, nullptr);
    const std::wstring text = ControlText(prompt, 1008);
    EXPECT_NE(text.find(kModule3), std::wstring::npos) << text;
    EXPECT_EQ(text.find(kProgram3), std::wstring::npos) << text;
    ClickButton(prompt, 7);
    EXPECT_EQ(user.ReplyFor(second), 0);
    EXPECT_EQ(StoredRecord(kModule3).at(0), 0x04);
    EXPECT_EQ(StoredRecord(kProgram3).at(1), 0x04);
}

TEST_F(SystemTest, AnEventOfKindFiveIsNamedUnknownAndJudgedWithBitFive) {
    MakeProgramFile(kProgram4, 5);
    const uint32_t first = user.Inject(5, kProgram4);
    ASSERT_TRUE(user.Answer(false));
    EXPECT_EQ(user.ReplyFor(first), 0);
    EXPECT_EQ(StoredRecord(kProgram4).at(0), 0x20);
    const uint32_t second = user.Inject(5, kProgram4);
    EXPECT_EQ(user.ReplyFor(second), 0);
    const auto rows = ReadLogRows(ui.dwProcessId);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back().second, L"unknown '" + kProgram4 + L"'");
}

TEST_F(SystemTest, ASecondUiProgramInTheSameLogonIsCutOffSilently) {
    PROCESS_INFORMATION second = StartProgram(WindowsFile(L"QuenvarUI.exe"), L"");
    ASSERT_NE(second.hProcess, nullptr);
    // Cut off, its service link thread ends; served or showing an error, it
    // would stay, as the first program's does.
    EXPECT_TRUE(WaitFor([&] { return standin::ThreadCount(second.dwProcessId) < standin::ThreadCount(ui.dwProcessId); },
                        20000));
    // An unsettled program: only the served program asks about it.
    MakeProgramFile(kProgram5, 6);
    const uint32_t id = user.Inject(kKeyboardHook, kProgram5);
    ASSERT_TRUE(user.Answer(false));
    EXPECT_EQ(user.ReplyFor(id), 0);
    EXPECT_TRUE(VisibleWindowsOf(second.dwProcessId).empty());
    EXPECT_EQ(WaitForExit(second, 0), static_cast<DWORD>(STILL_ACTIVE));
    EndProgram(second);
}

// A driver that did not answer the registration: the error is logged and shown,
// and the events are still handled.
TEST(SystemDriverStatus, StatusZeroGivesTheInitializationErrorAndEventsAreStillHandled) {
    ASSERT_TRUE(InstallSystem(true, 0));
    PROCESS_INFORMATION ui = StartProgram(standin::WindowsFolder() + L"\\QuenvarUI.exe", L"");
    HWND box = FindDialogOf(ui.dwProcessId, L"Initialization Error, Protection Disabled", 20000);
    ASSERT_NE(box, nullptr);
    const auto rows = ReadLogRows(ui.dwProcessId);
    const bool logged = std::any_of(rows.begin(), rows.end(), [](const auto& row) {
        return row.second == L"Initialization error, protection disabled.  Error code = 0x0.";
    });
    EXPECT_TRUE(logged);
    PostMessageW(box, WM_COMMAND, IDOK, 0);

    UserProgram user(ui.dwProcessId);
    const uint32_t id = user.Inject(kKeyboardHook, MakeProgramFile(L"C:\\quenvar-test\\late.exe", 9));
    ASSERT_TRUE(user.Answer(true));
    EXPECT_EQ(user.ReplyFor(id), 1);
    EndProgram(ui);
}

namespace {

// The pending deletions: each source with "\??\" in front.
std::vector<std::wstring> PendingDeletions() {
    std::vector<std::wstring> sources;
    for (const auto& [source, target] : PendingRenames())
        if (target.empty()) sources.push_back(source);
    return sources;
}

bool ValueExists(HKEY root, const wchar_t* key, const wchar_t* name) { return ReadValue(root, key, name).exists; }

void ExpectFootprintInPlace() {
    for (const InstalledValue& value : InstalledValues())
        EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, value.key, value.name)) << value.name;
}

// Runs "QuenvarUI.exe /U", answers its question and, when sure, closes the box
// it ends with: "Reboot?" by default.
DWORD Uninstall(bool sure, const wchar_t* last = L"Reboot?") {
    PROCESS_INFORMATION process = StartProgram(standin::WindowsFolder() + L"\\QuenvarUI.exe", L"/U");
    HWND question = FindDialogOf(process.dwProcessId, L"Are You Sure?", 20000);
    EXPECT_NE(question, nullptr);
    PostMessageW(question, WM_COMMAND, sure ? IDYES : IDNO, 0);
    if (sure) {
        HWND box = FindDialogOf(process.dwProcessId, last, 20000);
        EXPECT_NE(box, nullptr) << "no box " << std::string(last, last + wcslen(last));
        PostMessageW(box, WM_COMMAND, IDNO, 0);  // never restart the test machine
    }
    const DWORD code = WaitForExit(process, 20000);
    EndProgram(process);
    return code;
}

std::vector<std::wstring> InstalledItems() {
    const std::wstring windows = standin::WindowsFolder(), system = standin::SystemFolder();
    wchar_t programs[MAX_PATH];
    SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE);
    const std::wstring folder = std::wstring(programs) + L"\\Quenvar Lockmere";
    return {L"\\??\\" + windows + L"\\QuenvarUI.exe",
            L"\\??\\" + windows + L"\\QuenvarDll.dll",
            L"\\??\\" + system + L"\\QuenvarSvc.exe",
            L"\\??\\" + system + L"\\Drivers\\Quenvr.sys",
            L"\\??\\" + folder + L"\\ReadMe.rtf",
            L"\\??\\" + folder + L"\\License.rtf",
            L"\\??\\" + folder + L"\\Lockmere Help.chm",
            L"\\??\\" + folder};
}

}  // namespace

TEST(SystemUninstall, NoChangesNothingAndYesRemovesTheInstallationButNotTheUsersData) {
    ASSERT_TRUE(InstallSystem(true));
    // The product key and a user's decision, which the uninstall leaves in place.
    UniqueRegKey product, rights;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quenvar\\Lockmere", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    product.receive(), nullptr);
    RegSetValueExW(product.get(), L"KnownFilterDrivers", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(L"\0"), 2);
    RegCreateKeyExW(HKEY_CURRENT_USER, kRightsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, rights.receive(), nullptr);
    const uint8_t record[42] = {1, 2};
    RegSetValueExW(rights.get(), L"C:\\some\\program.exe", 0, REG_BINARY, record, sizeof(record));
    standin::StandInDriverClient driver;
    driver.ReadJournal();

    EXPECT_EQ(Uninstall(false), 0u);
    ExpectFootprintInPlace();
    EXPECT_TRUE(PendingDeletions().empty());
    EXPECT_TRUE(ServiceEntryExists(L"QuenvarSvc"));
    EXPECT_TRUE(driver.ReadJournal().empty());

    EXPECT_EQ(Uninstall(true), 0u);
    EXPECT_EQ(PendingDeletions(), InstalledItems());
    const auto journal = driver.WaitForJournal(1, 5000);
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].kind, JOURNAL_DISABLE_GUARD);
    EXPECT_FALSE(ServiceEntryExists(L"Quenvar"));
    EXPECT_FALSE(ServiceEntryExists(L"QuenvarSvc"));
    // The running service's guard leaves the deletions alone.
    Sleep(3000);
    EXPECT_FALSE(KeyExists(L"System\\CurrentControlSet\\Services\\Quenvar"));
    EXPECT_FALSE(KeyExists(L"System\\CurrentControlSet\\Services\\QuenvarSvc"));
    EXPECT_FALSE(KeyExists(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuenvarLockmere"));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"QuenvarUI"));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, L"Software\\Quenvar\\Lockmere", L"KnownFilterDrivers"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, kRightsKey, L"C:\\some\\program.exe"));
    // Nothing is deleted before the restart.
    EXPECT_NE(GetFileAttributesW((standin::WindowsFolder() + L"\\QuenvarUI.exe").c_str()), INVALID_FILE_ATTRIBUTES);

    // Run again before the restart, with a Run value that cannot be removed: the
    // guard is switched off for the deletions and on again, as what is left
    // still protects until the restart.
    const wchar_t* run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    SHSetValueW(HKEY_LOCAL_MACHINE, run, L"QuenvarUI", REG_SZ, L"x", 4);
    {
        KeyReadOnly kept(run);
        ASSERT_TRUE(kept.active());
        EXPECT_EQ(Uninstall(true, L"Uninstall Incomplete"), 0u);
    }
    const auto again = driver.WaitForJournal(2, 5000);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].kind, JOURNAL_DISABLE_GUARD);
    EXPECT_EQ(again[1].kind, JOURNAL_ENABLE_GUARD);
}

TEST(SystemUninstallWithoutService, EveryStepStillRuns) {
    ASSERT_TRUE(InstallSystem(false));
    EXPECT_EQ(Uninstall(true), 0u);
    EXPECT_EQ(PendingDeletions(), InstalledItems());
    EXPECT_FALSE(ServiceEntryExists(L"Quenvar"));
    EXPECT_FALSE(ServiceEntryExists(L"QuenvarSvc"));
    EXPECT_FALSE(KeyExists(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuenvarLockmere"));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"QuenvarUI"));
}

// The uninstall sends the guard's disable command before it deletes anything.
// The test stands in for the service on a pipe without buffers, so that the
// uninstall's write of the command returns only once the test has read it: what
// is installed before that read is what was installed when the command went out.
TEST(SystemUninstallWithoutService, SendsTheDisableCommandBeforeItDeletesAnything) {
    ASSERT_TRUE(InstallSystem(false));
    const std::vector<std::wstring> pendingBefore = PendingDeletions();
    UniqueHandle pipe(CreateNamedPipeW(L"\\\\.\\pipe\\QuenvarUIPipe", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 0, 0,
                                       quenvar::testing::ServiceOwner().attributes()));
    ASSERT_TRUE(pipe.valid());
    std::future<DWORD> uninstall = std::async(std::launch::async, [] { return Uninstall(true); });
    UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done.get();
    const auto finished = [&](BOOL started) {
        DWORD moved = 0;
        return (started || GetLastError() == ERROR_IO_PENDING) && WaitForSingleObject(done.get(), 60000) == 0 &&
               GetOverlappedResult(pipe.get(), &overlapped, &moved, FALSE);
    };
    ASSERT_TRUE(finished(ConnectNamedPipe(pipe.get(), &overlapped)) || GetLastError() == ERROR_PIPE_CONNECTED);

    ExpectFootprintInPlace();
    EXPECT_EQ(PendingDeletions(), pendingBefore);
    EXPECT_TRUE(ServiceEntryExists(L"Quenvar"));
    EXPECT_TRUE(ServiceEntryExists(L"QuenvarSvc"));

    uint32_t command = 0;
    ASSERT_TRUE(finished(ReadFile(pipe.get(), &command, sizeof(command), nullptr, &overlapped)));
    EXPECT_EQ(command, DisableGuardCode);
    EXPECT_EQ(uninstall.get(), 0u);
    EXPECT_EQ(PendingDeletions().size(), pendingBefore.size() + InstalledItems().size());
    EXPECT_FALSE(ServiceEntryExists(L"QuenvarSvc"));
}
