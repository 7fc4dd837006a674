// A driver and session manager for service tests: records every driver request
// and maps a process id to session (id >> 16).
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "common/DriverInterface.h"
#include "service/ServicePlatform.h"

namespace quenvar::test {

struct DriverRequest {
    HANDLE device;
    DWORD code;
    std::vector<uint8_t> input;
};

class FakeDriver {
public:
    static FakeDriver& Get();
    void Reset();

    std::vector<DriverRequest> Requests();
    // Replies (IOCTL_REPLY inputs of 8 bytes) in the order received.
    std::vector<AccessReply> Replies();
    size_t CountOf(DWORD code);
    // Waits until at least `count` replies have arrived.
    bool WaitForReplies(size_t count, DWORD timeoutMs);

    // Events handed out by IOCTL_GET_EVENT.
    void QueueEvent(const AccessEvent& event);

    bool failOpen = false;
    bool failFetch = false;
    int opens = 0;
    int closes = 0;

private:
    friend struct FakePlatformAccess;
    std::mutex mutex_;
    std::vector<DriverRequest> requests_;
    std::deque<AccessEvent> events_;
};

extern const ServicePlatform kFakeServicePlatform;

// Handle value that the fake hands out for an opened device.
inline HANDLE FakeDeviceHandle() { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5150)); }

// A process id that the fake places in the given session.
inline uint32_t ProcessInSession(uint32_t session, uint32_t n = 1) { return (session << 16) | n; }

}  // namespace quenvar::test
