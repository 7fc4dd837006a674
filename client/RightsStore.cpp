#include "client/RightsStore.h"

#include "client/RecordSignature.h"

namespace quenvar {

RightsStore::RightsStore() : rightsLock(CreateMutexW(nullptr, FALSE, nullptr)) {}

ProcessRightsCache* RightsStore::ForProcess(uint32_t processId) {
    MutexLock lock(rightsLock.get());
    if (!lock.held()) return nullptr;

    for (const std::wstring& path : pendingForgets) {
        for (auto& entry : processCaches) entry.second->rights.erase(path);
    }
    pendingForgets.clear();

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
    if (lock.held()) pendingForgets.insert(path);
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
