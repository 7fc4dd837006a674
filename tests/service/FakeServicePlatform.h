// A driver, session manager and security system for service tests: records
// every driver request, maps a process id to session (id >> 16; ids ending in
// 0xFFFF name no process), gives every process and the logon of session s to
// UserOf(s) unless a test chose otherwise, reports the client identity a test
// chose, and creates pipe instances with failures a test chose.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/DriverInterface.h"
#include "service/ServicePlatform.h"

namespace quenvar::test {

struct PipeCreation {
    DWORD openMode;
    DWORD tick;
    bool made;
};

struct DriverRequest {
    HANDLE device;
    DWORD code;
    std::vector<uint8_t> input;
};

class FakeDriver {
public:
    static FakeDriver& Get();
    FakeDriver() { Reset(); }
    void Reset();

    std::vector<DriverRequest> Requests();
    // Replies (IOCTL_REPLY inputs of 8 bytes) in the order received.
    std::vector<AccessReply> Replies();
    size_t CountOf(DWORD code);
    // Waits until at least `count` replies have arrived.
    bool WaitForReplies(size_t count, DWORD timeoutMs);

    // Events handed out by IOCTL_GET_EVENT.
    void QueueEvent(const AccessEvent& event);

    // Identity of every client, unless the worker's thread has its own; none
    // means the token cannot be read.
    void SetClientIdentity(std::optional<ClientIdentity> identity);
    // For the calling thread only (a worker started by a test).
    static void SetThreadClientIdentity(std::optional<ClientIdentity> identity);
    // The next pipe creations fail with these errors, one each, in order.
    void FailPipeCreations(std::vector<DWORD> errors);
    // None: the process's token cannot be read / nobody is logged on.
    void SetProcessUser(uint32_t processId, std::optional<std::wstring> user);
    void SetSessionUser(uint32_t sessionId, std::optional<std::wstring> user);
    std::vector<PipeCreation> PipeCreations();

    bool failOpen = false;
    bool failFetch = false;
    DWORD openDelayMs = 0;  // a slow driver
    int opens = 0;
    int closes = 0;

private:
    friend struct FakePlatformAccess;
    std::mutex mutex_;
    std::vector<DriverRequest> requests_;
    std::deque<AccessEvent> events_;
    std::optional<ClientIdentity> identity_;
    std::map<uint32_t, std::optional<std::wstring>> processUsers_, sessionUsers_;
    std::deque<DWORD> creationErrors_;
    std::vector<PipeCreation> creations_;
};

extern const ServicePlatform kFakeServicePlatform;

// Handle value that the fake hands out for an opened device.
inline HANDLE FakeDeviceHandle() { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5150)); }

// A process id that the fake places in the given session.
inline uint32_t ProcessInSession(uint32_t session, uint32_t n = 1) { return (session << 16) | n; }
// A process id that the fake knows no session for.
inline uint32_t NoSuchProcess(uint32_t session = 0) { return (session << 16) | 0xFFFF; }
// The user the fake gives a session's processes and logon by default.
inline std::wstring UserOf(uint32_t session) { return L"S-1-5-21-7-7-7-" + std::to_wstring(1000 + session); }
// A client of the session, by default its user, administrator or not.
inline ClientIdentity ClientOf(uint32_t session, bool administrator = false, std::wstring user = L"") {
    ClientIdentity identity;
    identity.sessionId = session;
    identity.administrator = administrator;
    identity.user = user.empty() ? UserOf(session) : user;
    return identity;
}

}  // namespace quenvar::test
