// Records and control codes of the kernel driver's control interface. The same
// AccessEvent and AccessReply bytes travel unchanged over the service's pipe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quenvar {

// BreachKind: what the offending process tried to do.
enum BreachKind : uint32_t {
    kScreenAccess = 0,
    kKeyboardHook = 1,
    kForeignTextAccess = 2,
};

constexpr size_t kPathUnits = 262;  // 261 characters and a NUL

#pragma pack(push, 1)
struct AccessEvent {
    uint32_t eventId;
    uint32_t breachKind;
    uint32_t driverWord;
    uint32_t processId;
    wchar_t processPath[kPathUnits];
    uint32_t threadId;
    wchar_t modulePath[kPathUnits];
};

struct AccessReply {
    uint32_t eventId;
    uint32_t allow;
};
#pragma pack(pop)

static_assert(sizeof(wchar_t) == 2, "paths are UTF-16 units");
static_assert(sizeof(AccessEvent) == 1068);
static_assert(offsetof(AccessEvent, eventId) == 0);
static_assert(offsetof(AccessEvent, breachKind) == 4);
static_assert(offsetof(AccessEvent, driverWord) == 8);
static_assert(offsetof(AccessEvent, processId) == 12);
static_assert(offsetof(AccessEvent, processPath) == 16);
static_assert(offsetof(AccessEvent, threadId) == 540);
static_assert(offsetof(AccessEvent, modulePath) == 544);
static_assert(sizeof(AccessReply) == 8);
static_assert(offsetof(AccessReply, eventId) == 0);
static_assert(offsetof(AccessReply, allow) == 4);

constexpr uint32_t kDriverDeviceType = 0x9669;

constexpr uint32_t DriverControlCode(uint32_t function, uint32_t method) {
    constexpr uint32_t kFileWriteAccess = 2;
    return (kDriverDeviceType << 16) | (kFileWriteAccess << 14) | (function << 2) | method;
}

constexpr uint32_t kMethodBuffered = 0;
constexpr uint32_t kMethodNeither = 3;

constexpr uint32_t IOCTL_WAIT_EVENT = DriverControlCode(0x69, kMethodBuffered);
constexpr uint32_t IOCTL_GET_EVENT = DriverControlCode(0x6A, kMethodNeither);
constexpr uint32_t IOCTL_REPLY = DriverControlCode(0x6B, kMethodBuffered);
constexpr uint32_t IOCTL_REGISTER_SERVICE = DriverControlCode(0x6C, kMethodNeither);
constexpr uint32_t IOCTL_ENABLE_GUARD = DriverControlCode(0x6D, kMethodBuffered);
constexpr uint32_t IOCTL_DISABLE_GUARD = DriverControlCode(0x6E, kMethodBuffered);

static_assert(IOCTL_WAIT_EVENT == 0x966981A4);
static_assert(IOCTL_GET_EVENT == 0x966981AB);
static_assert(IOCTL_REPLY == 0x966981AC);
static_assert(IOCTL_REGISTER_SERVICE == 0x966981B3);
static_assert(IOCTL_ENABLE_GUARD == 0x966981B4);
static_assert(IOCTL_DISABLE_GUARD == 0x966981B8);

// The name of the driver's device (and of its driver service).
constexpr const wchar_t* kDriverDeviceName = L"Quenvar";

}  // namespace quenvar
