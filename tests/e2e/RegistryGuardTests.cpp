// The registry guard of the running service restores the installation's entries.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <vector>

#include "E2eSupport.h"
#include "common/PipeProtocol.h"
#include "common/UniqueResource.h"
#include "service/InstallationFootprint.h"
#include "support/StandInDriverClient.h"

using namespace quenvar;
using namespace quenvar::e2e;

namespace {

constexpr const wchar_t* kDriverKey = L"System\\CurrentControlSet\\Services\\Quenvar";
constexpr const wchar_t* kServiceKey = L"System\\CurrentControlSet\\Services\\QuenvarSvc";
constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuenvarLockmere";

bool ReadValue(const wchar_t* key, const wchar_t* name, DWORD* type, std::vector<uint8_t>* data) {
    data->assign(4096, 0);
    DWORD size = static_cast<DWORD>(data->size());
    const bool ok = RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, type, data->data(),
                                 &size) == ERROR_SUCCESS;
    data->resize(ok ? size : 0);
    return ok;
}

bool HasValue(const wchar_t* key, const wchar_t* name) {
    DWORD type;
    std::vector<uint8_t> data;
    return ReadValue(key, name, &type, &data);
}

bool KeyExists(const wchar_t* key) {
    UniqueRegKey k;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, k.receive()) == ERROR_SUCCESS;
}

DWORD StartOfService() {
    DWORD type = 0;
    std::vector<uint8_t> data;
    if (!ReadValue(kServiceKey, L"Start", &type, &data) || data.size() != 4) return 0xFFFFFFFF;
    return *reinterpret_cast<DWORD*>(data.data());
}

void SetDword(const wchar_t* key, const wchar_t* name, DWORD value) {
    UniqueRegKey k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, k.receive()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k.get(), name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof(value)),
              ERROR_SUCCESS);
}

void SetText(const wchar_t* key, const wchar_t* name, const wchar_t* text) {
    UniqueRegKey k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, k.receive()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void SendGuardCommand(uint32_t command) {
    ServiceClient client;
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.WriteU32(command));
    EXPECT_FALSE(client.ReadU32().has_value());
}

// Every one of the fifteen values, with its type and data.
void ExpectWholeFootprint() {
    for (const FootprintValue& value : InstallationFootprint) {
        DWORD type = 0;
        std::vector<uint8_t> data;
        ASSERT_TRUE(ReadValue(kGuardedKeys[value.key], value.name, &type, &data)) << value.name;
        EXPECT_EQ(type, value.type) << value.name;
        EXPECT_EQ(data, FootprintData(value)) << value.name;
    }
}

class RegistryGuardUnderService : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installed = InstallDriverAndService(); }
    void SetUp() override { ASSERT_TRUE(installed); }
    static bool installed;
};
bool RegistryGuardUnderService::installed = false;

}  // namespace

TEST_F(RegistryGuardUnderService, ServiceStartSetToDisabledReadsAutomaticAgainASecondLater) {
    SetDword(kServiceKey, L"Start", 4);
    EXPECT_EQ(StartOfService(), 4u);
    ASSERT_TRUE(WaitFor([] { return StartOfService() == 2; }, 5000));
    // Whichever key changed, every value is written.
    ExpectWholeFootprint();
}

// Windows reports the deletion of a watched key to its notification; Wine does
// not, so here a change of another guarded key wakes the guard, which then
// creates the deleted key again with its values.
TEST_F(RegistryGuardUnderService, DeletedDriverKeyComesBackWithItsFiveValues) {
    ASSERT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, kDriverKey), ERROR_SUCCESS);
    ASSERT_FALSE(KeyExists(kDriverKey));
    SetText(kRunKey, L"Wake", L"wake.exe");
    // Under load the rewrite may take several seconds: wait for the whole key.
    const auto driverKeyRestored = [] {
        for (const FootprintValue& value : InstallationFootprint) {
            DWORD type = 0;
            std::vector<uint8_t> data;
            if (value.key == 0 &&
                (!ReadValue(kDriverKey, value.name, &type, &data) || type != value.type || data != FootprintData(value)))
                return false;
        }
        return true;
    };
    EXPECT_TRUE(WaitFor(driverKeyRestored, 30000));
}

TEST_F(RegistryGuardUnderService, DeletedRunValueIsWrittenBackAndOtherProgramsValuesAreLeftAlone) {
    SetText(kRunKey, L"OtherProgram", L"other.exe");
    ASSERT_TRUE(WaitFor([] { return HasValue(kRunKey, L"QuenvarUI"); }, 5000));
    Sleep(1500);  // let that rewrite finish
    ASSERT_EQ(SHDeleteValueW(HKEY_LOCAL_MACHINE, kRunKey, L"QuenvarUI"), ERROR_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return HasValue(kRunKey, L"QuenvarUI"); }, 5000));
    DWORD type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(ReadValue(kRunKey, L"OtherProgram", &type, &data));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), L"other.exe");
}

TEST_F(RegistryGuardUnderService, AfterDisableDeletionsStayAndAfterEnableNothingIsWrittenUntilAChange) {
    standin::StandInDriverClient driver;
    driver.ReadJournal();
    SendGuardCommand(DisableGuardCode);
    Sleep(300);
    ASSERT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey), ERROR_SUCCESS);
    ASSERT_EQ(SHDeleteValueW(HKEY_LOCAL_MACHINE, kRunKey, L"QuenvarUI"), ERROR_SUCCESS);
    ASSERT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, kServiceKey), ERROR_SUCCESS);
    Sleep(3000);
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_FALSE(HasValue(kRunKey, L"QuenvarUI"));
    EXPECT_FALSE(KeyExists(kServiceKey));
    const auto disable = driver.WaitForJournal(1, 1000);
    ASSERT_EQ(disable.size(), 1u);
    EXPECT_EQ(disable[0].kind, JOURNAL_DISABLE_GUARD);

    SendGuardCommand(EnableGuardCode);
    // The guard re-arms within a second (opening, so creating, the keys) but
    // writes no value until the next change.
    Sleep(3000);
    EXPECT_FALSE(HasValue(kUninstallKey, L"DisplayName"));
    EXPECT_FALSE(HasValue(kRunKey, L"QuenvarUI"));
    EXPECT_FALSE(HasValue(kServiceKey, L"ImagePath"));

    SetText(kRunKey, L"Nudge", L"nudge.exe");
    ASSERT_TRUE(WaitFor([] { return HasValue(kUninstallKey, L"UninstallString"); }, 5000));
    Sleep(300);
    ExpectWholeFootprint();
    const auto journal = driver.ReadJournal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].kind, JOURNAL_ENABLE_GUARD);
}
