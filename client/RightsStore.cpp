#include "client/RightsStore.h"

#include "client/RecordSignature.h"

namespace quenvar {

RightsStore::RightsStore() : rightsLock(CreateMutexW(nullptr, FALSE, nullptr)) {}

ProcessRightsCache* RightsStore::ForProcess(uint32_t processId) {
    // A forget queued after this check is applied at the next lookup, as if it
    // had come just after this one. A store without its lock never gets here
    // unlocked: it hands out nothing.
    if (!forgetsQueued.load(std::memory_order_acquire) && rightsLock.valid()) return CacheOf(processId);

    MutexLock lock(rightsLock.get());
    if (!lock.held()) return nullptr;

    for (const std::wstring& path : pendingForgets) {
        for (auto& entry : processCaches) entry.second->rights.erase(path);
    }
    pendingForgets.clear();
    forgetsQueued.store(false, std::memory_order_release);
    return CacheOf(processId);
}

ProcessRightsCache* RightsStore::CacheOf(uint32_t processId) {
    const auto found = processCaches.find(processId);
    if (found != processCaches.end()) {
        if (WaitForSingleObject(found->second->processHandle.get(), 0) == WAIT_TIMEOUT) {
            return found->second.get();
        }
        // The process has ended and its id may belong to another one now, or
        // it could not be opened: its records are loaded again.
        processCaches.erase(found);
    }

    // Before the first fingerprint of the run.
    DeriveMachineKey();
    auto cache = std::make_unique<ProcessRightsCache>(processId);
    ProcessRightsCache* created = cache.get();
    processCaches.emplace(processId, std::move(cache));
    return created;
}

void RightsStore::Forget(const std::wstring& path) {
    MutexLock lock(rightsLock.get());
    if (!lock.held()) return;
    pendingForgets.insert(path);
    forgetsQueued.store(true, std::memory_order_release);
}

RightsStore& TheRightsStore() {
    static RightsStore store;
    return store;
}

namespace {
// Build the store and its lock before the entry point runs.
const RightsStore& kBuiltAtStart = TheRightsStore();
}  // namespace

}  // namespace quenvar
