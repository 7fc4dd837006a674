#include <gtest/gtest.h>

#include "service/DriverChannel.h"
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

TEST(ServiceHost, DriverMessageCarriesTheErrorCodeInHex) {
    const std::wstring text = DriverMissingMessage(0x1F);
    EXPECT_EQ(text.rfind(L"Quenvar Lockmere could not find a valid version of a required driver.  Service is "
                         L"terminating and protection will not be available.",
                         0),
              0u);
    EXPECT_NE(text.find(L"\n\nThe service-level error code is : 0x1f  Please report this error code to "),
              std::wstring::npos);
}

TEST(ServiceHost, ParentProcessIsFound) {
    // Under Wine the parent of a test program may be outside Windows; only the
    // lookup itself must succeed and not name this process.
    const uint32_t parent = FindParentProcessId();
    EXPECT_NE(parent, 0xFFFFFFFFu);
    EXPECT_NE(parent, GetCurrentProcessId());
}
