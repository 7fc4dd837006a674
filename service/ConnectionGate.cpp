#include "service/ConnectionGate.h"

#include <algorithm>

#include "common/MutexLock.h"

namespace quenvar {

ConnectionGate::ConnectionGate(const ConnectionBounds& bounds)
    : bounds_(bounds), lock_(CreateMutexW(nullptr, FALSE, nullptr)) {}

bool ConnectionGate::Admit(HANDLE evict, uint64_t* ticket) {
    MutexLock lock(lock_.get());
    if (!lock.held() || workers_ >= bounds_.workers) return false;
    silent_.push_back({nextTicket_, evict});
    *ticket = nextTicket_++;
    ++workers_;
    while (silent_.size() > bounds_.silent) {
        // The oldest has had the longest to speak; a real client speaks at once.
        SetEvent(silent_.front().evict);
        silent_.pop_front();
    }
    return true;
}

void ConnectionGate::Spoke(uint64_t ticket) {
    MutexLock lock(lock_.get());
    if (!lock.held()) return;
    const auto found = std::find_if(silent_.begin(), silent_.end(),
                                    [ticket](const Silent& entry) { return entry.ticket == ticket; });
    if (found != silent_.end()) silent_.erase(found);
}

void ConnectionGate::Left() {
    MutexLock lock(lock_.get());
    if (lock.held() && workers_ > 0) --workers_;
}

size_t ConnectionGate::silent() const {
    MutexLock lock(lock_.get());
    return silent_.size();
}

size_t ConnectionGate::workers() const {
    MutexLock lock(lock_.get());
    return workers_;
}

}  // namespace quenvar
