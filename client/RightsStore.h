// The program's memory of the user's decisions: one rights cache per process
// seen in an access event, purged of forgotten programs on the next lookup.
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
    // process has ended. Applies the pending forgets first. Null only when the
    // lock could not be taken. The cache stays valid until a later ForProcess
    // finds its process ended.
    ProcessRightsCache* ForProcess(uint32_t processId);

    // Queues the path for removal from every cache at the next ForProcess.
    void Forget(const std::wstring& path);

private:
    // The running process's cache, or a fresh one; the caller has applied the
    // queued forgets.
    ProcessRightsCache* CacheOf(uint32_t processId);

public:
    // Guards pendingForgets and processCaches, not the caches' contents.
    UniqueHandle rightsLock;
    std::set<std::wstring> pendingForgets;
    // Whether pendingForgets may hold a path; set and cleared under the lock.
    // Only the service link thread uses processCaches, so while no forget is
    // queued ForProcess has nothing the lock guards against and skips it.
    std::atomic<bool> forgetsQueued{false};
    std::map<uint32_t, std::unique_ptr<ProcessRightsCache>> processCaches;
};

// The program's one store, built with its lock by static initialisation.
RightsStore& TheRightsStore();

}  // namespace quenvar
