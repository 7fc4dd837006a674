#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <string>
#include <thread>
#include <vector>

#include "ServiceOwnedPipe.h"
#include "RightsTestSupport.h"
#include "common/PipeProtocol.h"
#include "common/RestartRoutine.h"
#include "common/UniqueResource.h"
#include "console/Application.h"
#include "console/Uninstall.h"
#include "SeamOverride.h"
#include "ui/UiTestSupport.h"

using namespace quenvar;
using namespace quenvar::testing;

namespace {

int restarts = 0;
void CountRestart() { ++restarts; }

}  // namespace

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

TEST(ApplicationUninstall, AFolderThatCouldNotBeFoundSchedulesNothingInIt) {
    const std::vector<std::wstring> paths = UninstallDeletions(L"", L"C:\\Programs", L"");
    const std::vector<std::wstring> expected = {
        L"C:\\Programs\\Quenvar Lockmere\\ReadMe.rtf",
        L"C:\\Programs\\Quenvar Lockmere\\License.rtf",
        L"C:\\Programs\\Quenvar Lockmere\\Lockmere Help.chm",
        L"C:\\Programs\\Quenvar Lockmere",
    };
    EXPECT_EQ(paths, expected);
    EXPECT_TRUE(UninstallDeletions(L"", L"", L"").empty());
}

namespace {

constexpr const wchar_t* kServiceKey = L"System\\CurrentControlSet\\Services\\QuenvarSvc";
constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuenvarLockmere";
constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void MakeKey(const wchar_t* path) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    const wchar_t value[] = L"x";
    RegSetValueExW(key, L"Marker", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value));
    RegCloseKey(key);
}

// The service's pipe for one uninstall: records the command it receives and
// what the installation looked like at that moment.
class DisableCommandReceiver {
public:
    DisableCommandReceiver()
        : pipe_(CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                 1024, 1024, 0, ServiceOwner().attributes())) {
        thread_ = std::thread([this] {
            // The uninstall may have come, written and gone already (ERROR_NO_DATA).
            if (!ConnectNamedPipe(pipe_.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED &&
                GetLastError() != ERROR_NO_DATA)
                return;
            uint32_t command = 0;
            DWORD moved = 0;
            if (!ReadFile(pipe_.get(), &command, sizeof(command), &moved, nullptr) || moved != sizeof(command)) return;
            received = command;
            keysThen = KeyExists(kServiceKey) && KeyExists(kUninstallKey);
            renamesThen = PendingRenames();
            // Carried out: the uninstall goes on once the connection ends.
            DisconnectNamedPipe(pipe_.get());
        });
    }
    ~DisableCommandReceiver() { Finish(); }
    // Ends the wait for a client that never came.
    void Finish() {
        if (!thread_.joinable()) return;
        UniqueHandle nudge(CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        nudge.reset();
        thread_.join();
    }

    uint32_t received = 0;
    bool keysThen = false;
    std::wstring renamesThen;

private:
    UniqueHandle pipe_;
    std::thread thread_;
};

SC_HANDLE NoAdministrativeRights(DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

class UninstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareWindows();
        restarts = 0;
        ForgetPendingDeletions();
        MakeKey(kServiceKey);
        MakeKey(kUninstallKey);
    }
    void TearDown() override {
        SHDeleteKeyW(HKEY_LOCAL_MACHINE, kServiceKey);
        SHDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey);
        ForgetPendingDeletions();
    }
    SeamOverride<void (*)()> restart{restartRoutine, CountRestart};
};

}  // namespace

TEST_F(UninstallTest, TheDisableCommandGoesBeforeAnyDeletion) {
    DisableCommandReceiver service;
    MessageBoxAnswerer sure(L"Are You Sure?", IDYES);
    MessageBoxAnswerer reboot(L"Reboot?", IDNO);
    EXPECT_EQ(RunUninstall(), 0);
    ASSERT_TRUE(sure.Result().found);
    service.Finish();
    EXPECT_EQ(service.received, DisableGuardCode);
    EXPECT_TRUE(service.keysThen);
    EXPECT_EQ(service.renamesThen.find(L"Quenvar"), std::wstring::npos);
    // And then everything went.
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_NE(PendingRenames().find(L"QuenvarUI.exe"), std::wstring::npos);
    ASSERT_TRUE(reboot.Result().found);
    EXPECT_EQ(restarts, 0);
}

TEST_F(UninstallTest, WithoutAdministrativeRightsNothingIsChangedAndTheUserIsTold) {
    SeamOverride<ServiceManagerOpener> opener{serviceManagerOpener, NoAdministrativeRights};
    DisableCommandReceiver service;
    MessageBoxRecorder boxes({IDYES});
    EXPECT_EQ(RunUninstall(), 0);
    EXPECT_EQ(boxes.Captions(nullptr), (BoxCaptions{L"Are You Sure?", L"Administrative Rights Required"}));
    service.Finish();
    EXPECT_EQ(service.received, 0u);  // the guard stays on
    EXPECT_TRUE(KeyExists(kServiceKey));
    EXPECT_TRUE(KeyExists(kUninstallKey));
    EXPECT_EQ(PendingRenames().find(L"Quenvar"), std::wstring::npos);
    EXPECT_EQ(restarts, 0);
}

// Wine lets the owner delete a key whatever its security says, but it does
// refuse to change the values of a key that allows only reading.
TEST_F(UninstallTest, AnEntryThatCouldNotBeRemovedIsNamedInsteadOfClaimingSuccess) {
    {
        HKEY run = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &run, nullptr),
                  ERROR_SUCCESS);
        const wchar_t command[] = L"QuenvarUI.exe";
        RegSetValueExW(run, L"QuenvarUI", 0, REG_SZ, reinterpret_cast<const BYTE*>(command), sizeof(command));
        RegCloseKey(run);
    }
    MessageBoxRecorder boxes({IDYES});
    {
        KeyReadOnly kept(kRunKey);
        ASSERT_TRUE(kept.active());
        EXPECT_EQ(RunUninstall(), 0);
    }
    EXPECT_EQ(boxes.Captions(nullptr), (BoxCaptions{L"Are You Sure?", L"Uninstall Incomplete"}));
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_EQ(restarts, 0);
    SHDeleteValueW(HKEY_LOCAL_MACHINE, kRunKey, L"QuenvarUI");
}
