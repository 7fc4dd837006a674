// The program's memory of the user's decisions: one rights cache per process
// seen in an access event, purged of forgotten programs on the next lookup.
// Caches of ended processes go at every lookup, and the table is bounded, so
// no handle or memory is kept for processes that came and went.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "client/ProcessRightsCache.h"
#include "common/MutexLock.h"
#include "common/UniqueResource.h"

namespace quenvar {

class RightsStore {
public:
    RightsStore();
    virtual ~RightsStore() = default;
    RightsStore(const RightsStore&) = delete;
    RightsStore& operator=(const RightsStore&) = delete;

    // The cache of a running process, made afresh when the id is new or its
    // process has ended. Applies the pending forgets first and lets go of the
    // cache of every process that has ended or could not be opened. Null only
    // when the lock could not be taken. The cache stays valid until a later
    // ForProcess finds its process ended or drops it as the least recently
    // used at the bound.
    ProcessRightsCache* ForProcess(uint32_t processId);

    // Queues the path for removal from every cache at the next ForProcess.
    void Forget(const std::wstring& path);

private:
    // The running process's cache, or a fresh one; the caller has applied the
    // queued forgets.
    ProcessRightsCache* CacheOf(uint32_t processId);
    // Removes the caches of ended processes and of processes never opened.
    void LetGoOfEndedProcesses();

public:
    // Guards pendingForgets and processCaches, not the caches' contents.
    UniqueHandle rightsLock;
    std::set<std::wstring> pendingForgets;
    // Whether pendingForgets may hold a path; set and cleared under the lock.
    // Only the service link thread uses processCaches, so while no forget is
    // queued ForProcess has nothing the lock guards against and skips it.
    std::atomic<bool> forgetsQueued{false};
    std::map<uint32_t, std::unique_ptr<ProcessRightsCache>> processCaches;
    // Counts lookups; each cache notes the count of its last one.
    uint64_t lookups = 0;
};

// Processes cached at most; a new one beyond this replaces the least recently
// looked up. Far more than the programs that touch the screen, the keyboard
// or other windows at one time.
constexpr size_t kMaxProcessCaches = 256;

// The program's one store, built with its lock by static initialisation.
RightsStore& TheRightsStore();

}  // namespace quenvar
