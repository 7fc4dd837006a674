// A client of the service's pipe for tests and benchmarks: exact-size messages,
// as the user-interface program exchanges them.
#pragma once

#include <windows.h>

#include <optional>

#include "common/DriverInterface.h"
#include "common/UniqueResource.h"

namespace quenvar::standin {

// The client end of "\\.\pipe\QuenvarUIPipe", with exact-size messages.
class ServiceClient {
public:
    // Connects to the service's pipe, or to another pipe of the same protocol.
    explicit ServiceClient(const wchar_t* pipeName = nullptr);
    bool connected() const { return pipe_.valid(); }
    bool Write(const void* data, DWORD size);
    bool WriteU32(uint32_t value) { return Write(&value, sizeof(value)); }
    bool WriteReply(uint32_t eventId, uint32_t allow) {
        const AccessReply reply{eventId, allow};
        return Write(&reply, sizeof(reply));
    }
    std::optional<uint32_t> ReadU32();
    std::optional<AccessEvent> ReadEvent();
    // Connects and exchanges the hello; returns the status.
    std::optional<uint32_t> Hello();
    void Close() { pipe_.reset(); }
    // True while the other end keeps the connection open; reads nothing.
    bool StillOpen() const {
        DWORD available = 0;
        return PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &available, nullptr) != FALSE;
    }

private:
    bool Read(void* data, DWORD size);
    UniqueHandle pipe_;
};

}  // namespace quenvar::standin
