#include <gtest/gtest.h>

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
    // Under Wine the parent of a test program may be outside Windows; only the
    // lookup itself must succeed and not name this process.
    const uint32_t parent = FindParentProcessId();
    EXPECT_NE(parent, 0xFFFFFFFFu);
    EXPECT_NE(parent, GetCurrentProcessId());
}
