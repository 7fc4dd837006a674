#include "service/ServicePlatform.h"

#include "common/DriverInterface.h"
#include "service/DriverChannel.h"

namespace quenvar {
namespace {

bool OpenQuenvarDevice(HANDLE* device) { return OpenDriverDevice(kDriverDeviceName, device); }

void CloseDevice(HANDLE device) {
    if (device != nullptr && device != INVALID_HANDLE_VALUE) CloseHandle(device);
}

BOOL ControlDevice(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* returned) {
    return DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr);
}

uint32_t SessionOfProcess(uint32_t processId) {
    DWORD sessionId = 0;
    // A process that has already gone leaves session 0.
    ProcessIdToSessionId(processId, &sessionId);
    return sessionId;
}

}  // namespace

const ServicePlatform kWin32ServicePlatform = {OpenQuenvarDevice, CloseDevice, ControlDevice,
                                               SessionOfProcess};

}  // namespace quenvar
