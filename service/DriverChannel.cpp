#include "service/DriverChannel.h"
#include "common/WideFormat.h"

#include <cwchar>

namespace quenvar {

std::wstring DriverDevicePath(const wchar_t* deviceName, unsigned majorVersion) {
    wchar_t path[64];
    // Windows NT 4 has no global object namespace.
    FormatInto(path, 64, majorVersion < 5 ? L"\\\\.\\%ls" : L"\\\\.\\Global\\%ls", deviceName);
    return path;
}

bool OpenDriverDevice(const wchar_t* deviceName, HANDLE* device) {
    const std::wstring path = DriverDevicePath(deviceName, LOBYTE(LOWORD(GetVersion())));
    UniqueHandle handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return false;
    if (device != nullptr) *device = handle.release();  // otherwise a presence test: closed here
    return true;
}

UniquePlatformDevice OpenPlatformDevice(const ServicePlatform& platform) {
    HANDLE device = nullptr;  // a failed open leaves a null handle
    platform.openDevice(&device);
    return UniquePlatformDevice(PlatformDevice{device, &platform});
}

void SendReply(const ServicePlatform& platform, HANDLE device, const AccessReply& reply) {
    AccessReply copy = reply;
    DWORD returned = 0;
    platform.deviceControl(device, IOCTL_REPLY, &copy, sizeof(copy), nullptr, 0, &returned);
}

void SendGuardRequest(const ServicePlatform& platform, DWORD code) {
    UniquePlatformDevice device = OpenPlatformDevice(platform);
    DWORD returned = 0;
    platform.deviceControl(device.get().handle, code, nullptr, 0, nullptr, 0, &returned);
}

}  // namespace quenvar
