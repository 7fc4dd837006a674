#include "ui/DispatchingMutexLock.h"

#include "common/MutexLock.h"

namespace quenvar {

bool WaitDispatchingSentMessages(HANDLE object) {
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(1, &object, FALSE, INFINITE, QS_SENDMESSAGE);
        if (WaitGaveOwnership(result)) return true;
        if (result != WAIT_OBJECT_0 + 1) return false;
        // Peeking runs every pending sent message; posted ones stay queued.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
}

DispatchingMutexLock::DispatchingMutexLock(HANDLE mutex)
    : mutex_(mutex), held_(WaitDispatchingSentMessages(mutex)) {}

DispatchingMutexLock::~DispatchingMutexLock() {
    if (held_) ReleaseMutex(mutex_);
}

}  // namespace quenvar
