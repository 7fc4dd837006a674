// Opening the driver's device and the driver requests that the service sends.
#pragma once

#include <windows.h>

#include <string>

#include "common/DriverInterface.h"
#include "common/UniqueResource.h"
#include "service/ServicePlatform.h"

namespace quenvar {

// "\\.\<name>" on Windows NT 4, "\\.\Global\<name>" from Windows 2000 on.
std::wstring DriverDevicePath(const wchar_t* deviceName, unsigned majorVersion);

// Opens the device read/write. On success stores the handle in *device, or closes it
// at once when device is null (a presence test). On failure *device is left untouched.
bool OpenDriverDevice(const wchar_t* deviceName, HANDLE* device);

// A device handle opened through a platform, closed through the same platform.
struct PlatformDevice {
    HANDLE handle;
    const ServicePlatform* platform;
};
struct ClosePlatformDevice {
    void operator()(const PlatformDevice& device) const { device.platform->closeDevice(device.handle); }
};
struct PlatformDeviceOpened {
    bool operator()(const PlatformDevice& device) const { return device.platform != nullptr; }
};
// Holds what platform.openDevice gave, or a null handle when the open failed
// (requests on it then go nowhere); closes it when it goes.
using UniquePlatformDevice = UniqueResource<PlatformDevice, ClosePlatformDevice, PlatformDeviceOpened>;
UniquePlatformDevice OpenPlatformDevice(const ServicePlatform& platform);

// Passes one reply to the driver; the result is not examined.
void SendReply(const ServicePlatform& platform, HANDLE device, const AccessReply& reply);

// IOCTL_ENABLE_GUARD or IOCTL_DISABLE_GUARD on a handle opened for this one request.
void SendGuardRequest(const ServicePlatform& platform, DWORD code);

}  // namespace quenvar
