// What the service needs of the driver and of the session manager, as plain
// function pointers so that tests can stand in for them.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quenvar {

struct ServicePlatform {
    // Opens a device handle of the driver; false leaves *device untouched.
    bool (*openDevice)(HANDLE* device);
    void (*closeDevice)(HANDLE device);
    BOOL (*deviceControl)(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                          DWORD outSize, DWORD* returned);
    // Terminal-Services session of a process; 0 when it cannot be found.
    uint32_t (*sessionOfProcess)(uint32_t processId);
};

// The real driver "Quenvar" and ProcessIdToSessionId.
extern const ServicePlatform kWin32ServicePlatform;

}  // namespace quenvar
