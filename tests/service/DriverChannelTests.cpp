#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "common/DriverInterface.h"
#include "service/DriverChannel.h"
#include "service/FilterList.h"
#include "service/ServiceHost.h"

using namespace quenvar;

TEST(DriverChannel, DevicePathDependsOnTheWindowsVersion) {
    EXPECT_EQ(DriverDevicePath(L"Quenvar", 4), L"\\\\.\\Quenvar");
    EXPECT_EQ(DriverDevicePath(L"Quenvar", 5), L"\\\\.\\Global\\Quenvar");
    EXPECT_EQ(DriverDevicePath(L"Quenvar", 6), L"\\\\.\\Global\\Quenvar");
}

TEST(DriverChannel, DevicePathOfAnOverlongNameStaysWithinItsBuffer) {
    const std::wstring name(200, L'x');
    EXPECT_EQ(DriverDevicePath(name.c_str(), 5).size(), 63u);
}

TEST(DriverChannel, MissingDeviceLeavesTheHandleUntouched) {
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x77));
    EXPECT_FALSE(OpenDriverDevice(L"QuenvarNoSuchDevice", &handle));
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x77)));
    EXPECT_FALSE(OpenDriverDevice(L"QuenvarNoSuchDevice", nullptr));
}

namespace {

std::wstring DriverMessageWith(const wchar_t* code) {
    return std::wstring(L"Quenvar Lockmere could not find a valid version of a required driver.  Service is "
                        L"terminating and protection will not be available.  This problem may be solved by "
                        L"reinstalling the software.\n\nThe service-level error code is : ") +
           code + L"  Please report this error code to support@quenvar.example";
}

}  // namespace

// Every text the service shows, whole. Codes with hex letters tell %x from %X.
TEST(ServiceTexts, AreShownWholeAsWritten) {
    const struct {
        std::wstring shown;
        std::wstring expected;
    } texts[] = {
        {DriverMissingMessage(0x1F), DriverMessageWith(L"0x1f")},
        {DriverMissingMessage(0xC0000034), DriverMessageWith(L"0xc0000034")},
        {DriverMissingMessage(0), DriverMessageWith(L"0x0")},
        {FilterPromptText(L"spykbd"),
         L"Quenvar Lockmere has detected an unknown keyboard filter driver installed on your computer.  This driver "
         L"has access to every key you press and may be part of a spy program.\n\nThe driver's name is: "
         L"'spykbd'\n\nNote: A standard Windows XP installation DOES NOT have keyboard filter drivers installed.  A "
         L"keyboard filter driver is a low-level driver that sits between your keyboard and the Windows operating "
         L"system.  Each key you press on the keyboard is first sent to all installed keyboard filter drivers "
         L"before being processed by Windows.  This gives keyboard filter drivers a great deal of power in "
         L"watching your keyboard.  Such drivers see every key you press and can save them to disk or otherwise "
         L"track them.  You should be very careful when you choose to allow a keyboard filter driver to have "
         L"access to your system.  If you're in doubt, deny access and review the Quenvar Lockmere help file for "
         L"more guidance on this.  You can always reinstall the driver at a later time if you need it.\n\nDo you "
         L"want to allow this driver to watch your keyboard?"},
    };
    for (const auto& text : texts) EXPECT_EQ(text.shown, text.expected);
}

TEST(ServiceHost, ParentProcessIsFound) {
    // Under Wine this program's parent may be outside Windows: the lookup runs
    // in a child process of this program, told the id of the run that started it.
    wchar_t parent[16] = {};
    if (GetEnvironmentVariableW(L"QuenvarTestParent", parent, 16) == 0)
        SetEnvironmentVariableW(L"QuenvarTestParent", std::to_wstring(GetCurrentProcessId()).c_str());
    EXPECT_EXIT(std::exit(FindParentProcessId() == std::wcstoul(parent, nullptr, 10) ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
}

namespace {

// What the registration handed the driver, read while the call lasted: the
// handle must still be open then, and name the process asked for.
struct Registration {
    DWORD code = 0;
    bool hadInput = true;
    DWORD inSize = 1, outSize = 1;
    HANDLE out = nullptr;
    DWORD processOfHandle = 0;
};
Registration seen;
BOOL driverAnswers = TRUE;

DWORD ProcessIdOfHandle(HANDLE process) {
    // Not in XP's headers; the test only needs it where it runs.
    using GetProcessIdCall = DWORD(WINAPI*)(HANDLE);
    const auto call = reinterpret_cast<GetProcessIdCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetProcessId")));
    return call != nullptr && process != nullptr ? call(process) : 0;
}

BOOL RecordRegistration(HANDLE, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    seen = {code, in != nullptr, inSize, outSize, static_cast<HANDLE>(out), ProcessIdOfHandle(out)};
    if (driverAnswers) *returned = 0x7FFE7;
    return driverAnswers;
}

}  // namespace

TEST(ServiceHost, RegistrationHandsTheDriverAnOpenHandleOfTheParentAndClosesItAfter) {
    ServicePlatform platform = kWin32ServicePlatform;
    platform.deviceControl = RecordRegistration;
    struct Case {
        const char* name;
        uint32_t parent;
        BOOL answers;
        bool handle;
        uint32_t status;
    };
    const Case cases[] = {
        {"a live parent", GetCurrentProcessId(), TRUE, true, 0x7FFE7},
        {"no parent found: still sent, with a null handle", 0xFFFFFFFF, TRUE, false, 0x7FFE7},
        {"the call fails: the status stays 0", GetCurrentProcessId(), FALSE, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seen = Registration();
        driverAnswers = c.answers;
        EXPECT_EQ(RegisterWithDriver(nullptr, platform, c.parent), c.status);
        EXPECT_EQ(seen.code, static_cast<DWORD>(IOCTL_REGISTER_SERVICE));
        EXPECT_FALSE(seen.hadInput);
        EXPECT_EQ(seen.inSize, 0u);
        EXPECT_EQ(seen.outSize, 0u);
        EXPECT_EQ(seen.out != nullptr, c.handle);
        EXPECT_EQ(seen.processOfHandle, c.handle ? c.parent : 0u);
        DWORD flags = 0;
        if (c.handle) {
            EXPECT_FALSE(GetHandleInformation(seen.out, &flags)) << "the parent's handle is left open";
        }
    }
}
