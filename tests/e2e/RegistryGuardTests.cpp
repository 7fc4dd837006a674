// The registry guard of the running service restores the installation's entries.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <functional>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "common/PipeProtocol.h"
#include "common/UniqueResource.h"
#include "support/StandInDriverClient.h"

using namespace quenvar;
using namespace quenvar::e2e;

namespace {

bool HasValue(const wchar_t* key, const wchar_t* name) { return ReadValue(HKEY_LOCAL_MACHINE, key, name).exists; }

DWORD StartOfService() {
    const RegistryValue start = ReadValue(HKEY_LOCAL_MACHINE, kServiceKey, L"Start");
    return start.data.size() == 4 ? *reinterpret_cast<const DWORD*>(start.data.data()) : 0xFFFFFFFF;
}

void SetValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, size_t size) {
    UniqueRegKey k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, k.receive()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k.get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
              ERROR_SUCCESS);
}

void SetText(const wchar_t* key, const wchar_t* name, const wchar_t* text) {
    SetValue(key, name, REG_SZ, text, (wcslen(text) + 1) * sizeof(wchar_t));
}

void SendGuardCommand(uint32_t command) {
    ServiceClient client;
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.WriteU32(command));
    EXPECT_FALSE(client.ReadU32().has_value());
}

// Every one of the fifteen values of the key (or of all keys), with its type and data.
bool FootprintInPlace(const wchar_t* onlyKey = nullptr) {
    for (const InstalledValue& value : InstalledValues()) {
        const RegistryValue found = ReadValue(HKEY_LOCAL_MACHINE, value.key, value.name);
        // By name: the same key's text may lie at another address in each file.
        if ((onlyKey == nullptr || wcscmp(value.key, onlyKey) == 0) &&
            (!found.exists || found.type != value.type || found.data != value.data))
            return false;
    }
    return true;
}

class RegistryGuardUnderService : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The service's pipe may be up before its guard watches the keys: it is
        // nudged until it has written the installation's entries once. Each
        // nudge writes new data: Wine reports no write of the data a value holds.
        int nudges = 0;
        installed = InstallDriverAndService() && WaitFor([&] {
                        if (FootprintInPlace()) return true;
                        SetText(kRunKey, L"Nudge", std::to_wstring(++nudges).c_str());
                        return false;
                    }, 30000);
    }
    void SetUp() override { ASSERT_TRUE(installed); }
    static bool installed;
};
bool RegistryGuardUnderService::installed = false;

}  // namespace

TEST_F(RegistryGuardUnderService, ServiceStartSetToDisabledReadsAutomaticAgainASecondLater) {
    const DWORD disabled = 4;
    SetValue(kServiceKey, L"Start", REG_DWORD, &disabled, sizeof(disabled));
    EXPECT_EQ(StartOfService(), 4u);
    // Whichever key changed, every value is written.
    EXPECT_TRUE(WaitFor([] { return FootprintInPlace(); }, 5000));
}

// Windows reports the deletion of a watched key to its notification; Wine does
// not, so here a change of another guarded key wakes the guard, which then
// creates the deleted key again with its values.
TEST_F(RegistryGuardUnderService, DeletedDriverKeyComesBackWithItsFiveValues) {
    ASSERT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, kDriverKey), ERROR_SUCCESS);
    ASSERT_FALSE(KeyExists(kDriverKey));
    SetText(kRunKey, L"Wake", L"wake.exe");
    // Under load the rewrite may take several seconds: wait for the whole key.
    EXPECT_TRUE(WaitFor([] { return FootprintInPlace(kDriverKey); }, 30000));
}

TEST_F(RegistryGuardUnderService, DeletedRunValueIsWrittenBackAndOtherProgramsValuesAreLeftAlone) {
    ASSERT_EQ(SHDeleteValueW(HKEY_LOCAL_MACHINE, kRunKey, L"QuenvarUI"), ERROR_SUCCESS);
    SetText(kRunKey, L"OtherProgram", L"other.exe");
    ASSERT_TRUE(WaitFor([] { return HasValue(kRunKey, L"QuenvarUI"); }, 5000));
    const RegistryValue other = ReadValue(HKEY_LOCAL_MACHINE, kRunKey, L"OtherProgram");
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(other.data.data()), other.data.size() / 2),
              std::wstring(L"other.exe", 10));
}

// A program that spoils the value once, the moment the guard has written it
// back, lands its change before the guard watches again; that change must not
// go unseen, whether it deletes the value, retypes it or lengthens it.
TEST_F(RegistryGuardUnderService, AChangeTimedToTheGuardsOwnWriteIsUndoneToo) {
    UniqueRegKey run;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, run.receive()), ERROR_SUCCESS);
    const std::wstring installed = L"QuenvarUI.exe";
    // Not FootprintInPlace: the poll must be quick to land in the guard's
    // window, so it reads through one open key (by path, it misses it).
    const auto inPlace = [&] {
        wchar_t text[64] = {};
        DWORD type = 0, size = sizeof(text) - sizeof(wchar_t);
        return RegQueryValueExW(run.get(), L"QuenvarUI", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
                   ERROR_SUCCESS &&
               type == REG_SZ && size == (installed.size() + 1) * sizeof(wchar_t) && text == installed;
    };
    const auto write = [&](DWORD type, const std::wstring& text) {
        return RegSetValueExW(run.get(), L"QuenvarUI", 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    };
    const std::vector<std::function<bool()>> spoilers = {
        [&] { return RegDeleteValueW(run.get(), L"QuenvarUI") == ERROR_SUCCESS; },
        [&] { return write(REG_EXPAND_SZ, installed); },
        [&] { return write(REG_SZ, installed + L" /X"); },
    };
    for (size_t round = 0; round < spoilers.size(); ++round) {
        ASSERT_TRUE(spoilers[round]()) << "round " << round;
        const DWORD start = GetTickCount();
        while (!inPlace()) ASSERT_LT(GetTickCount() - start, 10000u) << "round " << round;
        ASSERT_TRUE(spoilers[round]()) << "round " << round;
        EXPECT_TRUE(WaitFor(inPlace, 10000)) << "round " << round;
    }
}

TEST_F(RegistryGuardUnderService, AfterDisableDeletionsStayAndAfterEnableNothingIsWrittenUntilAChange) {
    standin::StandInDriverClient driver;
    driver.ReadJournal();
    SendGuardCommand(DisableGuardCode);  // returns once the service has switched the guard off
    ASSERT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallKey), ERROR_SUCCESS);
    ASSERT_EQ(SHDeleteValueW(HKEY_LOCAL_MACHINE, kRunKey, L"QuenvarUI"), ERROR_SUCCESS);
    ASSERT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, kServiceKey), ERROR_SUCCESS);
    // The guard writes a second after a change; an enable before that would
    // let it write these deletions back.
    Sleep(1500);
    const auto disable = driver.ReadJournal();
    ASSERT_EQ(disable.size(), 1u);
    EXPECT_EQ(disable[0].kind, JOURNAL_DISABLE_GUARD);

    SendGuardCommand(EnableGuardCode);
    // The guard re-arms within a second, opening, so creating, the keys; what
    // it would have written of the deletions came before. It writes no value
    // until the next change.
    ASSERT_TRUE(WaitFor([] { return KeyExists(kUninstallKey) && KeyExists(kServiceKey); }, 5000));
    EXPECT_FALSE(HasValue(kUninstallKey, L"DisplayName"));
    EXPECT_FALSE(HasValue(kRunKey, L"QuenvarUI"));
    EXPECT_FALSE(HasValue(kServiceKey, L"ImagePath"));

    SetText(kRunKey, L"Nudge", L"nudge.exe");
    EXPECT_TRUE(WaitFor([] { return FootprintInPlace(); }, 5000));
    const auto journal = driver.ReadJournal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].kind, JOURNAL_ENABLE_GUARD);
}
