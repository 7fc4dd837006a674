// Holds a Win32 mutex for one scope and says whether it got it.
#pragma once

#include <windows.h>

namespace quenvar {

// Ownership taken from a mutex wait: a normal wake-up, or an abandoned mutex
// (its owner ended while holding it, which still hands over ownership).
inline bool WaitGaveOwnership(DWORD waitResult, DWORD objectIndex = 0) {
    return waitResult == WAIT_OBJECT_0 + objectIndex || waitResult == WAIT_ABANDONED_0 + objectIndex;
}

// Waits without time-out. A wait that fails (a null or closed handle) leaves
// the lock not held: callers check held() before touching what it guards, and
// nothing is released at scope exit.
class MutexLock {
public:
    explicit MutexLock(HANDLE mutex) : mutex_(mutex), held_(WaitGaveOwnership(WaitForSingleObject(mutex, INFINITE))) {}
    ~MutexLock() {
        if (held_) ReleaseMutex(mutex_);
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    bool held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_;
};

}  // namespace quenvar
