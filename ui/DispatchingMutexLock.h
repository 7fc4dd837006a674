// Holds a Win32 mutex for one scope, like MutexLock, but keeps dispatching the
// messages that other threads send to the waiting thread's windows. A thread
// that owns windows can then wait for a lock whose holder is blocked in
// SendMessageW to one of those windows, instead of both waiting for ever.
#pragma once

#include <windows.h>

namespace quenvar {

// Waits without time-out for `object`; sent (not posted) messages are
// dispatched meanwhile. Returns false only if the wait itself failed.
bool WaitDispatchingSentMessages(HANDLE object);

class DispatchingMutexLock {
public:
    explicit DispatchingMutexLock(HANDLE mutex);
    ~DispatchingMutexLock();
    DispatchingMutexLock(const DispatchingMutexLock&) = delete;
    DispatchingMutexLock& operator=(const DispatchingMutexLock&) = delete;

    // False when the wait failed: the caller must not touch what the mutex guards.
    bool held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_;
};

}  // namespace quenvar
