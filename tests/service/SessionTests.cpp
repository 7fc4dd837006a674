#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "ServiceTestSupport.h"
#include "service/ConnectionGate.h"
#include "service/Session.h"
#include "service/SessionTable.h"
#include "support/StandInDriverClient.h"

using namespace quenvar;
using quenvar::test::Put;
using standin::MakeEvent;

namespace {

AccessEvent Event(uint32_t id) { return MakeEvent(id, kKeyboardHook, 7, L"\\Device\\X\\a.exe", L"\\Device\\X\\a.exe"); }

DWORD WINAPI WaitForEvent(LPVOID event) { return WaitForSingleObject(event, INFINITE); }

DWORD MillisecondsWaited(Session& session, DWORD limit) {
    return quenvar::test::MillisecondsOf([&] { session.WaitForEvents(limit); });
}

}  // namespace

TEST(SessionTable, SessionEntersItselfAndLeavesWhenDestroyed) {
    SessionTable table;
    EXPECT_EQ(table.Find(3), nullptr);
    auto session = std::make_unique<Session>(table, 3);
    EXPECT_EQ(table.Find(3), session.get());
    EXPECT_EQ(table.FindOrCreate(3), session.get());
    session.reset();
    EXPECT_EQ(table.Find(3), nullptr);
}

TEST(SessionTable, FindOrCreateMakesOneSessionPerId) {
    SessionTable table;
    std::unique_ptr<Session> a(table.FindOrCreate(1));
    std::unique_ptr<Session> b(table.FindOrCreate(2));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->id(), 1u);
    EXPECT_EQ(table.FindOrCreate(1), a.get());
}

TEST(SessionTable, ConcurrentFindOrCreateOfOneIdYieldsOneSession) {
    SessionTable table;
    std::vector<Session*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            for (int k = 0; k < 200; ++k) seen[i] = table.FindOrCreate(42);
        });
    for (auto& t : threads) t.join();
    for (Session* s : seen) EXPECT_EQ(s, seen[0]);
    std::unique_ptr<Session> made(seen[0]);
}

TEST(SessionQueue, KeepsEventsInOrderAndPeekLeavesThemQueued) {
    SessionTable table;
    Session session(table, 0);
    AccessEvent out = {};
    EXPECT_FALSE(session.PeekFront(&out));
    for (uint32_t id = 1; id <= 3; ++id) Put(session, Event(id));
    ASSERT_TRUE(session.PeekFront(&out));
    EXPECT_EQ(out.eventId, 1u);
    ASSERT_TRUE(session.PeekFront(&out));
    EXPECT_EQ(out.eventId, 1u);
    EXPECT_EQ(session.QueuedEvents(), 3u);
    session.PopFront(1);
    ASSERT_TRUE(session.PeekFront(&out));
    EXPECT_EQ(out.eventId, 2u);
    const AccessEvent second = Event(2);
    EXPECT_EQ(std::memcmp(&out, &second, sizeof(out)), 0);
    session.PopFront(3);  // not the front: stays
    EXPECT_EQ(session.QueuedEvents(), 2u);
    session.PopFront(2);
    session.PopFront(3);
    session.PopFront(3);  // popping an empty queue is harmless
    EXPECT_FALSE(session.PeekFront(&out));
}

TEST(SessionQueue, EventsAvailableStaysSetUntilTheQueueEmpties) {
    SessionTable table;
    Session session(table, 0);
    EXPECT_GE(MillisecondsWaited(session, 100), 90u);
    Put(session, Event(1));
    Put(session, Event(2));
    EXPECT_LT(MillisecondsWaited(session, 2000), 1000u);
    session.PopFront(1);
    EXPECT_LT(MillisecondsWaited(session, 2000), 1000u);  // one left
    session.PopFront(2);
    EXPECT_GE(MillisecondsWaited(session, 100), 90u);
}

TEST(SessionWorkers, AttachAdmitsOneWorkerAndDetachRemembersIt) {
    SessionTable table;
    Session session(table, 0);
    EXPECT_EQ(session.AttachedWorker(), 0u);
    EXPECT_TRUE(session.Attach(11));
    EXPECT_FALSE(session.Attach(12));
    EXPECT_EQ(session.AttachedWorker(), 11u);
    session.Detach(11);
    EXPECT_EQ(session.AttachedWorker(), 0u);
    EXPECT_EQ(session.LastWorker(), 11u);
    session.Detach(11);  // nothing attached: the last worker is kept
    EXPECT_EQ(session.LastWorker(), 11u);
    EXPECT_TRUE(session.Attach(12));
}

TEST(SessionWorkers, DetachEndsOnlyTheCallersOwnAttachment) {
    SessionTable table;
    Session session(table, 0);
    ASSERT_TRUE(session.Attach(21));
    for (uint32_t other : {22u, 0u}) {  // a refused worker, a thread that never attached
        session.Detach(other);
        EXPECT_EQ(session.AttachedWorker(), 21u) << other;
        EXPECT_EQ(session.LastWorker(), 0u);
    }
    session.Detach(21);
    EXPECT_EQ(session.AttachedWorker(), 0u);
    EXPECT_EQ(session.LastWorker(), 21u);
}

TEST(SessionQueue, AFullQueueDropsItsOldestAndHandsItBackUnlessAlreadyDenied) {
    SessionTable table;
    Session session(table, 0, 3);
    std::optional<AccessEvent> dropped;
    // Events 1 and 3 were denied at once (screen access without a client).
    for (uint32_t id = 1; id <= 3; ++id) {
        ASSERT_TRUE(session.Enqueue(Event(id), id != 2, &dropped));
        EXPECT_FALSE(dropped.has_value());
    }
    struct Step {
        uint32_t arriving;
        std::optional<uint32_t> mustDeny;  // the dropped event the caller must answer
    } steps[] = {{4, std::nullopt}, {5, 2u}, {6, std::nullopt}, {7, 4u}};
    uint32_t drops = 0;
    for (const Step& step : steps) {
        ASSERT_TRUE(session.Enqueue(Event(step.arriving), false, &dropped));
        EXPECT_EQ(dropped.has_value(), step.mustDeny.has_value()) << step.arriving;
        if (dropped && step.mustDeny) {
            EXPECT_EQ(dropped->eventId, *step.mustDeny);
        }
        EXPECT_EQ(session.QueuedEvents(), 3u);
        EXPECT_EQ(session.DroppedEvents(), ++drops);
    }
    // The newest three remain, in order.
    for (uint32_t id : {5u, 6u, 7u}) {
        AccessEvent front;
        ASSERT_TRUE(session.PeekFront(&front));
        EXPECT_EQ(front.eventId, id);
        session.PopFront(id);
    }
}

TEST(SessionWorkers, SimultaneousAttachesServeExactlyOne) {
    for (int round = 0; round < 50; ++round) {
        SessionTable table;
        Session session(table, 0);
        std::atomic<int> admitted{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (uint32_t i = 1; i <= 4; ++i)
            threads.emplace_back([&, i] {
                while (!go) {
                }
                if (session.Attach(i)) ++admitted;
            });
        go = true;
        for (auto& t : threads) t.join();
        ASSERT_EQ(admitted.load(), 1);
    }
}

TEST(ConnectionGate, PastTheSilentBoundTheOldestSilentConnectionIsEvictedAndPastTheWorkerBoundNoneIsAdmitted) {
    ConnectionBounds bounds{3, 5};
    ConnectionGate gate(bounds);
    std::vector<UniqueHandle> evict;
    std::vector<uint64_t> tickets;
    const auto admit = [&] {
        evict.emplace_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        uint64_t ticket = 0;
        const bool admitted = gate.Admit(evict.back().get(), &ticket);
        tickets.push_back(ticket);
        return admitted;
    };
    const auto evicted = [&] {
        std::vector<bool> set;
        for (const UniqueHandle& event : evict) set.push_back(WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0);
        return set;
    };
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(admit());
    EXPECT_EQ(evicted(), (std::vector<bool>{false, false, false}));
    gate.Spoke(tickets[0]);  // the oldest speaks: it is no longer silent
    ASSERT_TRUE(admit());
    ASSERT_TRUE(admit());  // four silent: the oldest silent one, the second, goes
    EXPECT_EQ(evicted(), (std::vector<bool>{false, true, false, false, false}));
    EXPECT_EQ(gate.silent(), 3u);
    EXPECT_EQ(gate.workers(), 5u);
    EXPECT_FALSE(admit());  // every worker slot is taken
    gate.Left();
    bounds.silent = 1;  // read at each admission
    EXPECT_TRUE(admit());
    EXPECT_EQ(evicted(), (std::vector<bool>{false, true, true, true, true, false, false}));
    EXPECT_EQ(gate.silent(), 1u);

    // A started worker frees its slot when its thread has ended, not before.
    UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE thread = CreateThread(nullptr, 0, WaitForEvent, release.get(), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    HANDLE watch = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &watch, SYNCHRONIZE, FALSE, 0));
    const UniqueHandle ended(watch);
    gate.Started(UniqueHandle(thread));
    EXPECT_FALSE(admit());
    SetEvent(release.get());
    ASSERT_EQ(WaitForSingleObject(ended.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(gate.workers(), 4u);
    EXPECT_TRUE(admit());
}
