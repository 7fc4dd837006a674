#include "FakeServicePlatform.h"

#include <cstring>

#include "ServiceTestSupport.h"

namespace quenvar::test {

FakeDriver& FakeDriver::Get() {
    static FakeDriver driver;
    return driver;
}

void FakeDriver::Reset() {
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.clear();
    events_.clear();
    failOpen = false;
    failFetch = false;
    openDelayMs = 0;
    opens = 0;
    closes = 0;
    identity_ = ClientOf(1, true);
    creationErrors_.clear();
    creations_.clear();
    processUsers_.clear();
    sessionUsers_.clear();
}

void FakeDriver::SetProcessUser(uint32_t processId, std::optional<std::wstring> user) {
    std::lock_guard<std::mutex> hold(mutex_);
    processUsers_[processId] = user;
}

void FakeDriver::SetSessionUser(uint32_t sessionId, std::optional<std::wstring> user) {
    std::lock_guard<std::mutex> hold(mutex_);
    sessionUsers_[sessionId] = user;
}

namespace {
thread_local std::optional<std::optional<ClientIdentity>> threadIdentity;
}  // namespace

void FakeDriver::SetClientIdentity(std::optional<ClientIdentity> identity) {
    std::lock_guard<std::mutex> hold(mutex_);
    identity_ = identity;
}

void FakeDriver::SetThreadClientIdentity(std::optional<ClientIdentity> identity) { threadIdentity = identity; }

void FakeDriver::FailPipeCreations(std::vector<DWORD> errors) {
    std::lock_guard<std::mutex> hold(mutex_);
    creationErrors_.assign(errors.begin(), errors.end());
}

std::vector<PipeCreation> FakeDriver::PipeCreations() {
    std::lock_guard<std::mutex> hold(mutex_);
    return creations_;
}

std::vector<DriverRequest> FakeDriver::Requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
}

std::vector<AccessReply> FakeDriver::Replies() {
    std::vector<AccessReply> replies;
    for (const DriverRequest& r : Requests()) {
        if (r.code != IOCTL_REPLY || r.input.size() != sizeof(AccessReply)) continue;
        AccessReply reply;
        std::memcpy(&reply, r.input.data(), sizeof(reply));
        replies.push_back(reply);
    }
    return replies;
}

size_t FakeDriver::CountOf(DWORD code) {
    size_t n = 0;
    for (const DriverRequest& r : Requests()) n += r.code == code;
    return n;
}

bool FakeDriver::WaitForReplies(size_t count, DWORD timeoutMs) {
    return WaitUntil([&] { return Replies().size() >= count; }, timeoutMs);
}

void FakeDriver::QueueEvent(const AccessEvent& event) {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.push_back(event);
}

struct FakePlatformAccess {
    static bool Open(HANDLE* device) {
        FakeDriver& d = FakeDriver::Get();
        Sleep(d.openDelayMs);
        std::lock_guard<std::mutex> hold(d.mutex_);
        if (d.failOpen) return false;
        ++d.opens;
        *device = FakeDeviceHandle();
        return true;
    }
    static void Close(HANDLE) {
        FakeDriver& d = FakeDriver::Get();
        std::lock_guard<std::mutex> hold(d.mutex_);
        ++d.closes;
    }
    static BOOL Control(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                        DWORD* returned) {
        FakeDriver& d = FakeDriver::Get();
        std::lock_guard<std::mutex> hold(d.mutex_);
        const auto* bytes = static_cast<const uint8_t*>(in);
        d.requests_.push_back({device, code, std::vector<uint8_t>(bytes, bytes + (in ? inSize : 0))});
        *returned = 0;
        if (code == IOCTL_GET_EVENT) {
            if (d.failFetch || d.events_.empty() || outSize < sizeof(AccessEvent)) return FALSE;
            std::memcpy(out, &d.events_.front(), sizeof(AccessEvent));
            d.events_.pop_front();
            *returned = sizeof(AccessEvent);
        }
        return TRUE;
    }
    static bool Session(uint32_t processId, uint32_t* sessionId) {
        if ((processId & 0xFFFF) == 0xFFFF) return false;
        *sessionId = processId >> 16;
        return true;
    }
    static bool Identify(HANDLE, ClientIdentity* identity) {
        std::optional<ClientIdentity> chosen;
        if (threadIdentity) {
            chosen = *threadIdentity;
        } else {
            FakeDriver& d = FakeDriver::Get();
            std::lock_guard<std::mutex> hold(d.mutex_);
            chosen = d.identity_;
        }
        if (chosen) *identity = *chosen;
        return chosen.has_value();
    }
    // A chosen user, else the default; none: unreadable.
    static bool UserIn(const std::map<uint32_t, std::optional<std::wstring>>& chosen, uint32_t key,
                       uint32_t session, std::wstring* user) {
        FakeDriver& d = FakeDriver::Get();
        std::lock_guard<std::mutex> hold(d.mutex_);
        const auto found = chosen.find(key);
        const std::optional<std::wstring> which = found != chosen.end() ? found->second : UserOf(session);
        if (which) *user = *which;
        return which.has_value();
    }
    static bool ProcessUser(uint32_t processId, std::wstring* user) {
        uint32_t session = 0;
        return Session(processId, &session) && UserIn(FakeDriver::Get().processUsers_, processId, session, user);
    }
    static bool SessionUser(uint32_t sessionId, std::wstring* user) {
        return UserIn(FakeDriver::Get().sessionUsers_, sessionId, sessionId, user);
    }
    static HANDLE WINAPI CreatePipe(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances, DWORD outBuffer,
                                    DWORD inBuffer, DWORD timeout, LPSECURITY_ATTRIBUTES security) {
        FakeDriver& d = FakeDriver::Get();
        DWORD error = 0;
        {
            std::lock_guard<std::mutex> hold(d.mutex_);
            if (!d.creationErrors_.empty()) {
                error = d.creationErrors_.front();
                d.creationErrors_.pop_front();
            }
            d.creations_.push_back({openMode, GetTickCount(), error == 0});
        }
        if (error != 0) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        return CreateNamedPipeW(name, openMode, pipeMode, maxInstances, outBuffer, inBuffer, timeout, security);
    }
};

const ServicePlatform kFakeServicePlatform = {FakePlatformAccess::Open,        FakePlatformAccess::Close,
                                              FakePlatformAccess::Control,     FakePlatformAccess::Session,
                                              FakePlatformAccess::Identify,    FakePlatformAccess::CreatePipe,
                                              FakePlatformAccess::ProcessUser, FakePlatformAccess::SessionUser};

}  // namespace quenvar::test
