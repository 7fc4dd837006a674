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
    LetGoOfEndedProcesses();
    const auto found = processCaches.find(processId);
    if (found != processCaches.end()) {
        found->second->lastLookup = ++lookups;
        return found->second.get();
    }

    // A new id, or one whose process has ended and may belong to another one
    // now: its records are loaded again.
    if (processCaches.size() >= kMaxProcessCaches) {
        auto leastRecent = processCaches.begin();
        for (auto entry = processCaches.begin(); entry != processCaches.end(); ++entry) {
            if (entry->second->lastLookup < leastRecent->second->lastLookup) leastRecent = entry;
        }
        processCaches.erase(leastRecent);
    }
    // Before the first fingerprint of the run.
    DeriveMachineKey();
    auto cache = std::make_unique<ProcessRightsCache>(processId);
    cache->lastLookup = ++lookups;
    ProcessRightsCache* created = cache.get();
    processCaches.emplace(processId, std::move(cache));
    return created;
}

void RightsStore::LetGoOfEndedProcesses() {
    // One wait asks about up to 64 processes, so a lookup with fewer cached
    // costs one call, as asking about its own process alone would.
    auto next = processCaches.begin();
    while (next != processCaches.end()) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        decltype(next) entries[MAXIMUM_WAIT_OBJECTS];
        DWORD count = 0;
        while (next != processCaches.end() && count < MAXIMUM_WAIT_OBJECTS) {
            // A process that could not be opened is loaded afresh each time.
            if (!next->second->processHandle.valid()) {
                next = processCaches.erase(next);
                continue;
            }
            handles[count] = next->second->processHandle.get();
            entries[count++] = next++;
        }
        while (count > 0) {
            const DWORD result = WaitForMultipleObjects(count, handles, FALSE, 0);
            if (result == WAIT_TIMEOUT) break;
            const DWORD ended = result - WAIT_OBJECT_0;
            if (ended >= count) {
                // The wait failed: each is asked alone.
                for (DWORD i = 0; i < count; ++i) {
                    if (WaitForSingleObject(handles[i], 0) != WAIT_TIMEOUT) processCaches.erase(entries[i]);
                }
                break;
            }
            processCaches.erase(entries[ended]);
            --count;
            handles[ended] = handles[count];
            entries[ended] = entries[count];
        }
    }
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
