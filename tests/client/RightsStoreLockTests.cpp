// The store's lock is waited for only while a forget is queued: a lookup
// without one touches nothing that another thread changes.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ClientTestSupport.h"
#include "client/RightsStore.h"
#include "common/UniqueResource.h"

using namespace quenvar;

namespace {

// Holds a mutex on another thread, as the access list does while it forgets,
// until Release.
class LockHolder {
public:
    explicit LockHolder(HANDLE mutex)
        : held_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), letGo_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_ = std::thread([this, mutex] {
            WaitForSingleObject(mutex, INFINITE);
            SetEvent(held_.get());
            WaitForSingleObject(letGo_.get(), INFINITE);
            ReleaseMutex(mutex);
        });
        holding = WaitForSingleObject(held_.get(), 5000) == WAIT_OBJECT_0;
    }
    ~LockHolder() { Release(); }
    void Release() {
        SetEvent(letGo_.get());
        if (thread_.joinable()) thread_.join();
    }
    bool holding = false;

private:
    UniqueHandle held_, letGo_;
    std::thread thread_;
};

// The lookup of this process's cache while another thread holds the lock; null
// when it was still waiting after two seconds (the lock is then let go, so
// that the test ends).
ProcessRightsCache* LookupWhileHeld(RightsStore& store, LockHolder& holder) {
    ProcessRightsCache* found = nullptr;
    UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread lookup([&] {
        ProcessRightsCache* cache = store.ForProcess(GetCurrentProcessId());
        found = cache;
        SetEvent(done.get());
    });
    const bool quick = WaitForSingleObject(done.get(), 2000) == WAIT_OBJECT_0;
    holder.Release();
    lookup.join();
    return quick ? found : nullptr;
}

}  // namespace

TEST(RememberedDecisionLock, ALookupWaitsForTheLockOnlyWhileAForgetIsQueued) {
    RightsStore store;
    ProcessRightsCache* own = store.ForProcess(GetCurrentProcessId());
    ASSERT_NE(own, nullptr);
    own->rights[L"C:\\forgotten.exe"];
    own->rights[L"C:\\kept.exe"];
    {
        // Nothing queued: the lookup does not wait and finds the same cache.
        LockHolder other(store.rightsLock.get());
        ASSERT_TRUE(other.holding);
        EXPECT_EQ(LookupWhileHeld(store, other), own);
    }

    store.Forget(L"C:\\forgotten.exe");
    EXPECT_TRUE(store.forgetsQueued.load());
    {
        // Queued: the lookup waits for the lock, then purges.
        LockHolder other(store.rightsLock.get());
        ASSERT_TRUE(other.holding);
        ProcessRightsCache* found = nullptr;
        std::thread lookup([&] { found = store.ForProcess(GetCurrentProcessId()); });
        Sleep(300);
        EXPECT_EQ(found, nullptr);
        EXPECT_EQ(own->rights.count(L"C:\\forgotten.exe"), 1u);  // still waiting
        other.Release();
        lookup.join();
        EXPECT_EQ(found, own);
    }
    EXPECT_EQ(own->rights.count(L"C:\\forgotten.exe"), 0u);
    EXPECT_EQ(own->rights.count(L"C:\\kept.exe"), 1u);
    EXPECT_TRUE(store.pendingForgets.empty());
    EXPECT_FALSE(store.forgetsQueued.load());
    {
        // Purged once: the next lookup goes without the lock again.
        LockHolder other(store.rightsLock.get());
        ASSERT_TRUE(other.holding);
        EXPECT_EQ(LookupWhileHeld(store, other), own);
    }
}

TEST(RememberedDecisionLock, AnEndedProcessIsStillFoundEndedWithoutTheLock) {
    // A child that ends while its cache is kept: the lookup without the lock
    // still tests the process and makes a fresh cache for a reused id.
    quenvar::testing::ChildProcess child;
    ASSERT_TRUE(child.started);
    RightsStore store;
    ProcessRightsCache* first = store.ForProcess(child.id());
    ASSERT_NE(first, nullptr);
    first->rights[L"C:\\old.exe"];
    EXPECT_EQ(store.ForProcess(child.id()), first);
    child.End();
    ProcessRightsCache* fresh = store.ForProcess(child.id());
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->rights.empty());
    EXPECT_EQ(store.processCaches.size(), 1u);
}
