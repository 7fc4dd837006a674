// Exact-size reads and writes on a service pipe instance opened for overlapped
// I/O, each with a time limit. This is the Windows XP way to bound pipe I/O: one
// event per instance, GetOverlappedResult, and CancelIo from the thread that
// started the operation (CancelIoEx does not exist there).
#pragma once

#include <windows.h>

#include "common/UniqueResource.h"

namespace quenvar {

class PipeChannel {
public:
    // Does not own the instance; the caller keeps it open while this is used.
    explicit PipeChannel(HANDLE pipe);

    // False when the instance's event could not be created: nothing can be
    // exchanged then.
    bool ready() const { return done_.valid(); }

    // One ReadFile / WriteFile of exactly `size` bytes, waited for at most
    // limitMs (INFINITE for no limit). An operation that runs out of time, or
    // whose `abort` event (if any) is set first, is cancelled and counts as
    // failed, as does a short one.
    bool Read(void* buffer, DWORD size, DWORD limitMs, HANDLE abort = nullptr);
    bool Write(const void* buffer, DWORD size, DWORD limitMs);

    // Waits without limit until a client connects to this listening instance
    // (one that connected before the call counts too); false when it failed.
    bool AwaitClient();

    // A connected instance whose client has closed its end answers ERROR_NO_DATA
    // to ConnectNamedPipe; anything but "still connected" counts as gone.
    bool ClientHasLeft();

private:
    // Waits for an operation that ReadFile/WriteFile/ConnectNamedPipe started.
    bool Finish(BOOL started, OVERLAPPED* overlapped, DWORD limitMs, HANDLE abort, DWORD* moved);
    // Starts one read or write on this instance's event and finishes it.
    template <typename Start>
    bool Exchange(DWORD size, DWORD limitMs, HANDLE abort, Start start);

    HANDLE pipe_;
    UniqueHandle done_;  // manual reset; the I/O calls reset it when they start
};

}  // namespace quenvar
