#include "service/ConnectionGate.h"

#include <algorithm>
#include <new>
#include <utility>

#include "common/MutexLock.h"

namespace quenvar {

ConnectionGate::ConnectionGate(const ConnectionBounds& bounds)
    : bounds_(bounds), lock_(CreateMutexW(nullptr, FALSE, nullptr)) {}

void ConnectionGate::SweepEnded() {
    const auto ended = std::remove_if(threads_.begin(), threads_.end(), [](const UniqueHandle& thread) {
        return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
    });
    workers_ -= std::min<size_t>(workers_, static_cast<size_t>(threads_.end() - ended));
    threads_.erase(ended, threads_.end());
}

bool ConnectionGate::Admit(HANDLE evict, uint64_t* ticket) {
    MutexLock lock(lock_.get());
    if (!lock.held()) return false;
    SweepEnded();
    if (workers_ >= bounds_.workers) return false;
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

void ConnectionGate::Started(UniqueHandle thread) {
    MutexLock lock(lock_.get());
    if (!lock.held()) return;
    try {
        threads_.push_back(std::move(thread));
    } catch (const std::bad_alloc&) {
        // Its end could not be seen: count it as ended rather than lose the slot.
        if (workers_ > 0) --workers_;
    }
}

void ConnectionGate::Left() {
    MutexLock lock(lock_.get());
    if (lock.held() && workers_ > 0) --workers_;
}

void ConnectionGate::Sweep() {
    MutexLock lock(lock_.get());
    if (lock.held()) SweepEnded();
}

size_t ConnectionGate::silent() const {
    MutexLock lock(lock_.get());
    return silent_.size();
}

size_t ConnectionGate::workers() {
    MutexLock lock(lock_.get());
    if (lock.held()) SweepEnded();
    return workers_;
}

}  // namespace quenvar
