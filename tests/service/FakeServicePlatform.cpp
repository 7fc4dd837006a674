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
    opens = 0;
    closes = 0;
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
    static uint32_t Session(uint32_t processId) { return processId >> 16; }
};

const ServicePlatform kFakeServicePlatform = {FakePlatformAccess::Open, FakePlatformAccess::Close,
                                              FakePlatformAccess::Control, FakePlatformAccess::Session};

}  // namespace quenvar::test
