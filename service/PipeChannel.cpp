#include "service/PipeChannel.h"

namespace quenvar {

PipeChannel::PipeChannel(HANDLE pipe) : pipe_(pipe), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

bool PipeChannel::Finish(BOOL started, OVERLAPPED* overlapped, DWORD limitMs, HANDLE abort, DWORD* moved) {
    *moved = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    const HANDLE waits[2] = {overlapped->hEvent, abort};
    if (!started && WaitForMultipleObjects(abort != nullptr ? 2 : 1, waits, FALSE, limitMs) != WAIT_OBJECT_0) {
        CancelIo(pipe_);
        // Wait for the cancelled operation to let go of the buffer and the record.
        GetOverlappedResult(pipe_, overlapped, moved, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe_, overlapped, moved, FALSE) != FALSE;
}

template <typename Start>
bool PipeChannel::Exchange(DWORD size, DWORD limitMs, HANDLE abort, Start start) {
    if (!ready()) return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done_.get();
    DWORD moved = 0;
    return Finish(start(&overlapped), &overlapped, limitMs, abort, &moved) && moved == size;
}

bool PipeChannel::Read(void* buffer, DWORD size, DWORD limitMs, HANDLE abort) {
    return Exchange(size, limitMs, abort,
                    [&](OVERLAPPED* overlapped) { return ReadFile(pipe_, buffer, size, nullptr, overlapped); });
}

bool PipeChannel::Write(const void* buffer, DWORD size, DWORD limitMs) {
    return Exchange(size, limitMs, nullptr,
                    [&](OVERLAPPED* overlapped) { return WriteFile(pipe_, buffer, size, nullptr, overlapped); });
}

bool PipeChannel::AwaitClient() {
    if (!ready()) return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done_.get();
    if (ConnectNamedPipe(pipe_, &overlapped)) return true;
    // ERROR_PIPE_CONNECTED: the client came between create and connect.
    if (GetLastError() == ERROR_PIPE_CONNECTED) return true;
    DWORD moved = 0;
    return Finish(FALSE, &overlapped, INFINITE, nullptr, &moved);
}

bool PipeChannel::ClientHasLeft() {
    if (!ready()) return true;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done_.get();
    if (ConnectNamedPipe(pipe_, &overlapped)) return false;
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) return false;
    if (error == ERROR_IO_PENDING) {
        // Listening again means the connection is over; take the wait back.
        CancelIo(pipe_);
        DWORD moved = 0;
        GetOverlappedResult(pipe_, &overlapped, &moved, TRUE);
    }
    return true;
}

}  // namespace quenvar
